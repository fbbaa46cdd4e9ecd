#include "commandtarget.h"

#include "instrumenthost.h"

CommandTarget::CommandTarget(InstrumentHost &host, QString name, ErrorText errorText)
    : Session(host, Interface::Sweep, std::move(name))
    , m_errorText(std::move(errorText))
{ }

bool CommandTarget::sendWord(std::int32_t word)
{
    run("DAC:WORD " + std::to_string(word));
    return m_failure.isEmpty();
}

bool CommandTarget::selectReadback(int channel)
{
    m_channel = channel;
    return true;
}

std::optional<std::int32_t> CommandTarget::readAdc()
{
    const QByteArray answer = run("MEAS" + std::to_string(m_channel + 1) + ":CODE?");
    bool number = false;
    const int code = answer.trimmed().toInt(&number);
    if (m_failure.isEmpty() && !number)
        m_failure = QStringLiteral("the readback answered \"%1\"")
                            .arg(QString::fromLatin1(answer.trimmed().left(40)));
    return m_failure.isEmpty() ? std::optional<std::int32_t>(code) : std::nullopt;
}

QByteArray CommandTarget::run(const std::string &message)
{
    // Only while it holds the lock: nothing of its own may run once another client has.
    if (!m_host.mayRun(*this)) {
        if (m_failure.isEmpty())
            m_failure = QStringLiteral("another client holds the instrument locked");
        return {};
    }
    const QByteArray answers = m_host.execute(message, *this);
    while (status.errorCount() > 0) {
        const QByteArray error = status.nextError();
        if (m_failure.isEmpty())
            m_failure = m_errorText(error);
    }
    status.takeEvents();
    return answers;
}
