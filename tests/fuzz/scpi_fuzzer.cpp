// Random program messages through the SCPI parser and the instrument on a board that always
// answers; aborts when an answer or an error entry leaves the form a client relies on.

#include "instrument.h"
#include "scpiparser.h"

#include <cstdio>
#include <cstdlib>

namespace {

class AnsweringBoard final : public Scpi::BoardAccess
{
public:
    Scpi::BoardOutcome sendWord(std::int32_t) override { return {}; }
    Scpi::BoardOutcome readChannel(int channel, std::int32_t &code) override
    {
        check(channel >= 0 && channel < 8, "readback input out of range");
        code = 4095;
        return {};
    }
    Scpi::BoardOutcome readAdc(std::int32_t &code) override
    {
        code = 0;
        return {};
    }
    Scpi::BoardOutcome setClrPin(bool) override { return {}; }
    Scpi::BoardOutcome setLdacPin(bool) override { return {}; }

    static void check(bool holds, const char *what)
    {
        if (holds)
            return;
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
};

// `-113,"Undefined header;..."`: a number, a comma, one quoted printable string.
bool isErrorEntry(const QByteArray &entry)
{
    const qsizetype comma = entry.indexOf(',');
    bool number = false;
    entry.left(comma).toInt(&number);
    if (!number || entry.size() < comma + 3 || entry[comma + 1] != '"' || !entry.endsWith('"'))
        return false;
    const QByteArray text = entry.mid(comma + 2).chopped(1);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] < 0x20 || text[i] > 0x7E
            || (text[i] == '"' && (i + 1 == text.size() || text[++i] != '"')))
            return false;
    }
    return text.size() <= Scpi::StatusModel::maxTextBytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view message(reinterpret_cast<const char *>(data), size);
    for (const std::string_view unit : Scpi::splitUnits(message)) {
        AnsweringBoard::check(unit.data() >= message.data()
                                      && unit.data() + unit.size()
                                              <= message.data() + message.size(),
                              "a unit outside its message");
        const Scpi::Unit read = Scpi::readUnit(unit);
        AnsweringBoard::check(read.nodeCount <= Scpi::Unit::maxNodes && read.dataCount >= 0,
                              "unit counts out of range");
    }

    AnsweringBoard board;
    Scpi::Instrument instrument(board, "maker,TX4410,0,1");
    Scpi::StatusModel status;
    const QByteArray answer = instrument.execute(message, status);
    AnsweringBoard::check(answer.isEmpty() || answer.indexOf('\n') == answer.size() - 1,
                          "an answer that is not one line");
    AnsweringBoard::check(status.errorCount() <= int(Scpi::StatusModel::queueCapacity),
                          "the error queue beyond its capacity");
    while (status.errorCount() > 0)
        AnsweringBoard::check(isErrorEntry(status.nextError()), "an error entry out of form");
    AnsweringBoard::check(instrument.reference() >= 0.001 && instrument.reference() <= 1000,
                          "a reference out of its range");
    return 0;
}
