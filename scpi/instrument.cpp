#include "instrument.h"

#include "codeconversion.h"
#include "commandchoices.h"
#include "readbackchannels.h"
#include "rounding.h"
#include "scpicommands.h"
#include "textforms.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace Scpi {

namespace {

// The window's command list: 3 writes and updates one channel, 5 resets the part (data bit 0:
// to its power-on state).
constexpr int writeAndUpdate = 3;
constexpr int resetCommand = 5;
constexpr std::int32_t powerOnReset = 1;

// What a raw word does to the codes remembered for the SOURce queries: the three commands that
// write a channel's code (0, 2, 3) remember it for the channel addressed, or for all four at
// address 7; a reset zeroes them all. The fields are as the window composes them: bits 21..19
// the command, 18..16 the address, 15..0 the data.
void rememberWord(std::int32_t word, std::array<std::int32_t, 4> &codes)
{
    const int command = word >> 19 & 0x7;
    const int address = word >> 16 & 0x7;
    const std::int32_t data = word & 0xFFFF;
    if (command == resetCommand) {
        codes.fill(0);
    } else if (command == 0 || command == 2 || command == writeAndUpdate) {
        if (address == 7)
            codes.fill(data);
        else if (address < int(codes.size()))
            codes[std::size_t(address)] = data;
    }
}

struct Limits
{
    double lowest = 0;
    double highest = 0;
    double byDefault = 0;
    bool volts = false; // takes V, mV, uV
    bool whole = false; // rounded to an integer
};

constexpr double defaultSupply = 5;

Limits limitsOf(Parameter parameter, double reference)
{
    switch (parameter) {
    case Parameter::Volts:
        return {0, reference, 0, true, false};
    case Parameter::Code:
        return {0, highestCode, 0, false, true};
    case Parameter::Supply:
        return {0.001, 1000, defaultSupply, true, false};
    case Parameter::Register:
        return {0, 255, 0, false, true};
    case Parameter::Enable:
        return {0, 32767, 0, false, true};
    case Parameter::Word:
        return {0, 0x7FFFFFFF, 0, false, true};
    case Parameter::None:
    case Parameter::Level:
    case Parameter::Range:
    case Parameter::Boolean:
        break;
    }
    return {};
}

// IEEE 488.2's multipliers before the unit V, any case; M is milli and MA mega, as there.
std::optional<double> voltsScale(std::string_view suffix)
{
    static constexpr std::pair<std::string_view, double> multipliers[]
            = {{"", 1},      {"EX", 1e18}, {"PE", 1e15}, {"T", 1e12}, {"G", 1e9},
               {"MA", 1e6},  {"K", 1e3},   {"M", 1e-3},  {"U", 1e-6}, {"N", 1e-9},
               {"P", 1e-12}, {"F", 1e-15}, {"A", 1e-18}};
    if (suffix.empty() || !sameLetters(suffix.substr(suffix.size() - 1), "V"))
        return std::nullopt;
    suffix.remove_suffix(1);
    for (const auto &[prefix, scale] : multipliers) {
        if (sameLetters(suffix, prefix))
            return scale;
    }
    return std::nullopt;
}

int keywordValue(const Data &data, const Limits &limits, double &value)
{
    if (data.kind != DataKind::Character)
        return Error::dataType;
    if (isKeyword(data.text, "MINimum"))
        value = limits.lowest;
    else if (isKeyword(data.text, "MAXimum"))
        value = limits.highest;
    else if (isKeyword(data.text, "DEFault"))
        value = limits.byDefault;
    else
        return Error::illegalValue;
    return Error::none;
}

int numericValue(const Data &data, const Limits &limits, double &value)
{
    if (data.kind == DataKind::Character)
        return keywordValue(data, limits, value);
    if (data.kind != DataKind::Decimal && data.kind != DataKind::NonDecimal)
        return Error::dataType;
    double number = data.number;
    if (!data.suffix.empty()) {
        if (!limits.volts)
            return Error::suffixNotAllowed;
        const std::optional<double> scale = voltsScale(data.suffix);
        if (!scale)
            return Error::invalidSuffix;
        number *= *scale;
    }
    if (limits.whole)
        number = roundHalfEven(number);
    if (!(number >= limits.lowest && number <= limits.highest))
        return Error::outOfRange;
    value = number;
    return Error::none;
}

// HIGH or LOW, or a boolean: ON, OFF, or a number that rounds to 0 (off) or not.
int levelValue(const Data &data, bool &high)
{
    if (data.kind == DataKind::Character) {
        if (isKeyword(data.text, "HIGH") || isKeyword(data.text, "ON"))
            high = true;
        else if (isKeyword(data.text, "LOW") || isKeyword(data.text, "OFF"))
            high = false;
        else
            return Error::illegalValue;
        return Error::none;
    }
    if (data.kind != DataKind::Decimal && data.kind != DataKind::NonDecimal)
        return Error::dataType;
    if (!data.suffix.empty())
        return Error::suffixNotAllowed;
    high = roundHalfEven(data.number) != 0;
    return Error::none;
}

// ON, OFF, or a number that rounds to 0 (off) or not.
int booleanValue(const Data &data, bool &on)
{
    if (data.kind == DataKind::Character) {
        if (isKeyword(data.text, "ON"))
            on = true;
        else if (isKeyword(data.text, "OFF"))
            on = false;
        else
            return Error::illegalValue;
        return Error::none;
    }
    return levelValue(data, on);
}

// A date as SCPI's SYSTem:DATE has it: year,month,day.
QByteArray dateAnswer(const QDate &date)
{
    return QByteArray::number(date.year()) + ',' + QByteArray::number(date.month()) + ','
            + QByteArray::number(date.day());
}

// IEEE 488.2's definite length arbitrary block: #, the count's digits, the count, the bytes.
QByteArray block(const QByteArray &bytes)
{
    const QByteArray count = QByteArray::number(bytes.size());
    return '#' + QByteArray::number(count.size()) + count + bytes;
}

// A measurement's expected value or resolution: a voltage or MIN, MAX, DEF or AUTO. The
// readback has one range, so it only has to be well formed.
int rangeValue(const Data &data)
{
    if (data.kind == DataKind::Character && isKeyword(data.text, "AUTO"))
        return Error::none;
    double value = 0;
    const Limits any {0, std::numeric_limits<double>::max(), 0, true, false};
    return numericValue(data, any, value);
}

QByteArray voltsAnswer(double volts)
{
    return voltageText(volts).toLatin1();
}

QString exactText(double value)
{
    return QString::number(value, 'g', 17);
}

QByteArray levelAnswer(bool high)
{
    return high ? "HIGH" : "LOW";
}

} // namespace

