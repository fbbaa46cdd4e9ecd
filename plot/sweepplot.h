// A sweep as tx4410-cli writes its CSV, and the picture drawn from it.
#pragma once

#include <QMap>
#include <QString>
#include <QVector>

#include <optional>

struct SweepTable
{
    QMap<QString, QString> header; // "# key: value" lines
    // Per row; NaN where a cell is empty (DNL off steps of one code, a rail's figures).
    QVector<double> code, error, inl, dnl, step;
    QVector<bool> rail;
};

// Reads the CSV; nothing, with `problem` set, when it lacks a column or holds fewer than two rows.
std::optional<SweepTable> readSweepTable(const QByteArray &text, QString &problem);

// The picture of the error against the ideal, INL, and DNL with the step errors, one shared code
// axis, under a title made from the header; PNG or SVG as `svg` says. Nothing, with `problem`
// set, when it cannot be drawn.
std::optional<QByteArray> drawSweep(const SweepTable &table, bool svg, QString &problem);

// The residuals of a calibration certificate's CSV (tx4410-cli history --export), each channel's
// against code, under its "#" lines. Nothing, with `problem` set, when it holds none.
std::optional<QByteArray> drawResiduals(const QByteArray &text, bool svg, QString &problem);
