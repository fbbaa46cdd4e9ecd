#include "sweepplot.h"

#include <QChart>
#include <QChartView>
#include <QFileInfo>
#include <QLabel>
#include <QLineSeries>
#include <QPainter>
#include <QSaveFile>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>
#include <memory>

std::optional<SweepTable> readSweepTable(const QByteArray &text, QString &problem)
{
    SweepTable table;
    const QStringList wanted = {"code", "ideal_v", "measured_v", "inl_lsb", "dnl_lsb"};
    QVector<qsizetype> column;
    QVector<QVector<double> *> into
            = {&table.code, &table.ideal, &table.measured, &table.inl, &table.dnl};
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
                if (column.last() < 0) {
                    problem = QStringLiteral("the CSV has no column %1").arg(name);
                    return std::nullopt;
                }
            }
            continue;
        }
        for (qsizetype i = 0; i < wanted.size(); ++i) {
            bool number = false;
            const double value = cells.value(column[i]).toDouble(&number);
            *into[i] << (number ? value : qQNaN());
        }
    }
    if (table.code.size() < 2) {
        problem = QStringLiteral("the CSV holds fewer than two points");
        return std::nullopt;
    }
    return table;
}

namespace {

QChartView *panel(const QString &title, const QString &yTitle,
                  const QList<std::pair<QString, QList<QPointF>>> &curves, bool dots = false)
{
    auto *chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setVisible(curves.size() > 1);
    chart->legend()->setAlignment(Qt::AlignTop);
    auto *x = new QValueAxis;
    auto *y = new QValueAxis;
    x->setTitleText(QStringLiteral("code"));
    x->setLabelFormat(QStringLiteral("%d"));
    // Ticks on round codes: powers of two, as the codes are counted.
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0);
    y->setTitleText(yTitle);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    double low = qInf();
    double high = -qInf();
    double first = qInf();
    double last = -qInf();
    for (const auto &[name, points] : curves) {
        QXYSeries *series = dots ? static_cast<QXYSeries *>(new QScatterSeries)
                                 : static_cast<QXYSeries *>(new QLineSeries);
        if (auto *scatter = qobject_cast<QScatterSeries *>(series)) {
            scatter->setMarkerSize(6);
            scatter->setBorderColor(Qt::transparent);
        }
        // The first of several curves is the reference: thin, dashed, grey.
        if (curves.size() > 1 && name == curves.front().first)
            series->setPen(QPen(Qt::gray, 1.5, Qt::DashLine));
        series->setName(name);
        for (const QPointF &point : points) {
            if (std::isnan(point.y()))
                continue;
            series->append(point);
            low = std::min(low, point.y());
            high = std::max(high, point.y());
            first = std::min(first, point.x());
            last = std::max(last, point.x());
        }
        chart->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
    }
    const double margin = high > low ? (high - low) * 0.05 : std::max(std::fabs(high), 1.0) * 0.05;
    y->setRange(low - margin, high + margin);
    y->applyNiceNumbers();
    x->setRange(first, last);
    x->setTickInterval(last - first > 16384 ? 16384 : last - first > 1024 ? 1024 : 64);
    auto *view = new QChartView(chart);
    view->setRenderHint(QPainter::Antialiasing);
    return view;
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

} // namespace

bool drawSweep(const SweepTable &table, const QString &file, QString &problem)
{
    const auto value = [&](const char *key) {
        return table.header.value(QLatin1String(key), QStringLiteral("?"));
    };
    QList<QPointF> ideal, measured, inl, dnl;
    for (qsizetype i = 0; i < table.code.size(); ++i) {
        ideal << QPointF(table.code[i], table.ideal[i]);
        measured << QPointF(table.code[i], table.measured[i]);
        inl << QPointF(table.code[i], table.inl[i]);
        dnl << QPointF(table.code[i], table.dnl[i]);
    }
    QWidget page;
    page.setAutoFillBackground(true);
    page.setPalette(QPalette(Qt::white));
    auto *layout = new QVBoxLayout(&page);
    layout->addWidget(
            label(QStringLiteral("TX4410 DAC %1 on board %2").arg(value("channel"), value("board")),
                  15, true));
    layout->addWidget(
            label(QStringLiteral("offset error %1    gain error %2    monotonic: %3")
                          .arg(value("offset error"), value("gain error"), value("monotonic")),
                  10));
    layout->addWidget(label(QStringLiteral("INL %1\nDNL %2").arg(value("INL"), value("DNL")), 10));
    layout->addWidget(
            label(QStringLiteral("%1, %2. Resolution: %3")
                          .arg(value("measured"), value("settings").section(u',', -1).trimmed(),
                               value("resolution")),
                  9));
    layout->addWidget(
            panel(QStringLiteral("Transfer function: measured over ideal"), QStringLiteral("volts"),
                  {{QStringLiteral("ideal"), ideal}, {QStringLiteral("measured"), measured}}),
            3);
    layout->addWidget(
            panel(QStringLiteral("INL against the %1 line")
                          .arg(value("settings").section(u',', -1).trimmed().section(u' ', 0, 0)),
                  QStringLiteral("INL (LSB)"), {{QStringLiteral("INL"), inl}}),
            2);
    layout->addWidget(panel(QStringLiteral("DNL per step of the sweep, per code"),
                            QStringLiteral("DNL (LSB)"), {{QStringLiteral("DNL"), dnl}},
                            table.code.size() <= 300),
                      2);
    page.resize(900, 1100);
    page.show();

    // Made anew whole or not at all; what is there and no plain file written as it is.
    const QFileInfo there(file);
    std::unique_ptr<QFileDevice> made;
    if (there.exists() && (!there.isFile() || there.isSymLink()))
        made = std::make_unique<QFile>(file);
    else
        made = std::make_unique<QSaveFile>(file);
    QFileDevice &out = *made;
    if (!out.open(QIODevice::WriteOnly)) {
        problem = QStringLiteral("cannot write %1: %2").arg(file, out.errorString());
        return false;
    }
    bool drawn = false;
    if (QFileInfo(file).suffix().compare(u"svg", Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&out);
        svg.setSize(page.size());
        svg.setViewBox(page.rect());
        svg.setTitle(QStringLiteral("TX4410 DAC %1 sweep").arg(value("channel")));
        QPainter painter(&svg);
        page.render(&painter);
        drawn = painter.end();
    } else {
        drawn = page.grab().save(&out, "PNG");
    }
    auto *saved = qobject_cast<QSaveFile *>(made.get());
    if (!drawn || !out.flush() || (saved && !saved->commit())) {
        problem = QStringLiteral("cannot write %1: %2").arg(file, out.errorString());
        return false;
    }
    return true;
}
