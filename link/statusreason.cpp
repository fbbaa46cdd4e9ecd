#include "statusreason.h"

#include "statustexts.h"

QString statusFinding(int status, const QString &detail)
{
    const StatusTexts::Row *row = StatusTexts::find(status);
    if (row == nullptr)
        return QStringLiteral("the board library failed with status %1, which it does not explain")
                .arg(status);
    QString text = QString::fromUtf8(row->meaning);
    if (!detail.isEmpty())
        text += QStringLiteral(" (%1)").arg(detail);
    return text;
}

QString statusReason(int status, const QString &detail)
{
    const StatusTexts::Row *row = StatusTexts::find(status);
    QString text = statusFinding(status, detail);
    if (row == nullptr)
        return text;
    if (*row->fix != '\0')
        text += QStringLiteral(". Fix: %1").arg(QString::fromUtf8(row->fix));
    return text + QStringLiteral(" [status %1, %2]").arg(status).arg(QLatin1String(row->name));
}

QString requestFailureReason(const RequestFailure &failure, const QString &detail)
{
    return QStringLiteral("request %1 (0x%2) failed: %3")
            .arg(QLatin1String(failure.operation))
            .arg(failure.fields.code, 2, 16, QLatin1Char('0'))
            .arg(statusReason(failure.status, detail));
}
