#include "udevrules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

namespace UdevRules {

const QStringList &folders()
{
    static const QStringList all
            = {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
               "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
    return all;
}

QStringList effective(const QStringList &folders)
{
    QMap<QString, QString> byName; // sorted by name, as udev sorts them
    for (const QString &folder : folders) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList({"*.rules"}, QDir::Files | QDir::Readable)) {
            if (!byName.contains(name))
                byName.insert(name, dir.filePath(name));
        }
    }
    return byName.values();
}

QString fileFor(const QStringList &files, const QString &vendor, const QString &product)
{
    const QRegularExpression matches(
            QStringLiteral("ATTRS?\\{idVendor\\}==\"%1\".*ATTRS?\\{idProduct\\}==\"%2\"")
                    .arg(vendor, product),
            QRegularExpression::CaseInsensitiveOption);
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &text : file.readAll().split('\n')) {
            if (!text.trimmed().startsWith('#')
                && matches.match(QString::fromUtf8(text)).hasMatch())
                return path;
        }
    }
    return {};
}

bool beforeSeat(const QString &file)
{
    return QFileInfo(file).fileName() < QLatin1String(seatFile);
}

QString ruleLine(const QString &vendor, const QString &product)
{
    return QStringLiteral("SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", "
                          "ATTR{idVendor}==\"%1\", ATTR{idProduct}==\"%2\", TAG+=\"uaccess\", "
                          "GROUP=\"plugdev\", MODE=\"0660\"")
            .arg(vendor, product);
}

} // namespace UdevRules
