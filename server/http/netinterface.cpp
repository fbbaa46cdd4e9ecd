#include "netinterface.h"

#include <QFile>
#include <QNetworkInterface>

#include <cstring>

namespace {

// The default route's gateway through `interface`, from the kernel's routing tables.
QString defaultGateway(const QString &interface, bool ipv6)
{
    QFile table(ipv6 ? QStringLiteral("/proc/net/ipv6_route") : QStringLiteral("/proc/net/route"));
    if (table.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : table.readAll().split('\n')) {
            const QList<QByteArray> cells = line.simplified().split(' ');
            if (!ipv6 && cells.size() >= 8 && cells[0] == interface.toUtf8()
                && cells[1] == "00000000" && cells[7] == "00000000") {
                // The kernel prints the address as a number in the host's byte order.
                const quint32 number = cells[2].toUInt(nullptr, 16);
                quint8 bytes[4];
                std::memcpy(bytes, &number, sizeof bytes);
                return QHostAddress(quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16
                                    | quint32(bytes[2]) << 8 | bytes[3])
                        .toString();
            }
            if (ipv6 && cells.size() >= 10 && cells[9] == interface.toUtf8()
                && cells[0] == QByteArray(32, '0') && cells[1] == "00"
                && cells[4] != QByteArray(32, '0')) {
                const QByteArray hop = QByteArray::fromHex(cells[4]);
                return QHostAddress(reinterpret_cast<const quint8 *>(hop.constData())).toString();
            }
        }
    }
    return ipv6 ? QStringLiteral("::") : QStringLiteral("0.0.0.0");
}

} // namespace

InterfaceFacts interfaceFacts(const QHostAddress &address)
{
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            QHostAddress ip = entry.ip();
            ip.setScopeId({});
            if (!ip.isEqual(address))
                continue;
            const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
            InterfaceFacts facts;
            facts.name = interface.name();
            facts.subnetMask
                    = ipv6 ? QString::number(entry.prefixLength()) : entry.netmask().toString();
            facts.macAddress = interface.hardwareAddress();
            facts.gateway = defaultGateway(interface.name(), ipv6);
            facts.dhcp = !entry.isPermanent();
            facts.autoIp = address.isLinkLocal();
            return facts;
        }
    }
    return {};
}
