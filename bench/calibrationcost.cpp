// TX4410-bench-calibration FOLDER [--quick]: what calibration adds in the program, as one JSON
// object on standard output. A calibrated SOURce setting against a plain one through the same
// instrument (the board a no-op), interleaved, so that both meet the same machine; storing one
// calibration record of four channels in a database on FOLDER; and a database of 10,000 stored
// sweeps made there for the history figure (FOLDER/history.sqlite).
#include "instrument.h"
#include "monotonicclock.h"
#include "recordstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class QuietBoard final : public Scpi::BoardAccess
{
public:
    Scpi::BoardOutcome sendWord(std::int32_t) override { return {}; }
    Scpi::BoardOutcome readChannel(int, std::int32_t &code) override
    {
        code = 2048;
        return {};
    }
    Scpi::BoardOutcome readAdc(std::int32_t &code) override
    {
        code = 2048;
        return {};
    }
    Scpi::BoardOutcome setClrPin(bool) override { return {}; }
    Scpi::BoardOutcome setLdacPin(bool) override { return {}; }
};

// A calibration as a 33-point run leaves it: the line, a bowed table, its residuals.
Calibration::Channel channel()
{
    Calibration::Channel fit;
    fit.line = {0.003, 5.0 / 65536 * 0.997};
    for (int i = 0; i <= 32; ++i) {
        const std::int32_t code = std::min(i * 2048, 65535);
        const double x = code / 65535.0;
        fit.table.push_back({code, 20 * 4 * x * (1 - x) * 5.0 / 65536, 1e-6});
    }
    fit.uncertainty = {1e-5, 5e-10, 2e-5, 0.0035, 5e-6};
    fit.readback = {true, -0.003, 5.0 / 4096, 5e-4};
    return fit;
}

class Fixed final : public Scpi::Calibrations
{
public:
    Entry entry_;
    bool on = false;
    const Entry *entry(int) const override { return &entry_; }
    bool applied() const override { return on; }
    int apply(bool value, QByteArray &) override
    {
        on = value;
        return 0;
    }
    QDate today() const override { return QDate(2026, 1, 1); }
};

double median(std::vector<double> values)
{
    std::ranges::sort(values);
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 2) {
        std::fputs("usage: TX4410-bench-calibration FOLDER [--quick]\n", stderr);
        return 2;
    }
    const QDir folder(arguments[1]);
    const bool quick = arguments.contains("--quick");

    // A setting, calibrated and plain, in turns: 1,000 settings a sample.
    QuietBoard board;
    Scpi::Instrument instrument(board, "bench");
    Fixed calibrations;
    calibrations.entry_.fit = channel();
    instrument.setCalibrations(&calibrations);
    Scpi::StatusModel status;
    const int samples = quick ? 51 : 301;
    constexpr int settings = 1000;
    std::vector<double> plain;
    std::vector<double> calibrated;
    for (int sample = 0; sample < samples; ++sample) {
        for (const bool on : {false, true}) {
            calibrations.on = on;
            const std::int64_t began = monotonicNanoseconds();
            for (int i = 0; i < settings; ++i)
                instrument.execute(i % 2 ? "SOUR2:VOLT 1.2345" : "SOUR2:VOLT 3.21", status);
            (on ? calibrated : plain)
                    .push_back(double(monotonicNanoseconds() - began) / settings / 1000);
        }
    }
    if (status.errorCount() > 0) {
        std::fprintf(stderr, "error: could not measure: %s\n", status.nextError().constData());
        return 1;
    }

    // One record of four channels, each in a database of its own so that none grows.
    std::vector<double> storing;
    for (int run = 0; run < (quick ? 5 : 21); ++run) {
        Records::Store store(folder.filePath(QStringLiteral("store-%1.sqlite").arg(run)), 2000);
        std::vector<Records::CalibrationRecord> records(4);
        for (int i = 0; i < 4; ++i) {
            records[std::size_t(i)].channel = i;
            records[std::size_t(i)].time = QDateTime::currentDateTimeUtc();
            records[std::size_t(i)].due = records[std::size_t(i)].time.addDays(365);
            records[std::size_t(i)].meter = "bench meter";
            records[std::size_t(i)].fit = channel();
            records[std::size_t(i)].program = "bench";
        }
        if (!store.open(Records::Store::Mode::Write)) {
            std::fprintf(stderr, "error: could not measure: %s\n", qPrintable(store.error()));
            return 1;
        }
        // The transaction alone: what a calibration adds once measured.
        const std::int64_t began = monotonicNanoseconds();
        if (!store.addCalibrations({"sim"}, {}, records)) {
            std::fprintf(stderr, "error: could not measure: %s\n", qPrintable(store.error()));
            return 1;
        }
        storing.push_back(double(monotonicNanoseconds() - began) / 1e6);
    }

    // 10,000 sweeps of 33 points, for history to list.
    Records::Store history(folder.filePath("history.sqlite"), 2000);
    if (!history.open(Records::Store::Mode::Write)) {
        std::fprintf(stderr, "error: could not measure: %s\n", qPrintable(history.error()));
        return 1;
    }
    QByteArray csv = "code,ideal_v,measured_v\n";
    for (int i = 0; i <= 32; ++i)
        csv += QByteArray::number(i * 2048) + ",0.1,0.1\n";
    for (int i = 0; i < 10000; ++i) {
        Records::SweepRecord sweep;
        sweep.channel = i % 4;
        sweep.time = QDateTime::currentDateTimeUtc().addSecs(-i);
        sweep.settings = QJsonObject {{"points", 33}};
        sweep.summary = "offset error: +3.000 mV\ngain error: -0.300 %\nINL: max +8.27 LSB";
        sweep.csv = csv;
        sweep.program = "bench";
        if (!history.addSweep({i % 2 ? "1-2.3" : "sim"}, sweep)) {
            std::fprintf(stderr, "error: could not measure: %s\n", qPrintable(history.error()));
            return 1;
        }
    }

    const QJsonObject figures {{"setting_plain_us", median(plain)},
                               {"setting_calibrated_us", median(calibrated)},
                               {"setting_added_us", median(calibrated) - median(plain)},
                               {"store_record_ms", median(storing)},
                               {"store_record_worst_ms", *std::ranges::max_element(storing)}};
    std::fputs(QJsonDocument(figures).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputs("\n", stdout);
    return 0;
}