Instrument::Instrument(BoardAccess &board, QByteArray identity)
    : m_board(board)
    , m_identity(std::move(identity))
{ }

QByteArray Instrument::execute(std::string_view message, StatusModel &status)
{
    QByteArray answers;
    std::array<Node, Unit::maxNodes> path {};
    int pathCount = 0;
    for (const std::string_view text : splitUnits(message)) {
        const Unit unit = readUnit(text);
        m_detail = QByteArray(unit.header.data(), qsizetype(unit.header.size())).left(80);
        int error = unit.error;
        if (error == Error::none) {
            // A header goes on from the path the last one left, unless it starts at the root.
            const int base = unit.common || unit.rooted ? 0 : pathCount;
            std::array<Node, Unit::maxNodes> nodes = path;
            const int count = base + unit.nodeCount;
            int suffix = 0;
            const CommandRow *row = nullptr;
            if (count <= Unit::maxNodes) {
                std::copy_n(unit.nodes.begin(), unit.nodeCount, nodes.begin() + base);
                row = findCommand(unit, nodes.data(), count, suffix);
            }
            if (row == nullptr || (row->forms & (unit.query ? Queries : Sets)) == 0) {
                error = Error::undefinedHeader;
            } else {
                if (!unit.common) {
                    path = nodes;
                    pathCount = count - 1;
                }
                if (row->highestSuffix > 0 && (suffix < 1 || suffix > row->highestSuffix))
                    error = Error::suffixOutOfRange;
                else
                    error = run(unit, *row, suffix, status, answers);
            }
        }
        if (error != Error::none)
            status.report(error, std::string_view(m_detail.constData(), size_t(m_detail.size())));
    }
    if (!answers.isEmpty())
        answers += '\n';
    return answers;
}

