// One board served as one instrument: the board, its instrument and host, every protocol's
// listener, the web pages with the front panel, and the DNS-SD records, owned here and torn
// down in one order.
#pragma once

#include "identification.h"
#include "options.h"
#include "webfront.h"

#include <QObject>

#include <functional>
#include <memory>

class Announcer;
class FrontPanel;
class InstrumentHost;
class QSocketNotifier;
class ServerBoard;
class ServerCalibrations;
class SocketServer;
class USBStuff;
class Vxi11Lookup;
class Vxi11Server;

namespace Scpi {
class Instrument;
}

class OneBoardServer final : public QObject
{
    Q_OBJECT

public:
    using Log = std::function<void(const QString &)>;

    OneBoardServer(const Options &options, Log log);
    // Ends in this order: nothing more comes in (the hand-off channel, the DNS-SD records); the
    // front panel, whose pages and sweep are sessions of the host (a sweep sets its channel back
    // and lets the lock go); the web pages; the VXI-11 and socket sessions with their
    // listeners; then the host, the instrument and the board they all used.
    ~OneBoardServer() override;

    // Listens, brings the board up and starts serving: 0, or the exit status to end with.
    int start();
    // Each client gets its answers, each part says when it is done; then `done`.
    void finish(std::function<void()> done);

signals:
    // The board has gone: an instrument of the server of every board ends, to be started again.
    void boardGone();

private:
    void identify();
    void announce();
    void serveHandOffs();
    BoardState boardState() const;
    Reach reachFrom(const WebFront::Asked &asked) const;

    Options m_options;
    Log m_log;
    Identity m_identity;
    bool m_vxi11On = false;
    bool m_httpOn = false;
    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<ServerBoard> m_board;
    std::unique_ptr<Scpi::Instrument> m_instrument;
    std::unique_ptr<InstrumentHost> m_host;
    std::unique_ptr<ServerCalibrations> m_calibrations;
    std::unique_ptr<SocketServer> m_socket;
    std::unique_ptr<Vxi11Server> m_vxi11;
    std::unique_ptr<Vxi11Lookup> m_lookup;
    std::unique_ptr<FrontPanel> m_panel;
    std::unique_ptr<WebFront> m_pages;
    std::unique_ptr<Announcer> m_announcer;
    std::unique_ptr<QSocketNotifier> m_handed;
};
