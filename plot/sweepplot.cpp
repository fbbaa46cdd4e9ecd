#include "sweepplot.h"

#include <QAreaSeries>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QGuiApplication>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>

std::optional<SweepTable> readSweepTable(const QByteArray &text, QString &problem)
{
    SweepTable table;
    const QStringList wanted
            = {"code", "error_lsb", "inl_lsb", "dnl_lsb", "step_error_lsb", "rail"};
    const int required = 4; // the last two came later
    QVector<qsizetype> column;
    QVector<QVector<double> *> into
            = {&table.code, &table.error, &table.inl, &table.dnl, &table.step, nullptr};
    for (const QByteArray &line : text.split('\n')) {
        const QString content = QString::fromUtf8(line).trimmed();
        if (content.startsWith(u'#')) {
            const qsizetype colon = content.indexOf(u':');
            if (colon > 0)
                table.header.insert(content.mid(1, colon - 1).trimmed(),
                                    content.mid(colon + 1).trimmed());
            continue;
        }
        if (content.isEmpty())
            continue;
        const QStringList cells = content.split(u',');
        if (column.isEmpty()) {
            for (const QString &name : wanted) {
                column << cells.indexOf(name);
                if (column.last() < 0 && column.size() <= required) {
                    problem = QStringLiteral("the CSV has no column %1").arg(name);
                    return std::nullopt;
                }
            }
            continue;
        }
        for (qsizetype i = 0; i < wanted.size(); ++i) {
            bool number = false;
            const double value = cells.value(column[i]).toDouble(&number);
            if (into[i])
                *into[i] << (number ? value : qQNaN());
            else
                table.rail << (number && value != 0);
        }
        if (std::isnan(table.code.last())) {
            problem = QStringLiteral("the CSV's row \"%1\" has no code").arg(content.left(80));
            return std::nullopt;
        }
    }
    if (table.code.size() < 2) {
        problem = QStringLiteral("the CSV holds fewer than two points");
        return std::nullopt;
    }
    return table;
}

