// The error numbers an instrument reports, its error queue and the IEEE 488.2 status model:
// one StatusModel per connection, so that each client sees its own errors and events.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <string_view>

namespace Scpi {

namespace Error {
inline constexpr int none = 0;
inline constexpr int syntax = -102;
inline constexpr int dataType = -104;
inline constexpr int parameterNotAllowed = -108;
inline constexpr int missingParameter = -109;
inline constexpr int mnemonicTooLong = -112;
inline constexpr int undefinedHeader = -113;
inline constexpr int suffixOutOfRange = -114;
inline constexpr int invalidCharacterInNumber = -121;
inline constexpr int invalidSuffix = -131;
inline constexpr int suffixNotAllowed = -138;
inline constexpr int execution = -200;
inline constexpr int settingsConflict = -221;
inline constexpr int outOfRange = -222;
inline constexpr int tooMuchData = -223;
inline constexpr int illegalValue = -224;
inline constexpr int hardware = -240;
inline constexpr int hardwareMissing = -241;
inline constexpr int massStorage = -250;
inline constexpr int calibrationFailed = -340;
inline constexpr int queueOverflow = -350;
inline constexpr int queryInterrupted = -410;
inline constexpr int queryUnterminated = -420;
} // namespace Error

// The standard's text for an error number ("Undefined header"); "Unknown error" for others.
const char *errorText(int number);

// The bits of the standard event status register.
namespace Event {
inline constexpr int operationComplete = 0x01;
inline constexpr int queryError = 0x04;
inline constexpr int deviceError = 0x08;
inline constexpr int executionError = 0x10;
inline constexpr int commandError = 0x20;
inline constexpr int powerOn = 0x80;
} // namespace Event

class StatusModel
{
public:
    // Errors kept; the one that finds the queue full turns its last entry into -350.
    static constexpr std::size_t queueCapacity = 32;
    // The longest error text a client is sent between its quotes, doubled quotes counted.
    static constexpr qsizetype maxTextBytes = 255;

    // Queues the error (with the detail after ';' in its text) and sets its class's event bit.
    void report(int number, std::string_view detail = {});
    // The oldest error as `-113,"Undefined header;FOO"`, taken off the queue; `0,"No error"`.
    QByteArray nextError();
    // SYSTem:ERRor:ALL?: every error, oldest first, separated by commas, the queue emptied;
    // `0,"No error"` when there is none.
    QByteArray allErrors();
    int errorCount() const { return int(m_errors.size()); }

    void setEvents(int bits) { m_events |= bits; }
    // *ESR?: the register, cleared by being read.
    int takeEvents();
    // *STB?: summaries of the queue, the events and `messageAvailable`, and the service bit.
    int statusByte(bool messageAvailable) const;
    // *CLS: the queue and every event register.
    void clear();

    int eventEnable = 0;   // *ESE
    int serviceEnable = 0; // *SRE, bit 6 aside
    // SCPI's operation and questionable registers: nothing here ever sets an event in them.
    int operationEnable = 0;
    int questionableEnable = 0;

private:
    std::deque<QByteArray> m_errors;
    int m_events = 0;
};

} // namespace Scpi
