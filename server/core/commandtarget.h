#pragma once

#include "session.h"
#include "sweeprunner.h"

#include <QString>

#include <functional>
#include <string>

// The board as the server's own long operations drive it (a sweep from the panel, *CAL?): a
// session of its own, each request a program message of the command table every client uses,
// so that what it writes is what the SOURce queries give; it runs only while it may (it holds
// the lock), and keeps the first error.
class CommandTarget final : public Session, public Sweep::Target
{
public:
    // How an error from the queue reads as the failure.
    using ErrorText = std::function<QString(const QByteArray &error)>;
    CommandTarget(InstrumentHost &host, QString name, ErrorText errorText);

    bool sendWord(std::int32_t word) override;
    bool selectReadback(int channel) override;
    std::optional<std::int32_t> readAdc() override;
    QString failure() const override { return m_failure; }

    // A program message as this session: its answers.
    QByteArray run(const std::string &message);

private:
    ErrorText m_errorText;
    int m_channel = 0;
    QString m_failure;
};