namespace {

constexpr int pageWidth = 900;
constexpr int pageHeight = 1100;
// Pixel columns of a panel's plot, about: more points than twice this are drawn as the least and
// the most of each column, an envelope, so that a sweep of every code stays small.
constexpr int columns = 800;

// The points to draw, as they are; or, when there are more than twice the columns, the least and
// the most of each column (`low` then holds the least).
QList<QPointF> drawn(const QVector<double> &x, const QVector<double> &y, double first, double last,
                     QList<QPointF> *low = nullptr, const QVector<bool> *keep = nullptr)
{
    QList<QPointF> points;
    for (qsizetype i = 0; i < x.size(); ++i) {
        if (!std::isnan(y[i]) && (!keep || keep->value(i)))
            points << QPointF(x[i], y[i]);
    }
    if (!low || points.size() <= 2 * columns || last <= first)
        return points;
    QList<QPointF> high;
    const auto columnOf = [&](double code) {
        return std::min(columns - 1, int((code - first) / (last - first) * columns));
    };
    for (qsizetype i = 0; i < points.size();) {
        const int column = columnOf(points[i].x());
        const double at = points[i].x();
        double least = points[i].y();
        double most = least;
        for (; i < points.size() && columnOf(points[i].x()) == column; ++i) {
            least = std::min(least, points[i].y());
            most = std::max(most, points[i].y());
        }
        *low << QPointF(at, least);
        high << QPointF(at, most);
    }
    return high;
}

struct Curve
{
    QString name;
    QList<QPointF> points; // or the most of each column, when `low` holds the least
    QColor colour;
    bool dots = false;
    double markerSize = 5;
    QList<QPointF> low;
};

// One panel of the picture: its curves against code, a band of ±band shaded, lines at `rules`.
QChart *panel(const QString &title, const QString &yTitle, const QList<Curve> &curves, double first,
              double last, double band, const QList<double> &rules, double least, bool codeLabels)
{
    auto *chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignTop);
    chart->setMargins(QMargins(4, 2, 4, 2));
    auto *x = new QValueAxis;
    auto *y = new QValueAxis;
    x->setLabelFormat(QStringLiteral("%d"));
    // Ticks on round codes: powers of two, as the codes are counted.
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0);
    x->setTickInterval(last - first > 16384 ? 8192 : last - first > 1024 ? 1024 : 64);
    x->setRange(first, last);
    x->setLabelsVisible(codeLabels);
    if (codeLabels)
        x->setTitleText(QStringLiteral("code"));
    y->setTitleText(yTitle);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    double low = -least;
    double high = least;
    const auto add = [&](QXYSeries *series) {
        chart->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
    };
    if (band > 0) {
        auto *upper = new QLineSeries;
        auto *lower = new QLineSeries;
        upper->append({QPointF(first, band), QPointF(last, band)});
        lower->append({QPointF(first, -band), QPointF(last, -band)});
        auto *area = new QAreaSeries(upper, lower);
        area->setName(QStringLiteral("resolution band ±%1 LSB").arg(band, 0, 'g', 3));
        area->setColor(QColor(0, 0, 0, 28));
        area->setBorderColor(Qt::transparent);
        chart->addSeries(area);
        area->attachAxis(x);
        area->attachAxis(y);
        high = std::max(high, band);
        low = std::min(low, -band);
    }
    for (const double at : rules) {
        auto *rule = new QLineSeries;
        rule->append({QPointF(first, at), QPointF(last, at)});
        rule->setPen(
                QPen(at == 0 ? Qt::gray : Qt::darkGray, 1, at == 0 ? Qt::SolidLine : Qt::DashLine));
        add(rule);
        chart->legend()->markers(rule).constFirst()->setVisible(false);
    }
    for (const Curve &curve : curves) {
        for (const QList<QPointF> &points : {curve.points, curve.low}) {
            for (const QPointF &point : points) {
                low = std::min(low, point.y());
                high = std::max(high, point.y());
            }
        }
        if (!curve.low.isEmpty()) {
            // An envelope, one shape however many points.
            auto *most = new QLineSeries;
            auto *least = new QLineSeries;
            most->append(curve.points);
            least->append(curve.low);
            auto *area = new QAreaSeries(most, least);
            area->setName(curve.name);
            area->setColor(curve.colour);
            area->setBorderColor(curve.colour);
            chart->addSeries(area);
            area->attachAxis(x);
            area->attachAxis(y);
            continue;
        }
        QXYSeries *series = nullptr;
        if (curve.dots) {
            auto *scatter = new QScatterSeries;
            scatter->setMarkerSize(curve.markerSize);
            scatter->setBorderColor(Qt::transparent);
            series = scatter;
        } else {
            series = new QLineSeries;
            series->setPen(QPen(curve.colour, 1.2));
        }
        series->setColor(curve.colour);
        series->setName(curve.name);
        series->append(curve.points);
        add(series);
    }
    const double margin = (high - low) * 0.06;
    y->setRange(low - margin, high + margin);
    y->applyNiceNumbers();
    return chart;
}

// The page as PNG or SVG; nothing, with `problem` set, when it cannot be drawn.
std::optional<QByteArray> pictureOf(QWidget &page, bool svg, const QString &title, QString &problem)
{
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    bool drawn = false;
    if (svg) {
        QSvgGenerator generator;
        generator.setOutputDevice(&bytes);
        generator.setSize(page.size());
        generator.setViewBox(page.rect());
        // The widget's own resolution: text as large against the page as in the PNG.
        generator.setResolution(page.logicalDpiX());
        generator.setTitle(title);
        QPainter painter(&generator);
        page.render(&painter);
        drawn = painter.end();
    } else {
        drawn = page.grab().save(&bytes, "PNG");
    }
    if (!drawn) {
        problem = QStringLiteral("the picture could not be drawn");
        return std::nullopt;
    }
    return bytes.data();
}

QLabel *label(const QString &text, int pointSize, bool bold = false)
{
    auto *shown = new QLabel(text);
    QFont font = shown->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    shown->setFont(font);
    shown->setWordWrap(true);
    shown->setAlignment(Qt::AlignCenter);
    return shown;
}

