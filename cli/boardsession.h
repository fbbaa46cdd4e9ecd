#pragma once

#include "clicommand.h"
#include "sessiondevice.h"

#include <QTextStream>

#include <chrono>
#include <optional>

// The commands run on a board that is up (through the window's device requests, or a server's).
// One session is one run: a batch prints one CSV header and counts time_s from its first sample.
class BoardSession final
{
public:
    enum class Outcome { Done, RequestFailed, Interrupted, OutputFailed };

    // Each line written to out is flushed at once, so that a reader sees samples as they come.
    // With utcColumn every CSV row has time_utc, whichever read asked for it.
    BoardSession(SessionDevice &device, QTextStream &out, bool utcColumn);

    // Stops at the first failed request, at Ctrl-C, or when out cannot take a line, with what
    // was printed so far kept.
    Outcome run(const BoardStep &step);

    // What made run() answer RequestFailed.
    const std::optional<SessionFailure> &failure() const { return m_device.failure(); }

private:
    Outcome sendWord(const SendWord &send);
    Outcome readSamples(const ReadSamples &read);
    Outcome drivePins(const DrivePins &pins);
    // False when the line could not be written.
    bool print(const QString &line);

    SessionDevice &m_device;
    QTextStream &m_out;
    bool m_utcColumn;
    bool m_headerPrinted = false;
    std::optional<std::chrono::steady_clock::time_point> m_firstSample;
};
