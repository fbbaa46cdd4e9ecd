// A sweep as tx4410-cli writes its CSV, and the picture drawn from it.
#pragma once

#include <QMap>
#include <QString>
#include <QVector>

#include <optional>

struct SweepTable
{
    QMap<QString, QString> header;                   // "# key: value" lines
    QVector<double> code, ideal, measured, inl, dnl; // dnl: NaN for the first row
};

// Reads the CSV; nothing, with `problem` set, when it lacks a column or holds fewer than two rows.
std::optional<SweepTable> readSweepTable(const QByteArray &text, QString &problem);

// Draws the transfer curve, INL and DNL under a title made from the header, into a .png or
// .svg file; false, with `problem` set, when the file cannot be written.
bool drawSweep(const SweepTable &table, const QString &file, QString &problem);
