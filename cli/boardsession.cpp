#include "boardsession.h"

#include "interruption.h"
#include "readbackchannels.h"

#include <QDateTime>

#include <cmath>

namespace {

QString voltsText(double volts)
{
    // No "-0.00000" for a reading that is zero at five decimals.
    return QString::number(std::fabs(volts) < 0.000005 ? 0.0 : volts, 'f', 5);
}

QString levelText(bool high)
{
    return high ? QStringLiteral("HI") : QStringLiteral("LOW");
}

} // namespace

BoardSession::BoardSession(SessionDevice &device, QTextStream &out, bool utcColumn)
    : m_device(device)
    , m_out(out)
    , m_utcColumn(utcColumn)
{ }

bool BoardSession::print(const QString &line)
{
    m_out << line << '\n';
    m_out.flush();
    return m_out.status() == QTextStream::Ok;
}

BoardSession::Outcome BoardSession::run(const BoardStep &step)
{
    if (failure())
        return Outcome::RequestFailed;
    if (isInterrupted())
        return Outcome::Interrupted;
    if (const auto *send = std::get_if<SendWord>(&step))
        return sendWord(*send);
    if (const auto *read = std::get_if<ReadSamples>(&step))
        return readSamples(*read);
    return drivePins(std::get<DrivePins>(step));
}

BoardSession::Outcome BoardSession::sendWord(const SendWord &send)
{
    m_device.sendWord(send.word);
    if (failure())
        return Outcome::RequestFailed;
    return print(QStringLiteral("0x")
                 + QStringLiteral("%1").arg(quint32(send.word), 8, 16, QLatin1Char('0')).toUpper())
            ? Outcome::Done
            : Outcome::OutputFailed;
}

// Sample k falls due k intervals after the first, whatever the requests cost: no drift. A
// sample reads each channel in turn; its rows share its time.
BoardSession::Outcome BoardSession::readSamples(const ReadSamples &read)
{
    using Clock = std::chrono::steady_clock;
    if (read.csv && !m_headerPrinted) {
        if (!print(m_utcColumn ? QStringLiteral("time_s,time_utc,channel,code,volts")
                               : QStringLiteral("time_s,channel,code,volts")))
            return Outcome::OutputFailed;
        m_headerPrinted = true;
    }
    const std::chrono::milliseconds interval(read.intervalMs);
    Clock::time_point first {};
    int selected = -1; // one channel alone is selected once
    // 64 bits: a log of one sample a millisecond runs for years.
    for (std::int64_t sample = 0; read.count == 0 || sample < read.count; ++sample) {
        if (sample > 0 && !sleepUntil(first + sample * interval))
            return Outcome::Interrupted;
        const Clock::time_point taken = Clock::now();
        const QDateTime wallClock = QDateTime::currentDateTimeUtc();
        if (sample == 0)
            first = taken;
        QString time;
        if (read.csv) {
            if (!m_firstSample)
                m_firstSample = taken;
            const std::chrono::duration<double> since = taken - *m_firstSample;
            time = QString::number(since.count(), 'f', 3);
            if (m_utcColumn)
                time += u',' + wallClock.toString(Qt::ISODateWithMs);
        }
        QStringList voltages;
        for (const int channel : read.channels) {
            if (channel != selected) {
                m_device.selectChannel(channel);
                if (failure())
                    return Outcome::RequestFailed;
                selected = channel;
            }
            const std::int32_t code = m_device.readAdc();
            if (failure())
                return Outcome::RequestFailed;
            const QString volts
                    = voltsText(read.calibrated ? read.lines[std::size_t(channel)].at(code)
                                                : ReadbackChannels::sampleVolts(code, read.vdd));
            if (!read.csv) {
                voltages << volts;
                continue;
            }
            if (!print(QStringLiteral("%1,%2,%3,%4")
                               .arg(time, QChar(u'A' + channel))
                               .arg(code)
                               .arg(volts)))
                return Outcome::OutputFailed;
        }
        if (!read.csv && !print(voltages.join(u' ')))
            return Outcome::OutputFailed;
    }
    return Outcome::Done;
}

// CLR first, then LDAC, as the window's pins frame has them.
BoardSession::Outcome BoardSession::drivePins(const DrivePins &pins)
{
    if (pins.clrHigh) {
        m_device.setClrPin(*pins.clrHigh);
        if (failure())
            return Outcome::RequestFailed;
        if (!print(QStringLiteral("CLR ") + levelText(*pins.clrHigh)))
            return Outcome::OutputFailed;
    }
    if (pins.ldacHigh) {
        m_device.setLdacPin(*pins.ldacHigh);
        if (failure())
            return Outcome::RequestFailed;
        if (!print(QStringLiteral("LDAC ") + levelText(*pins.ldacHigh)))
            return Outcome::OutputFailed;
    }
    return Outcome::Done;
}
