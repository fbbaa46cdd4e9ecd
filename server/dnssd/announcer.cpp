#include "announcer.h"

#include <QAbstractEventDispatcher>
#include <QNetworkInterface>
#include <QTimer>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-glib/glib-watch.h>

namespace {

// A DNS label holds at most 63 bytes; cut on a whole UTF-8 character.
QByteArray instanceName(const QString &name)
{
    QByteArray utf8 = name.toUtf8();
    if (utf8.size() > 63) {
        utf8.truncate(63);
        while (!utf8.isEmpty() && (utf8.back() & 0xC0) == 0x80)
            utf8.chop(1);
        if (!utf8.isEmpty() && (utf8.back() & 0x80) != 0)
            utf8.chop(1);
    }
    return utf8;
}

} // namespace

Announcer::Announcer(std::function<void(const QString &)> log)
    : m_log(std::move(log))
{ }

Announcer::~Announcer()
{
    // Freeing the client withdraws its records.
    if (m_client != nullptr)
        avahi_client_free(m_client);
    if (m_poll != nullptr)
        avahi_glib_poll_free(m_poll);
}

void Announcer::announce(const QString &name, const QHostAddress &address,
                         std::vector<Service> services)
{
    m_name = instanceName(name);
    m_services = std::move(services);
    m_protocol = address.protocol() == QAbstractSocket::IPv4Protocol ? AVAHI_PROTO_INET
            : address.protocol() == QAbstractSocket::IPv6Protocol    ? AVAHI_PROTO_INET6
                                                                     : AVAHI_PROTO_UNSPEC;
    m_interface = AVAHI_IF_UNSPEC;
    const bool any = address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6
            || address == QHostAddress::Any;
    if (any) {
        m_protocol = AVAHI_PROTO_UNSPEC;
    } else {
        for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
                if (entry.ip().isEqual(address))
                    m_interface = interface.index();
            }
        }
    }
    // Qt's GLib dispatcher iterates the default main context, where Avahi's adapter puts its
    // watches: anything else would leave them unserved.
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr || !dispatcher->inherits("QEventDispatcherGlib")) {
        m_log(QStringLiteral("DNS-SD off: Qt's event loop does not run on GLib here "
                             "(is QT_NO_GLIB set?)"));
        return;
    }
    m_poll = avahi_glib_poll_new(nullptr, G_PRIORITY_DEFAULT);
    connectClient();
}

void Announcer::connectClient()
{
    int error = 0;
    // NO_FAIL: without avahi-daemon the client waits for it rather than failing.
    m_client = avahi_client_new(
            avahi_glib_poll_get(m_poll), AVAHI_CLIENT_NO_FAIL,
            [](AvahiClient *client, AvahiClientState state, void *self) {
                clientChanged(client, int(state), self);
            },
            this, &error);
    if (m_client == nullptr)
        m_log(QStringLiteral("DNS-SD off: avahi-daemon cannot be reached (%1)")
                      .arg(QString::fromUtf8(avahi_strerror(error))));
}

void Announcer::clientChanged(AvahiClient *client, int state, void *self)
{
    auto &announcer = *static_cast<Announcer *>(self);
    switch (AvahiClientState(state)) {
    case AVAHI_CLIENT_S_RUNNING:
        announcer.publish(client);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host's own name is being settled: ours go out again once it is.
        if (announcer.m_group != nullptr)
            avahi_entry_group_reset(announcer.m_group);
        break;
    case AVAHI_CLIENT_CONNECTING:
        if (!std::exchange(announcer.m_waitLogged, true))
            announcer.m_log(QStringLiteral("DNS-SD waits: avahi-daemon does not run; the "
                                           "instrument is announced once it starts"));
        // The daemon's records went with it: made again once it is back.
        if (announcer.m_group != nullptr)
            avahi_entry_group_free(std::exchange(announcer.m_group, nullptr));
        break;
    case AVAHI_CLIENT_FAILURE:
        if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
            // The daemon went (stopped, upgraded): a new client waits for it, and the records
            // go out again once it is back.
            announcer.m_log(QStringLiteral("DNS-SD waits: avahi-daemon has gone; the instrument "
                                           "is announced again once it is back"));
            QTimer::singleShot(0, &announcer, [&announcer] {
                announcer.m_group = nullptr; // freed with its client
                if (announcer.m_client != nullptr)
                    avahi_client_free(std::exchange(announcer.m_client, nullptr));
                announcer.connectClient();
            });
            break;
        }
        announcer.m_log(
                QStringLiteral("DNS-SD off: %1")
                        .arg(QString::fromUtf8(avahi_strerror(avahi_client_errno(client)))));
        break;
    }
}

void Announcer::publish(AvahiClient *client)
{
    if (m_group == nullptr) {
        m_group = avahi_entry_group_new(
                client,
                [](AvahiEntryGroup *group, AvahiEntryGroupState state, void *self) {
                    groupChanged(group, int(state), self);
                },
                this);
        if (m_group == nullptr) {
            m_log(QStringLiteral("DNS-SD off: %1")
                          .arg(QString::fromUtf8(avahi_strerror(avahi_client_errno(client)))));
            return;
        }
    }
    if (!avahi_entry_group_is_empty(m_group))
        return;
    for (const Service &service : m_services) {
        AvahiStringList *text = nullptr;
        for (const QByteArray &entry : service.text)
            text = avahi_string_list_add(text, entry.constData());
        text = avahi_string_list_reverse(text);
        const int added = avahi_entry_group_add_service_strlst(
                m_group, m_interface, m_protocol, AvahiPublishFlags(0), m_name.constData(),
                service.type.constData(), nullptr, nullptr, service.port, text);
        avahi_string_list_free(text);
        if (added == AVAHI_ERR_COLLISION) {
            groupChanged(m_group, AVAHI_ENTRY_GROUP_COLLISION, this);
            return;
        }
        if (added < 0) {
            m_log(QStringLiteral("DNS-SD off: %1 cannot be announced (%2)")
                          .arg(QString::fromLatin1(service.type),
                               QString::fromUtf8(avahi_strerror(added))));
            return;
        }
    }
    avahi_entry_group_commit(m_group);
}

void Announcer::groupChanged(AvahiEntryGroup *group, int state, void *self)
{
    auto &announcer = *static_cast<Announcer *>(self);
    switch (AvahiEntryGroupState(state)) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED: {
        QStringList types;
        for (const Service &service : announcer.m_services)
            types << QString::fromLatin1(service.type);
        announcer.m_log(QStringLiteral("DNS-SD: announced as \"%1\" (%2)")
                                .arg(QString::fromUtf8(announcer.m_name), types.join(u' ')));
        break;
    }
    case AVAHI_ENTRY_GROUP_COLLISION: {
        // Another instrument has the name: the next one Avahi offers ("... #2").
        char *other = avahi_alternative_service_name(announcer.m_name.constData());
        announcer.m_name = other;
        avahi_free(other);
        avahi_entry_group_reset(group);
        announcer.publish(avahi_entry_group_get_client(group));
        break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE:
        announcer.m_log(QStringLiteral("DNS-SD off: %1")
                                .arg(QString::fromUtf8(avahi_strerror(
                                        avahi_client_errno(avahi_entry_group_get_client(group))))));
        break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}
