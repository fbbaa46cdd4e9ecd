#pragma once

#include "panelsweep.h"
#include "session.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class InstrumentHost;
class WebSocket;
class ServerBoard;

// The front panel's side on the server: each open page is a client of the instrument like a
// socket connection, and every setting it asks for is a program message run through the same
// command table, so that what a page sets is what a script reads back and the other way round.
// Pages get the state when it changes and the readback of the four DAC outputs once a second,
// read once for all of them. A page's messages and what it is sent are JSON (docs/server.md).
class FrontPanel final : public QObject
{
    Q_OBJECT

public:
    // At most `maxPages` pages at once; one more is told so and closed.
    FrontPanel(InstrumentHost &host, ServerBoard &board, int maxPages,
               std::function<void(const QString &)> log);
    ~FrontPanel() override;

    void addPage(std::unique_ptr<WebSocket> socket);
    // The last sweep's files, for downloading.
    QByteArray sweepFile(const QString &name) const { return m_sweep.file(name); }

    // The program message a page's request stands for, or the reason it stands for none.
    struct Request
    {
        QByteArray message;
        QString refusal;
    };
    static Request programMessage(const QJsonObject &request);

    // An error as a person reads it: `-222,"Data out of range;SOUR1:VOLT 6"` becomes
    // "Data out of range (-222): SOUR1:VOLT 6".
    static QString errorInWords(const QByteArray &error);

    // A readback sample's volts, as MEASure:VOLTage? answers them.
    static QString sampleVolts(int code, double vdd);

private:
    class Page;

    void received(Page &page, const QString &text);
    void closed(Page *page);
    void readBack();
    void sendState(bool evenUnchanged);
    void send(Page &page, const QJsonObject &message);
    void broadcast(const QJsonObject &message);
    QJsonObject state() const;
    // Why the page cannot use the instrument now, in words; empty when it can.
    QString shutOut(const Session &page) const;

    InstrumentHost &m_host;
    ServerBoard &m_board;
    int m_maxPages;
    std::vector<std::unique_ptr<Page>> m_pages;
    QTimer m_readback;  // once a second while a page is open
    QTimer m_stateSoon; // gathers the changes of a burst of commands into one message
    QByteArray m_lastState;
    PanelSweep m_sweep;
};