void Instrument::boardRestarted()
{
    ++m_restarts;
    m_codes.fill(0);
    m_clrHigh = m_ldacHigh = true;
}

int Instrument::run(const Unit &unit, const CommandRow &row, int suffix, StatusModel &status,
                    QByteArray &answers)
{
    if (unit.query) {
        if (row.parameter == Parameter::Range) {
            if (unit.dataCount > Unit::maxKeptData)
                return Error::parameterNotAllowed;
            for (int i = 0; i < unit.dataCount; ++i) {
                if (const int error = rangeValue(unit.data[std::size_t(i)]); error != Error::none)
                    return error;
            }
        } else {
            // IEEE 488.2's common queries take nothing; SCPI's numeric settings MIN, MAX, DEF.
            const bool takesLimit = !unit.common && (row.forms & Sets) != 0
                    && row.parameter != Parameter::None && row.parameter != Parameter::Level
                    && row.parameter != Parameter::Boolean;
            if (unit.dataCount > (takesLimit ? 1 : 0))
                return Error::parameterNotAllowed;
        }
        return query(unit, row, suffix, status, answers);
    }
    if (row.parameter == Parameter::None && unit.dataCount > 0)
        return Error::parameterNotAllowed;
    if (row.parameter != Parameter::None && unit.dataCount == 0)
        return Error::missingParameter;
    if (unit.dataCount > 1)
        return Error::parameterNotAllowed;
    return setting(unit, row, suffix, status);
}

