#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include "access.h"
#include "handoff.h"

#include <deque>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QSocketNotifier;
class USBStuff;
class Vxi11Lookup;
class WebFront;

// The server of every board: the board library holds one board per process, so each board is
// served by a one-board tx4410-server of its own, started here for each USB port path seen on
// the bus and started again after it ends once its board is there. The number of a port path,
// and with it the instrument's ports and VXI-11 device, stay the same for the whole run. One
// VXI-11 core channel, the one the port mapper names, takes every client and hands each to the
// instrument its create_link names; an index page lists the instruments.
class Supervisor final : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString program; // tx4410-server itself
        QHostAddress address;
        quint16 socketPort = 5025;       // instrument N: this + N, or any free port for 0
        std::optional<quint16> httpPort; // the index; instrument N: this + 1 + N
        QHostAddress httpAddress;
        int maxClients = 16;
        int idleSeconds = 600;
        bool attach = false;
        QString httpTokenFile;       // --http-token for each instrument's pages; empty: none
        QList<Origin> httpOrigins;   // --http-origin, for the index and each instrument
        QStringList httpOriginTexts; // as written
        // The calibration's options as given (--database, --calibration-meter, ...), for
        // each instrument: each applies and calibrates its own board's records.
        QStringList calibration;
    };
    struct Instrument
    {
        int number = 0;
        QString port; // USB port path
        bool present = false;
        bool serving = false;   // its board is up: it said so over its channel, and where
        int absentLooks = 0;    // the looks at the bus in a row that did not find it
        quint16 socketPort = 0; // as it said when listening
        quint16 httpPort = 0;
        std::unique_ptr<QProcess> process;     // while it runs
        int channel = -1;                      // our end of its channel
        std::unique_ptr<QSocketNotifier> told; // what it says over it
        bool awaySinceEnd = false;
        QDeadlineTimer retry;
        std::chrono::seconds backoff {1}; // before a start that failed is tried again
        QByteArray pending;               // a log line not yet ended
        // VXI-11 connections it has not taken yet: each waits at most handOffWait.
        struct HandOff
        {
            int descriptor;
            QByteArray received;
            std::uint32_t xid; // its create_link, answered error 9 when it waits too long
            QDeadlineTimer deadline;
        };
        std::deque<HandOff> handing;
        std::unique_ptr<QSocketNotifier> writable;
    };

    // The most connections waiting for one instrument, and how long each may wait.
    static constexpr std::size_t maxHanding = 16;
    static constexpr std::chrono::seconds handOffWait {5};
    static constexpr std::chrono::seconds longestBackoff {60};

    // How long after an instrument ended it is started again though its board never left.
    static constexpr std::chrono::seconds retryAfterEnd {30};

    Supervisor(Settings settings, USBStuff &usb, std::function<void(const QString &)> log);
    ~Supervisor() override;

    // Listens for VXI-11 and the index page, then watches the bus. False when the board
    // library cannot be used.
    bool start();
    // Ends every instrument (each sends what it owes), takes the port mapper's entry back; then
    // `done`.
    void finish(std::function<void()> done);

    const std::map<QString, Instrument> &instruments() const { return m_instruments; }

private:
    void look();
    void run(Instrument &instrument);
    void ended(Instrument &instrument, int status);
    void relay(Instrument &instrument);
    void heard(Instrument &instrument);
    Vxi11Dispatch::HandOff handTo(int number, int descriptor, const QByteArray &received,
                                  std::uint32_t xid);
    // Hands over what waits for the instrument, as far as it takes it now.
    void handOn(Instrument &instrument);
    // Connections that waited too long, or whose instrument ended: told error 9 and closed.
    void refuseWaiting(Instrument &instrument, bool all);
    QByteArray index(const QString &host) const;
    void checkFinished();

    Settings m_settings;
    USBStuff &m_usb;
    std::function<void(const QString &)> m_log;
    std::map<QString, Instrument> m_instruments; // by port path
    std::unique_ptr<Vxi11Dispatch> m_dispatch;
    std::unique_ptr<Vxi11Lookup> m_lookup;
    std::unique_ptr<WebFront> m_pages;
    bool m_vxi11On = false;
    QTimer m_watch;
    QTimer m_handOffs; // expires connections that waited too long
    std::function<void()> m_finished;
    bool m_lookupStopped = true;
};
