#pragma once

#include <QByteArrayList>
#include <QHostAddress>
#include <QObject>

#include <functional>
#include <vector>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiGLibPoll;

// The instrument's DNS-SD records, published through avahi-daemon with Avahi's client library.
// Avahi's GLib adapter runs on the GLib main loop that Qt's event loop is on Debian, so its
// sockets and timers are served by the one loop, no thread. Where avahi-daemon does not run,
// a log line says so and the records go out once it starts; when it goes (stopped, upgraded),
// the log says so and they go out again once it is back.
class Announcer final : public QObject
{
    Q_OBJECT

public:
    struct Service
    {
        QByteArray type; // "_scpi-raw._tcp"
        quint16 port;
        QByteArrayList text; // TXT "key=value" strings
    };

    explicit Announcer(std::function<void(const QString &)> log);
    ~Announcer() override;

    // Publishes the services under `name` (made unique by Avahi when taken) on the interface
    // that holds `address`, or on every interface for an any-address.
    void announce(const QString &name, const QHostAddress &address, std::vector<Service> services);

private:
    void connectClient();
    static void clientChanged(AvahiClient *client, int state, void *self);
    static void groupChanged(AvahiEntryGroup *group, int state, void *self);
    void publish(AvahiClient *client);

    std::function<void(const QString &)> m_log;
    AvahiGLibPoll *m_poll = nullptr;
    AvahiClient *m_client = nullptr;
    AvahiEntryGroup *m_group = nullptr;
    QByteArray m_name;
    int m_interface = -1;
    int m_protocol = -1;
    std::vector<Service> m_services;
    bool m_waitLogged = false;
};
