// The board as an SCPI instrument, without any network: program messages in, response lines
// out, errors and events into the status model of the client that sent them. The settings
// (reference, Vdd, the codes written, the pins) are the instrument's, shared by every client.
#pragma once

#include "scpistatus.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <string_view>

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

private:
    // Runs one unit whose row is known; returns 0 or an error number (detail in m_detail).
    int run(const Unit &unit, const CommandRow &row, int suffix, StatusModel &status,
            QByteArray &answers);
    int setting(const Unit &unit, const CommandRow &row, int suffix, StatusModel &status);
    int query(const Unit &unit, const CommandRow &row, int suffix, StatusModel &status,
              QByteArray &answer);
    int board(const BoardOutcome &outcome);

    BoardAccess &m_board;
    QByteArray m_identity;
    double m_reference = 5;
    double m_vdd = 5;
    std::array<std::int32_t, 4> m_codes {};
    bool m_clrHigh = true;
    bool m_ldacHigh = true;
    qint64 m_restarts = 0;
    QByteArray m_detail;
};

} // namespace Scpi
