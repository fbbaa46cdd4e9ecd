#include "identification.h"

#include <QStringBuilder>

namespace {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString bracketed(const Reach &reach)
{
    return reach.ipv6 && reach.host.contains(u':') ? u'[' + reach.host + u']' : reach.host;
}

QString element(const char *name, const QString &text, const char *indent = "  ")
{
    return QStringLiteral("%1<%2>%3</%2>\n")
            .arg(QLatin1String(indent), QLatin1String(name), escaped(text));
}

QString row(const QString &name, const QString &value)
{
    return QStringLiteral("<tr><th scope=\"row\">%1</th><td>%2</td></tr>\n").arg(name, value);
}

} // namespace

QStringList resourceStrings(const Reach &reach)
{
    QStringList resources;
    const QString host = bracketed(reach);
    if (!reach.vxi11Device.isEmpty())
        resources << QStringLiteral("TCPIP::%1::%2::INSTR").arg(host, reach.vxi11Device);
    resources << QStringLiteral("TCPIP::%1::%2::SOCKET").arg(host).arg(reach.socketPort);
    return resources;
}

QByteArray identificationDocument(const Identity &identity, const Reach &reach)
{
    QString xml = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n");
    xml += element("Manufacturer", identity.manufacturer) % element("Model", identity.model)
            % element("SerialNumber", identity.serialNumber)
            % element("FirmwareRevision", identity.firmwareRevision)
            % element("ManufacturerDescription", identity.description)
            % element("IdentificationURL",
                      QStringLiteral("http://%1:%2/lxi/identification")
                              .arg(bracketed(reach))
                              .arg(reach.httpPort));
    xml += QStringLiteral("  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" "
                          "IPType=\"%1\"%2>\n")
                   .arg(reach.ipv6 ? "IPv6" : "IPv4",
                        reach.lan.name.isEmpty() ? QString()
                                                 : QStringLiteral(" InterfaceName=\"%1\"")
                                                           .arg(escaped(reach.lan.name)));
    for (const QString &resource : resourceStrings(reach))
        xml += element("InstrumentAddressString", resource, "    ");
    const auto boolean = [](bool value) {
        return value ? QStringLiteral("true") : QStringLiteral("false");
    };
    xml += element("Hostname", reach.host, "    ") % element("IPAddress", reach.ipAddress, "    ")
            % element("SubnetMask", reach.lan.subnetMask, "    ")
            % element("MACAddress", reach.lan.macAddress, "    ")
            % element("Gateway", reach.lan.gateway, "    ")
            % element("DHCPEnabled", boolean(reach.lan.dhcp), "    ")
            % element("AutoIPEnabled", boolean(reach.lan.autoIp), "    ");
    xml += QStringLiteral("  </Interface>\n")
            % element("LXIVersion", QString::fromLatin1(lxiVersion))
            % QStringLiteral("</LXIDevice>\n");
    return xml.toUtf8();
}

QByteArray welcomePage(const Identity &identity, const Reach &reach, const BoardState &board)
{
    const QString title = escaped(identity.model % QStringLiteral(" on ") % reach.host);
    QString html
            = QStringLiteral(
                      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<title>%1</title>\n<style>\n"
                      "body { font-family: sans-serif; margin: 2em; color: #222; }\n"
                      "table { border-collapse: collapse; margin-bottom: 1.5em; }\n"
                      "th, td { text-align: left; padding: 0.3em 1em 0.3em 0; vertical-align: "
                      "top; }\n"
                      "th { font-weight: normal; color: #555; }\n"
                      ".number { text-align: right; }\n"
                      "td.number { font-family: monospace; }\n"
                      "caption { text-align: left; white-space: nowrap; padding-bottom: 0.3em; }\n"
                      "</style>\n</head>\n<body>\n<h1>%1</h1>\n")
                      .arg(title);
    html += QStringLiteral("<h2>Instrument</h2>\n<table>\n")
            % row(QStringLiteral("Manufacturer"), escaped(identity.manufacturer))
            % row(QStringLiteral("Model"), escaped(identity.model))
            % row(QStringLiteral("Serial number"), escaped(identity.serialNumber))
            % row(QStringLiteral("Firmware revision"), escaped(identity.firmwareRevision))
            % row(QStringLiteral("Description"), escaped(identity.description))
            % row(QStringLiteral("LXI version"), QString::fromLatin1(lxiVersion))
            % row(QStringLiteral("Host name"), escaped(reach.host))
            % row(QStringLiteral("IP address"), escaped(reach.ipAddress))
            % row(QStringLiteral("MAC address"), escaped(reach.lan.macAddress));
    QStringList resources = resourceStrings(reach);
    for (QString &resource : resources)
        resource = QStringLiteral("<code>%1</code>").arg(escaped(resource));
    html += row(QStringLiteral("VISA resources"), resources.join(QStringLiteral("<br>")))
            % row(QStringLiteral("LXI identification"),
                  QStringLiteral("<a href=\"/lxi/identification\">/lxi/identification</a>"))
            % QStringLiteral("</table>\n");

    html += QStringLiteral("<h2>Board</h2>\n<table>\n")
            % row(QStringLiteral("USB port"), escaped(board.port))
            % row(QStringLiteral("State"),
                  board.up ? QStringLiteral("running")
                           : QStringLiteral("gone: brought up again when it is back on the bus"))
            % row(QStringLiteral("Brought back since the server started"),
                  QString::number(board.restarts) + (board.restarts == 1 ? " time" : " times"))
            % row(QStringLiteral("Reference"), escaped(board.reference) + " V")
            % row(QStringLiteral("ADC full scale (Vdd)"), escaped(board.vdd) + " V")
            % row(QStringLiteral("CLR pin"), escaped(board.clr))
            % row(QStringLiteral("LDAC pin"), escaped(board.ldac)) % QStringLiteral("</table>\n");
    html += QStringLiteral("<table>\n<caption>Each DAC output as the server last wrote it"
                           "</caption>\n<tr><th scope=\"col\">Channel</th><th scope=\"col\" "
                           "class=\"number\">Volts</th><th scope=\"col\" class=\"number\">Code"
                           "</th></tr>\n");
    for (std::size_t channel = 0; channel < board.volts.size(); ++channel) {
        html += QStringLiteral("<tr><th scope=\"row\">%1</th><td class=\"number\">%2</td>"
                               "<td class=\"number\">%3</td></tr>\n")
                        .arg(QChar(u'A' + int(channel)))
                        .arg(escaped(board.volts[channel]), escaped(board.codes[channel]));
    }
    html += QStringLiteral("</table>\n<h2>Clients</h2>\n<table>\n")
            % row(QStringLiteral("Socket connections"), QString::number(board.socketClients))
            % row(QStringLiteral("VXI-11 links"), QString::number(board.vxi11Links))
            % row(QStringLiteral("Lock"),
                  board.lockHolder.isEmpty() ? QStringLiteral("free")
                                             : QStringLiteral("held by a VXI-11 link from %1")
                                                       .arg(escaped(board.lockHolder)))
            % QStringLiteral("</table>\n<p>Nothing on this page changes the board.</p>\n"
                             "</body>\n</html>\n");
    return html.toUtf8();
}
