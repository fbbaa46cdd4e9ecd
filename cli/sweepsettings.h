// What tx4410-cli sweep is asked to do, read and checked in full before anything is touched.
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <cstdint>
#include <vector>

class QCommandLineParser;

struct SweepSettings
{
    // Which carries are also measured code by code: none, bits 8 to 15, or every bit.
    enum class Carries { None, Major, All };

    int channel = 0;                 // 0..3, "A" to "D"
    std::vector<std::int32_t> codes; // rising, at least two: the grid and the carries
    QString grid;                    // the codes in words, for the summary
    Carries carries = Carries::Major;
    std::vector<std::int32_t> carryCodes; // each 2^k measured code by code around it
    int settleMs = 2;
    int samples = 4;
    double vref = 5;   // the DAC's full scale, for the ideal line
    double vdd = 5;    // the readback ADC's full scale
    QString meterHost; // empty: the board's own readback measures
    quint16 meterPort = 5025;
    QString meterQuery = QStringLiteral("MEAS:VOLT:DC?");
    int meterTimeoutMs = 5000;
    QString csvFile;           // empty: none
    QString plotFile;          // .png or .svg; empty: none
    bool endpointLine = false; // else the least-squares best fit
};

// The options sweep takes, and the settings they give (throws UsageError).
QList<QCommandLineOption> sweepOptions();
SweepSettings sweepSettings(const QCommandLineParser &parser);

// from, from + step, ... up to `to`, which always ends the series.
std::vector<std::int32_t> codesByStep(std::int32_t from, std::int32_t to, std::int32_t step);
// `points` codes from `from` to `to`, as evenly spaced as whole codes allow.
std::vector<std::int32_t> codesByCount(std::int32_t from, std::int32_t to, std::int32_t points);
// About `points` codes within from and to, each at the middle of an ADC step of `stepCodes`
// codes, a whole number of steps apart: every reading off by the same part of a step.
std::vector<std::int32_t> codesAtAdcMiddles(std::int32_t from, std::int32_t to, double stepCodes,
                                            std::int32_t points);
// The codes 2^k - 2 to 2^k + 2 for k from `lowestBit` to 15, within from and to.
std::vector<std::int32_t> codesAroundCarries(std::int32_t from, std::int32_t to, int lowestBit);
