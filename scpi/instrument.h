// The board as an SCPI instrument, without any network: program messages in, response lines
// out, errors and events into the status model of the client that sent them. The settings
// (reference, Vdd, the codes written, the pins) are the instrument's, shared by every client.
#pragma once

#include "channelcalibration.h"
#include "scpistatus.h"

#include <QByteArray>
#include <QDate>

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

namespace Scpi {

struct Unit;
struct CommandRow;

// What became of a board request: done (0), Error::hardware with the request and its status in
// the detail, or Error::hardwareMissing when the board has gone.
struct BoardOutcome
{
    int error = 0;
    QByteArray detail;
};

// The board as the instrument uses it.
class BoardAccess
{
public:
    virtual ~BoardAccess() = default;

    virtual BoardOutcome sendWord(std::int32_t word) = 0;
    // Readback input 0 to 7 through the multiplexer and the ADC.
    virtual BoardOutcome readChannel(int channel, std::int32_t &code) = 0;
    // The ADC alone, on whatever input is selected.
    virtual BoardOutcome readAdc(std::int32_t &code) = 0;
    virtual BoardOutcome setClrPin(bool high) = 0;
    virtual BoardOutcome setLdacPin(bool high) = 0;

protected:
    BoardAccess() = default;
    BoardAccess(const BoardAccess &) = default;
    BoardAccess &operator=(const BoardAccess &) = default;
};

// The board's calibrations as the instrument applies them: the record in force for each
// channel, and whether they are applied (CALibration:STATe), kept where it outlasts a restart.
class Calibrations
{
public:
    struct Entry
    {
        Calibration::Channel fit;
        QDate date; // UTC
        QDate due;
        QByteArray record; // the record as JSON, for CALibration:DATA?
    };

    virtual ~Calibrations() = default;

    // The calibration in force for channel 0..3, nullptr for none.
    virtual const Entry *entry(int channel) const = 0;
    virtual bool applied() const = 0;
    // Applies them or not from now on, and remembers it; 0, or an error number with `detail`.
    virtual int apply(bool on, QByteArray &detail) = 0;
    // Today, for due dates.
    virtual QDate today() const = 0;

protected:
    Calibrations() = default;
    Calibrations(const Calibrations &) = default;
    Calibrations &operator=(const Calibrations &) = default;
};

class Instrument final
{
public:
    // `identity`: the *IDN? answer.
    Instrument(BoardAccess &board, QByteArray identity);

    // One program message (a line without its terminator). Returns the answers to its queries
    // as one line ending in LF, or nothing when it held no query that answered.
    QByteArray execute(std::string_view message, StatusModel &status);

    // The board was brought up again, so its DAC is at zero and its pins high; counted for
    // SYSTem:BOARd:RESTarts?.
    void boardRestarted();

    double reference() const { return m_reference; }
    double vdd() const { return m_vdd; }
    // The *IDN? answer from now on.
    void setIdentity(QByteArray identity) { m_identity = std::move(identity); }
    // Where its calibrations are; none: CALibration answers that there are none.
    void setCalibrations(Calibrations *calibrations) { m_calibrations = calibrations; }
    const Calibrations *calibrations() const { return m_calibrations; }
    // *CAL?: starts a calibration whose answer comes later; 0 when started, or an error number
    // with `detail`.
    void setCalibrator(std::function<int(QByteArray &detail)> calibrator)
    {
        m_calibrator = std::move(calibrator);
    }
    // Whether the last execute() left a query's answer to come later (*CAL?): taken once.
    bool takeDeferred() { return std::exchange(m_deferred, false); }
    // The calibration applied to a channel's settings now; nullptr when none.
    const Calibrations::Entry *appliedTo(int channel) const;

private:
    // Runs one unit whose row is known; returns 0 or an error number (detail in m_detail).
    int run(const Unit &unit, const CommandRow &row, int suffix, StatusModel &status,
            QByteArray &answers);
    int setting(const Unit &unit, const CommandRow &row, int suffix, StatusModel &status);
    int query(const Unit &unit, const CommandRow &row, int suffix, StatusModel &status,
              QByteArray &answer);
    int board(const BoardOutcome &outcome);

    int calibrationQuery(const CommandRow &row, int channel, QByteArray &answer);

    BoardAccess &m_board;
    QByteArray m_identity;
    Calibrations *m_calibrations = nullptr;
    std::function<int(QByteArray &)> m_calibrator;
    bool m_deferred = false;
    double m_reference = 5;
    double m_vdd = 5;
    std::array<std::int32_t, 4> m_codes {};
    bool m_clrHigh = true;
    bool m_ldacHigh = true;
    qint64 m_restarts = 0;
    QByteArray m_detail;
};

} // namespace Scpi
