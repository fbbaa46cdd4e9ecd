#include "listener.h"

QString endpointText(const QHostAddress &address, quint16 port)
{
    const bool six = address.protocol() == QAbstractSocket::IPv6Protocol;
    return (six ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
            .arg(address.toString())
            .arg(port);
}
