// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/socket/MdnsFinder.h"

#include "sessions/socket/MdnsRecords.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QTimer>

namespace {

const QString AVAHI = QStringLiteral("org.freedesktop.Avahi");
const QString AVAHI_SERVER = QStringLiteral("org.freedesktop.Avahi.Server");
const QString AVAHI_BROWSER = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
const QString SERVICE_TYPE = QStringLiteral("_scpi-raw._tcp");
const QString DEFAULT_SYSTEM_BUS = QStringLiteral("unix:path=/run/dbus/system_bus_socket");

// Avahi's "any interface", "any protocol" and IPv4.
constexpr int AVAHI_IF_UNSPEC = -1;
constexpr int AVAHI_PROTO_UNSPEC = -1;
constexpr int AVAHI_PROTO_INET = 0;

// The longest any one call may take, and the whole browse.
constexpr int CALL_TIMEOUT_MS = 1000;
constexpr int BROWSE_MS = 2000;
constexpr int TICK_MS = 50;

// Takes the browser's signals on the finder's thread. They may come before
// the call that made the browser has returned its path, so every browser's
// signals are taken and sorted by path afterwards.
class CBrowserSignals : public QObject
{
    Q_OBJECT

public:
    QList<QDBusMessage> pending;
    QEventLoop *loop = nullptr;

public slots:
    void Take(const QDBusMessage &message)
    {
        pending.append(message);
        if (loop)
            loop->quit();
    }
};

// The connection of one search, closed with it.
class CPrivateBus
{
public:
    explicit CPrivateBus(const QString &address)
        : m_name(QStringLiteral("tallix-mdns-%1").arg(s_next.fetchAndAddRelaxed(1))),
          m_bus(QDBusConnection::connectToBus(address, m_name))
    {
    }
    ~CPrivateBus() { QDBusConnection::disconnectFromBus(m_name); }
    CPrivateBus(const CPrivateBus &) = delete;
    CPrivateBus &operator=(const CPrivateBus &) = delete;

    QDBusConnection &Bus() { return m_bus; }

private:
    static QAtomicInt s_next;
    QString m_name;
    QDBusConnection m_bus;
};

QAtomicInt CPrivateBus::s_next;

QString SystemBusAddress()
{
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    return address.isEmpty() ? DEFAULT_SYSTEM_BUS : address;
}

QString Resolve(QDBusConnection &bus, const CMdnsService &item)
{
    // IPv4 first: an instrument's IPv6 address is often only link-local.
    for (const int protocol : {AVAHI_PROTO_INET, AVAHI_PROTO_UNSPEC}) {
        QDBusMessage call = QDBusMessage::createMethodCall(AVAHI, QStringLiteral("/"), AVAHI_SERVER,
                                                           QStringLiteral("ResolveService"));
        call << item.interfaceIndex << item.protocol << item.name << item.type << item.domain << protocol
             << 0u;
        const QDBusMessage answer = bus.call(call, QDBus::Block, CALL_TIMEOUT_MS);
        if (answer.type() == QDBusMessage::ReplyMessage) {
            const QString resource = ResolvedMdnsResource(item, protocol, answer.arguments());
            if (!resource.isEmpty())
                return resource;
        }
    }
    return QString();
}

} // namespace

void CMdnsFinder::Find(const std::function<void(const CFoundResource &)> &found,
                       const std::atomic<bool> &cancelled)
{
    if (cancelled)
        return;
    const QString address = m_busAddress.isEmpty() ? SystemBusAddress() : m_busAddress;
    // No bus at all: not even an attempt to connect.
    if (address.startsWith(QLatin1String("unix:path=")) &&
        !QFileInfo::exists(address.mid(10).section(QLatin1Char(','), 0, 0)))
        return;
    CPrivateBus privateBus(address);
    QDBusConnection &bus = privateBus.Bus();
    if (!bus.isConnected())
        return;

    // Only an avahi that is running: asking it would otherwise start it.
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << AVAHI;
    const QDBusMessage running = bus.call(ask, QDBus::Block, CALL_TIMEOUT_MS);
    if (running.type() != QDBusMessage::ReplyMessage || !running.arguments().value(0).toBool() || cancelled)
        return;

    CBrowserSignals signals_;
    for (const char *member : {"ItemNew", "AllForNow", "Failure"})
        bus.connect(AVAHI, QString(), AVAHI_BROWSER, QLatin1String(member), &signals_,
                    SLOT(Take(QDBusMessage)));

    QDBusMessage create = QDBusMessage::createMethodCall(AVAHI, QStringLiteral("/"), AVAHI_SERVER,
                                                         QStringLiteral("ServiceBrowserNew"));
    create << AVAHI_IF_UNSPEC << AVAHI_PROTO_UNSPEC << SERVICE_TYPE << QString() << 0u;
    const QDBusMessage created = bus.call(create, QDBus::Block, CALL_TIMEOUT_MS);
    if (created.type() != QDBusMessage::ReplyMessage || created.arguments().isEmpty())
        return;
    const QString browser = created.arguments().first().value<QDBusObjectPath>().path();

    QEventLoop loop;
    signals_.loop = &loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(TICK_MS);
    QElapsedTimer clock;
    clock.start();
    QSet<QString> seenServices;
    QSet<QString> seenResources;
    bool done = false;
    while (!done && !cancelled && clock.elapsed() < BROWSE_MS) {
        if (signals_.pending.isEmpty())
            loop.exec();
        const QList<QDBusMessage> messages = std::exchange(signals_.pending, {});
        for (const QDBusMessage &message : messages) {
            // Each resolve may take a while: a flood of announcements ends
            // with the browse all the same.
            if (cancelled || clock.elapsed() >= BROWSE_MS)
                break;
            if (message.type() != QDBusMessage::SignalMessage || message.path() != browser)
                continue;
            if (message.member() != QLatin1String("ItemNew")) {
                done = true; // AllForNow, or the browser failed
                continue;
            }
            CMdnsService item;
            if (!ParseMdnsItem(message.arguments(), SERVICE_TYPE, item))
                continue;
            // One service is announced on every interface and protocol.
            const QString key = item.name + QLatin1Char('\n') + item.type + QLatin1Char('\n') + item.domain;
            if (seenServices.contains(key))
                continue;
            const QString resource = Resolve(bus, item);
            if (resource.isEmpty() || seenResources.contains(resource))
                continue;
            seenServices.insert(key);
            seenResources.insert(resource);
            found(CFoundResource{resource, item.name, true});
        }
    }
    signals_.loop = nullptr;
    // Waited for, so that the request leaves before the connection closes.
    bus.call(QDBusMessage::createMethodCall(AVAHI, browser, AVAHI_BROWSER, QStringLiteral("Free")),
             QDBus::Block, CALL_TIMEOUT_MS);
}

#include "MdnsFinder.moc"