int Instrument::setting(const Unit &unit, const CommandRow &row, int suffix, StatusModel &status)
{
    double value = 0;
    bool high = true;
    const Data &data = unit.data[0];
    const int error = row.parameter == Parameter::None ? Error::none
            : row.parameter == Parameter::Level        ? levelValue(data, high)
            : row.parameter == Parameter::Boolean
            ? booleanValue(data, high)
            : numericValue(data, limitsOf(row.parameter, m_reference), value);
    if (error != Error::none)
        return error;
    const int channel = suffix - 1;
    switch (row.command) {
    case Command::Reset: {
        // What is remembered changes only with the request that made it true.
        if (const int reset
            = board(m_board.sendWord(commandWordFor(resetCommand, 0, powerOnReset)));
            reset != Error::none)
            return reset;
        m_codes.fill(0);
        if (const int clr = board(m_board.setClrPin(true)); clr != Error::none)
            return clr;
        m_clrHigh = true;
        if (const int ldac = board(m_board.setLdacPin(true)); ldac != Error::none)
            return ldac;
        m_ldacHigh = true;
        m_reference = m_vdd = defaultSupply;
        return Error::none;
    }
    case Command::Clear:
        status.clear();
        return Error::none;
    case Command::EventEnable:
        status.eventEnable = int(value);
        return Error::none;
    case Command::ServiceEnable:
        status.serviceEnable = int(value) & ~0x40; // the summary bit cannot enable itself
        return Error::none;
    case Command::OperationComplete:
        status.setEvents(Event::operationComplete);
        return Error::none;
    case Command::OperationEnable:
        status.operationEnable = int(value);
        return Error::none;
    case Command::QuestionableEnable:
        status.questionableEnable = int(value);
        return Error::none;
    case Command::Preset:
        status.operationEnable = status.questionableEnable = 0;
        return Error::none;
    case Command::SourceVolts:
    case Command::SourceCode: {
        // The window's conversion: the same texts give the same code; calibrated, the code
        // whose output the calibration puts nearest.
        std::int32_t code = 0;
        if (row.command == Command::SourceCode) {
            code = std::int32_t(value);
        } else if (const Calibrations::Entry *calibrated = appliedTo(channel)) {
            const std::optional<std::int32_t> nearest
                    = Calibration::codeFor(calibrated->fit, value);
            if (!nearest) {
                m_detail = "beyond what the calibrated channel reaches";
                return Error::outOfRange;
            }
            code = *nearest;
        } else {
            code = convertVoltageEntry(exactText(value), exactText(m_reference))->code;
        }
        const int written = board(m_board.sendWord(commandWordFor(writeAndUpdate, channel, code)));
        if (written == Error::none)
            m_codes[std::size_t(channel)] = code;
        return written;
    }
    case Command::Reference:
        m_reference = value;
        return Error::none;
    case Command::Vdd:
        m_vdd = value;
        return Error::none;
    case Command::CalibrationState: {
        if (m_calibrations == nullptr) {
            m_detail = "this server keeps no calibrations";
            return Error::settingsConflict;
        }
        bool any = false;
        for (int dac = 0; dac < 4; ++dac)
            any = any || m_calibrations->entry(dac) != nullptr;
        if (high && !any) {
            m_detail = "no calibration of this board is stored";
            return Error::settingsConflict;
        }
        return m_calibrations->apply(high, m_detail);
    }
    case Command::Word: {
        const int sent = board(m_board.sendWord(std::int32_t(value)));
        if (sent == Error::none)
            rememberWord(std::int32_t(value), m_codes);
        return sent;
    }
    case Command::ClrPin:
    case Command::LdacPin: {
        const bool clr = row.command == Command::ClrPin;
        const int driven = board(clr ? m_board.setClrPin(high) : m_board.setLdacPin(high));
        if (driven == Error::none)
            (clr ? m_clrHigh : m_ldacHigh) = high;
        return driven;
    }
    default:
        return Error::none; // *WAI: every command is done before the next is read
    }
}

