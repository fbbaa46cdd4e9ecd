#include "indexpage.h"

#include <QStringBuilder>

QByteArray indexPage(const QString &host, bool vxi11, const std::vector<IndexRow> &rows)
{
    const QString name = host.toHtmlEscaped();
    QString html = QStringLiteral(
                           "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                           "<title>TX4410 boards on %1</title>\n<style>\n"
                           "body { font-family: sans-serif; margin: 2em; color: #222; }\n"
                           "table { border-collapse: collapse; }\n"
                           "th, td { text-align: left; padding: 0.3em 1em 0.3em 0; }\n"
                           "th { font-weight: normal; color: #555; }\n"
                           "</style>\n</head>\n<body>\n<h1>TX4410 boards on %1</h1>\n")
                           .arg(name);
    if (rows.empty()) {
        html += QStringLiteral("<p>No board on the bus yet: each one plugged in is listed here."
                               "</p>\n");
    } else {
        html += QStringLiteral(
                "<table id=\"instruments\">\n<tr><th scope=\"col\">Instrument</th>"
                "<th scope=\"col\">USB port</th><th scope=\"col\">State</th>"
                "<th scope=\"col\">VISA resources</th><th scope=\"col\">Web page</th></tr>\n");
    }
    for (const IndexRow &row : rows) {
        const QString device = QStringLiteral("inst%1").arg(row.number);
        const QString state = !row.running ? QStringLiteral("not served: started again once "
                                                            "its board is back")
                : row.present              ? QStringLiteral("on the bus")
                                           : QStringLiteral("away: served again once it is back");
        QString resources;
        if (vxi11)
            resources = QStringLiteral("<code>TCPIP::%1::%2::INSTR</code><br>").arg(name, device);
        if (row.socketPort != 0)
            resources += QStringLiteral("<code>TCPIP::%1::%2::SOCKET</code>")
                                 .arg(name)
                                 .arg(row.socketPort);
        const QString page = row.httpPort == 0
                ? QStringLiteral("none")
                : QStringLiteral("<a href=\"http://%1:%2/\">%1:%2</a>, its <a href=\"http://%1:%2"
                                 "/panel/\">front panel</a>")
                          .arg(name)
                          .arg(row.httpPort);
        html += QStringLiteral("<tr id=\"%1\"><th scope=\"row\">%1</th><td>%2</td><td>%3</td>"
                               "<td>%4</td><td>%5</td></tr>\n")
                        .arg(device, row.port.toHtmlEscaped(), state, resources, page);
    }
    if (!rows.empty())
        html += QStringLiteral("</table>\n");
    html += QStringLiteral("<p>An instrument keeps its number, ports and VXI-11 device while its "
                           "board stays on the same USB port.</p>\n</body>\n</html>\n");
    return html.toUtf8();
}