// "INL ±16 LSB, DNL ±16 LSB, step error ±16 LSB": the band of one figure.
double bandOf(const QString &bands, const QString &figure)
{
    const QRegularExpressionMatch match
            = QRegularExpression(figure + QStringLiteral(" ±([0-9.]+)")).match(bands);
    return match.hasMatch() ? match.captured(1).toDouble() : 0;
}

} // namespace

std::optional<QByteArray> drawSweep(const SweepTable &table, bool svg, QString &problem)
{
    const auto value = [&](const char *key) {
        return table.header.value(QLatin1String(key), QStringLiteral("?"));
    };
    double first = qInf();
    double last = -qInf();
    for (const double code : table.code) {
        first = std::min(first, code);
        last = std::max(last, code);
    }
    QVector<bool> offRail(table.code.size(), true);
    QVector<bool> onRail(table.code.size(), false);
    for (qsizetype i = 0; i < table.rail.size(); ++i) {
        offRail[i] = !table.rail[i];
        onRail[i] = table.rail[i];
    }
    const QString bands = value("bands");
    // A carry is marked only where its DNL is beyond what the path can tell from zero, and
    // beyond the summary's last digit: within either it is no finding.
    const double dnlBand = std::max(bandOf(bands, "DNL"), 0.005);
    QVector<double> atCarries(table.code.size(), qQNaN());
    const QStringList carries = value("carries").split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < table.code.size(); ++i) {
        if (carries.contains(QString::number(qint64(table.code[i])))
            && std::fabs(table.dnl[i]) > dnlBand)
            atCarries[i] = table.dnl[i];
    }
    const QString line = value("settings").section(u',', -1).trimmed().section(u' ', 0, 0);

    QWidget page;
    page.setAutoFillBackground(true);
    page.setPalette(QPalette(Qt::white));
    auto *layout = new QVBoxLayout(&page);
    layout->setSpacing(2);
    layout->addWidget(
            label(QStringLiteral("TX4410 DAC %1 on board %2").arg(value("channel"), value("board")),
                  15, true));
    layout->addWidget(
            label(QStringLiteral("offset error: %1\ngain error: %2\nmonotonic: %3")
                          .arg(value("offset error"), value("gain error"), value("monotonic")),
                  9));
    layout->addWidget(label(QStringLiteral("INL: %1\nDNL: %2%3")
                                    .arg(value("INL"), value("DNL"),
                                         table.header.contains("step error")
                                                 ? "\nstep error: " + value("step error")
                                                 : QString()),
                            9));
    layout->addWidget(label(QStringLiteral("measured: %1; resolution: %2")
                                    .arg(value("measured"), value("resolution")),
                            8));
    QList<QPointF> errorLow, inlLow, stepLow, dnlLow;
    const QList<QPointF> error = drawn(table.code, table.error, first, last, &errorLow, &offRail);
    const QList<QPointF> inl = drawn(table.code, table.inl, first, last, &inlLow);
    const QList<QPointF> step = drawn(table.code, table.step, first, last, &stepLow);
    const QList<QPointF> dnl = drawn(table.code, table.dnl, first, last, &dnlLow);
    const QColor blue(31, 119, 180);
    const QColor orange(255, 127, 14);
    const QList<QChart *> charts = {
            panel(QStringLiteral("Error: measured less ideal, in ideal LSB"),
                  QStringLiteral("error (LSB)"),
                  {{QStringLiteral("error"), error, blue, false, 5, errorLow},
                   {QStringLiteral("at a rail, left out"),
                    drawn(table.code, table.error, first, last, nullptr, &onRail),
                    Qt::gray,
                    true,
                    5,
                    {}}},
                  first, last, 0, {0}, 1, false),
            panel(QStringLiteral("INL against the %1 line, in its LSB").arg(line),
                  QStringLiteral("INL (LSB)"),
                  {{QStringLiteral("INL"), inl, blue, table.code.size() <= 64, 5, inlLow}}, first,
                  last, bandOf(bands, "INL"), {0}, 1, false),
            panel(QStringLiteral("DNL (steps of one code) and step error (wider steps), in LSB"),
                  QStringLiteral("LSB"),
                  {{QStringLiteral("step error"), step, orange, true, 4, stepLow},
                   {QStringLiteral("DNL"), dnl, blue, true, 5, dnlLow},
                   {QStringLiteral("DNL beyond its band, at a carry"),
                    drawn(table.code, atCarries, first, last),
                    QColor(214, 39, 40),
                    true,
                    8,
                    {}}},
                  first, last, std::max(bandOf(bands, "DNL"), bandOf(bands, "step error")),
                  {-1, 0, 1}, 1.2, true),
    };
    QList<QChartView *> views;
    for (QChart *chart : charts) {
        views << new QChartView(chart);
        views.last()->setRenderHint(QPainter::Antialiasing);
        layout->addWidget(views.last(), 1);
    }
    layout->setStretch(layout->indexOf(views[0]), 3);
    layout->setStretch(layout->indexOf(views[1]), 3);
    layout->setStretch(layout->indexOf(views[2]), 4);
    page.resize(pageWidth, pageHeight);
    page.show();
    QGuiApplication::processEvents();
    // One code axis: every plot area from the same left to the same right, to the pixel, by
    // widening each chart's margins by what its labels left over.
    for (int pass = 0; pass < 2; ++pass) {
        double left = 0;
        double right = pageWidth;
        for (QChart *chart : charts) {
            left = std::max(left, chart->plotArea().left());
            right = std::min(right, chart->plotArea().right());
        }
        for (QChart *chart : charts) {
            const QRectF area = chart->plotArea();
            QMargins margins = chart->margins();
            margins.setLeft(margins.left() + int(std::lround(left - area.left())));
            margins.setRight(margins.right() + int(std::lround(area.right() - right)));
            chart->setMargins(margins);
        }
        QGuiApplication::processEvents();
    }

    return pictureOf(page, svg, QStringLiteral("TX4410 DAC %1 sweep").arg(value("channel")),
                     problem);
}

