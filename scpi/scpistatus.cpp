#include "scpistatus.h"

#include <utility>

namespace Scpi {

namespace {

struct ErrorRow
{
    int number;
    const char *text;
};

constexpr ErrorRow errorRows[] = {
        {Error::none, "No error"},
        {Error::syntax, "Syntax error"},
        {Error::dataType, "Data type error"},
        {Error::parameterNotAllowed, "Parameter not allowed"},
        {Error::missingParameter, "Missing parameter"},
        {Error::mnemonicTooLong, "Program mnemonic too long"},
        {Error::undefinedHeader, "Undefined header"},
        {Error::suffixOutOfRange, "Header suffix out of range"},
        {Error::invalidCharacterInNumber, "Invalid character in number"},
        {Error::invalidSuffix, "Invalid suffix"},
        {Error::suffixNotAllowed, "Suffix not allowed"},
        {Error::execution, "Execution error"},
        {Error::settingsConflict, "Settings conflict"},
        {Error::outOfRange, "Data out of range"},
        {Error::tooMuchData, "Too much data"},
        {Error::illegalValue, "Illegal parameter value"},
        {Error::hardware, "Hardware error"},
        {Error::hardwareMissing, "Hardware missing"},
        {Error::massStorage, "Mass storage error"},
        {Error::calibrationFailed, "Calibration failed"},
        {Error::queueOverflow, "Queue overflow"},
        {Error::queryInterrupted, "Query INTERRUPTED"},
        {Error::queryUnterminated, "Query UNTERMINATED"},
};

// The event bit of an error's class: -1xx command, -2xx execution, -3xx device, -4xx query.
int eventOf(int number)
{
    constexpr int bits[] = {0, Event::commandError, Event::executionError, Event::deviceError,
                            Event::queryError};
    const int hundreds = -number / 100;
    return hundreds >= 1 && hundreds <= 4 ? bits[hundreds] : 0;
}

// `number,"text;detail"`: quotes doubled, anything but printable ASCII as '?', at most 255 bytes
// between the quotes, as SCPI allows, never ending inside a doubled quote.
QByteArray entry(int number, std::string_view detail)
{
    QByteArray text = errorText(number);
    if (!detail.empty())
        text += ';' + QByteArray(detail.data(), qsizetype(detail.size()));
    QByteArray quoted;
    for (const char c : std::as_const(text)) {
        const qsizetype width = c == '"' ? 2 : 1;
        if (quoted.size() + width > StatusModel::maxTextBytes)
            break;
        quoted += c >= 0x20 && c < 0x7F ? c : '?';
        if (c == '"')
            quoted += '"';
    }
    return QByteArray::number(number) + ",\"" + quoted + '"';
}

} // namespace

const char *errorText(int number)
{
    for (const ErrorRow &row : errorRows) {
        if (row.number == number)
            return row.text;
    }
    return "Unknown error";
}

void StatusModel::report(int number, std::string_view detail)
{
    m_events |= eventOf(number);
    if (m_errors.size() < queueCapacity) {
        m_errors.push_back(entry(number, detail));
        return;
    }
    m_events |= eventOf(Error::queueOverflow);
    m_errors.back() = entry(Error::queueOverflow, {});
}

QByteArray StatusModel::nextError()
{
    if (m_errors.empty())
        return entry(Error::none, {});
    QByteArray oldest = std::move(m_errors.front());
    m_errors.pop_front();
    return oldest;
}

QByteArray StatusModel::allErrors()
{
    if (m_errors.empty())
        return entry(Error::none, {});
    QByteArray all;
    while (!m_errors.empty())
        all += (all.isEmpty() ? "" : ",") + nextError();
    return all;
}

int StatusModel::takeEvents()
{
    return std::exchange(m_events, 0);
}

int StatusModel::statusByte(bool messageAvailable) const
{
    int status = (m_errors.empty() ? 0 : 0x04) | (messageAvailable ? 0x10 : 0)
            | ((m_events & eventEnable) != 0 ? 0x20 : 0);
    if ((status & serviceEnable & ~0x40) != 0)
        status |= 0x40;
    return status;
}

void StatusModel::clear()
{
    m_errors.clear();
    m_events = 0;
}

} // namespace Scpi
