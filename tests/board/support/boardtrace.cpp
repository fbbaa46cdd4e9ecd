#include "boardtrace.h"

#include <QFile>
#include <QRegularExpression>

std::optional<qint64> TraceRecord::number(const QString &name) const
{
    const QRegularExpression pattern(QStringLiteral("(?:^| )%1=(-?)(0x)?([0-9a-f]+)(?: |$)")
                                             .arg(QRegularExpression::escape(name)));
    const QRegularExpressionMatch match = pattern.match(fields);
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 magnitude = match.captured(3).toLongLong(nullptr, match.hasCaptured(2) ? 16 : 10);
    return match.captured(1).isEmpty() ? magnitude : -magnitude;
}

QList<TraceRecord> readTrace(const QString &file)
{
    static const QRegularExpression line(QStringLiteral("^(\\w+) (.*) status=(-?\\d+)$"));
    QList<TraceRecord> records;
    QFile input(file);
    for (const QByteArray &bytes :
         input.open(QIODevice::ReadOnly) ? input.readAll().split('\n') : QByteArrayList()) {
        const QRegularExpressionMatch match = line.match(QString::fromLatin1(bytes));
        if (match.hasMatch())
            records.append({match.captured(1), match.captured(2), match.captured(3).toInt()});
    }
    return records;
}