int Instrument::query(const Unit &unit, const CommandRow &row, int suffix, StatusModel &status,
                      QByteArray &answers)
{
    const bool messageAvailable = !answers.isEmpty();
    QByteArray answer;
    const int channel = suffix - 1;
    std::int32_t code = 0;
    if (unit.dataCount == 1 && row.parameter != Parameter::Range) {
        const Limits limits = limitsOf(row.parameter, m_reference);
        double value = 0;
        if (const int error = keywordValue(unit.data[0], limits, value); error != Error::none)
            return error;
        answer = limits.volts ? voltsAnswer(value) : QByteArray::number(qint64(value));
    } else {
        switch (row.command) {
        case Command::Identify:
            answer = m_identity;
            break;
        case Command::EventEnable:
            answer = QByteArray::number(status.eventEnable);
            break;
        case Command::EventStatus:
            answer = QByteArray::number(status.takeEvents());
            break;
        case Command::ServiceEnable:
            answer = QByteArray::number(status.serviceEnable);
            break;
        case Command::StatusByte:
            answer = QByteArray::number(status.statusByte(messageAvailable));
            break;
        case Command::OperationComplete:
            answer = "1";
            break;
        case Command::SelfTest:
            answer = m_board.readAdc(code).error == Error::none ? "0" : "1";
            break;
        case Command::ErrorNext:
            answer = status.nextError();
            break;
        case Command::ErrorAll:
            answer = status.allErrors();
            break;
        case Command::BoardRestarts:
            answer = QByteArray::number(m_restarts);
            break;
        case Command::ErrorCount:
            answer = QByteArray::number(status.errorCount());
            break;
        case Command::Version:
            answer = "1999.0";
            break;
        case Command::OperationEnable:
            answer = QByteArray::number(status.operationEnable);
            break;
        case Command::QuestionableEnable:
            answer = QByteArray::number(status.questionableEnable);
            break;
        case Command::SourceVolts:
            if (const Calibrations::Entry *calibrated = appliedTo(channel))
                answer = voltsAnswer(
                        Calibration::outputAt(calibrated->fit, m_codes[std::size_t(channel)]));
            else
                answer = convertHexEntry(hexText(m_codes[std::size_t(channel)]),
                                         exactText(m_reference))
                                 .voltageText.toLatin1();
            break;
        case Command::SourceCode:
            answer = QByteArray::number(m_codes[std::size_t(channel)]);
            break;
        case Command::Reference:
            answer = voltsAnswer(m_reference);
            break;
        case Command::Vdd:
            answer = voltsAnswer(m_vdd);
            break;
        case Command::MeasureVolts:
        case Command::MeasureCode:
            if (const int error = board(m_board.readChannel(channel, code)); error != Error::none)
                return error;
            if (row.command == Command::MeasureCode)
                answer = QByteArray::number(code);
            else if (const Calibrations::Entry *calibrated = appliedTo(channel);
                     calibrated != nullptr && calibrated->fit.readback.measured)
                answer = voltsAnswer(calibrated->fit.readback.at(code));
            else
                answer = voltsAnswer(ReadbackChannels::sampleVolts(code, m_vdd));
            break;
        case Command::CalibrationState:
            answer = m_calibrations != nullptr && m_calibrations->applied() ? "1" : "0";
            break;
        case Command::CalibrationDate:
        case Command::CalibrationDue:
        case Command::CalibrationData:
            if (const int error = calibrationQuery(row, channel, answer); error != Error::none)
                return error;
            break;
        case Command::QuestionableCondition:
            // SCPI's CALibration bit: a calibration applied past its due date.
            answer = "0";
            for (int dac = 0; dac < 4; ++dac) {
                const Calibrations::Entry *calibrated = appliedTo(dac);
                if (calibrated != nullptr && calibrated->due < m_calibrations->today())
                    answer = "256";
            }
            break;
        case Command::Calibrate: {
            // IEEE 488.2: 0 for a calibration that succeeded, else non-zero with the error
            // queued; one started answers once it ends.
            QByteArray why = "this server was started without a meter to calibrate against "
                             "(--calibration-meter)";
            const int error = m_calibrator ? m_calibrator(why) : Error::calibrationFailed;
            if (error == Error::none) {
                m_deferred = true;
                return Error::none;
            }
            status.report(error, std::string_view(why.constData(), std::size_t(why.size())));
            answer = "1";
            break;
        }
        case Command::ClrPin:
            answer = levelAnswer(m_clrHigh);
            break;
        case Command::LdacPin:
            answer = levelAnswer(m_ldacHigh);
            break;
        default:
            answer = "0"; // the operation and questionable registers: no event ever
        }
    }
    if (messageAvailable)
        answers += ';';
    answers += answer;
    return Error::none;
}

const Calibrations::Entry *Instrument::appliedTo(int channel) const
{
    if (m_calibrations == nullptr || !m_calibrations->applied() || channel < 0 || channel > 3)
        return nullptr;
    return m_calibrations->entry(channel);
}

int Instrument::calibrationQuery(const CommandRow &row, int channel, QByteArray &answer)
{
    const Calibrations::Entry *entry
            = m_calibrations != nullptr ? m_calibrations->entry(channel) : nullptr;
    if (entry == nullptr) {
        m_detail = "DAC " + QByteArray(1, char('A' + channel)) + " has no calibration";
        return Error::settingsConflict;
    }
    answer = row.command == Command::CalibrationDate ? dateAnswer(entry->date)
            : row.command == Command::CalibrationDue ? dateAnswer(entry->due)
                                                     : block(entry->record);
    return Error::none;
}

int Instrument::board(const BoardOutcome &outcome)
{
    if (outcome.error != Error::none)
        m_detail = outcome.detail;
    return outcome.error;
}

} // namespace Scpi