std::optional<QByteArray> drawResiduals(const QByteArray &text, bool svg, QString &problem)
{
    QStringList notes;
    QMap<QString, QList<QPointF>> residuals; // by channel
    double first = qInf();
    double last = -qInf();
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith('#')) {
            notes << QString::fromUtf8(line.mid(1)).trimmed();
            continue;
        }
        const QList<QByteArray> cells = line.trimmed().split(',');
        bool code = false;
        bool known = false;
        const double at = cells.value(1).toDouble(&code);
        const double lsb = cells.value(5).toDouble(&known);
        if (cells.size() != 6 || !code)
            continue;
        first = std::min(first, at);
        last = std::max(last, at);
        if (known)
            residuals[QString::fromUtf8(cells[0])] << QPointF(at, lsb);
    }
    if (residuals.isEmpty() || !(last > first)) {
        problem = QStringLiteral("no residuals to draw: the CSV holds no calibration's rows");
        return std::nullopt;
    }
    QWidget page;
    page.setAutoFillBackground(true);
    page.setPalette(QPalette(Qt::white));
    auto *layout = new QVBoxLayout(&page);
    layout->setSpacing(2);
    layout->addWidget(label(notes.value(0), 13, true));
    layout->addWidget(label(notes.mid(1).join(u'\n'), 8));
    const QList<QColor> colours = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),
                                   QColor(214, 39, 40)};
    QList<Curve> curves;
    for (auto channel = residuals.cbegin(); channel != residuals.cend(); ++channel)
        curves << Curve {QStringLiteral("DAC ") + channel.key(),
                         channel.value(),
                         colours[curves.size() % colours.size()],
                         false,
                         5,
                         {}};
    auto *view = new QChartView(panel(QStringLiteral("Residuals after correction: each point "
                                                     "predicted from its neighbours, in LSB"),
                                      QStringLiteral("residual (LSB)"), curves, first, last, 0, {0},
                                      0.5, true));
    view->setRenderHint(QPainter::Antialiasing);
    layout->addWidget(view, 1);
    page.resize(pageWidth, pageHeight / 2 + 120);
    page.show();
    QGuiApplication::processEvents();
    return pictureOf(page, svg, QStringLiteral("TX4410 calibration residuals"), problem);
}
