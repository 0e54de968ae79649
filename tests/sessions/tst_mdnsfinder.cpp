// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/socket/MdnsFinder.h"
#include "sessions/ResourceParser.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QMutex>
#include <QTest>
#include <QTimer>

#include <net/if.h>
#include <thread>

namespace {

const QString BROWSER_INTERFACE = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
const QString BROWSER_PATH = QStringLiteral("/Client1/ServiceBrowser1");

// One service as the fake daemon announces it.
struct CService
{
    int interfaceIndex;
    int protocol; // 0 IPv4, 1 IPv6
    QString name;
    QString address;
    int port;
    bool resolves;
    QString type = QStringLiteral("_scpi-raw._tcp");
    // The service the resolver's reply names, when not this one.
    QString replyName = QString();
};

} // namespace

Q_DECLARE_METATYPE(QList<CService>)

// The browser avahi makes for each search; counts how often it is freed.
class CFakeBrowser : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.ServiceBrowser")

public:
    int frees = 0;

public slots:
    void Free() { ++frees; }
};

// Avahi's server as its D-Bus interface shows it, on the test's session bus,
// with the services of one row.
class CFakeAvahi : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.Server")

public:
    QList<CService> services;
    // The first service is announced before the browser's path is returned,
    // as avahi may do.
    bool early = false;
    // Announced on the path of a browser of some other client.
    bool foreignBrowser = false;
    // Each later service comes this much after the one before.
    int spacingMs = 0;
    bool allForNow = true;

    void Announce(const QString &path, const CService &service) const
    {
        QDBusMessage item = QDBusMessage::createSignal(path, BROWSER_INTERFACE, QStringLiteral("ItemNew"));
        item << service.interfaceIndex << service.protocol << service.name << service.type
             << QStringLiteral("local") << 0u;
        QDBusConnection::sessionBus().send(item);
    }

public slots:
    void ServiceBrowserNew(int, int, const QString &type, const QString &, uint, const QDBusMessage &message)
    {
        if (type != QLatin1String("_scpi-raw._tcp")) {
            QDBusConnection::sessionBus().send(message.createErrorReply(QDBusError::InvalidArgs, type));
            return;
        }
        message.setDelayedReply(true);
        qsizetype first = 0;
        if (early && !services.isEmpty())
            Announce(BROWSER_PATH, services[first++]);
        if (foreignBrowser)
            Announce(QStringLiteral("/Client7/ServiceBrowser1"),
                     CService{1, 0, QStringLiteral("Not ours"), QStringLiteral("192.0.2.99"), 5025, true});
        QDBusConnection::sessionBus().send(
            message.createReply(QVariant::fromValue(QDBusObjectPath(BROWSER_PATH))));
        int delay = 0;
        for (qsizetype i = first; i < services.size(); ++i, delay += spacingMs) {
            const CService service = services[i];
            QTimer::singleShot(delay, this, [this, service] { Announce(BROWSER_PATH, service); });
        }
        if (allForNow)
            QTimer::singleShot(delay, this, [] {
                QDBusConnection::sessionBus().send(
                    QDBusMessage::createSignal(BROWSER_PATH, BROWSER_INTERFACE, QStringLiteral("AllForNow")));
            });
    }

    void ResolveService(int interfaceIndex, int protocol, const QString &name, const QString &type,
                        const QString &domain, int addressProtocol, uint, const QDBusMessage &message)
    {
        for (const CService &s : services) {
            if (s.name != name || s.interfaceIndex != interfaceIndex || s.protocol != protocol || !s.resolves)
                continue;
            const int family = s.address.contains(QLatin1Char(':')) ? 1 : 0;
            if (addressProtocol != -1 && addressProtocol != family)
                continue;
            QDBusConnection::sessionBus().send(message.createReply(QVariantList{
                interfaceIndex, protocol, s.replyName.isEmpty() ? name : s.replyName, type, domain,
                QStringLiteral("instrument.local"), family, s.address, QVariant::fromValue(quint16(s.port)),
                QVariant::fromValue(QList<QByteArray>()), 0u}));
            return;
        }
        QDBusConnection::sessionBus().send(message.createErrorReply(
            QStringLiteral("org.freedesktop.Avahi.TimeoutError"), QStringLiteral("Timeout")));
    }
};

class TestMdnsFinder : public QObject
{
    Q_OBJECT

private:
    struct CRun
    {
        QStringList found; // resource, a tab, description
        bool finished = false;
    };

    // Runs the finder on a thread of its own, as the window does, while this
    // thread answers as avahi; `stopAfter` found resources cancel it.
    static CRun Run(const QString &busAddress, int stopAfter = -1)
    {
        CRun run;
        QMutex lock;
        std::atomic<bool> cancelled(false);
        std::atomic<bool> finished(false);
        std::thread worker([&] {
            CMdnsFinder finder(busAddress);
            finder.Find(
                [&](const CFoundResource &resource) {
                    QMutexLocker locker(&lock);
                    run.found << resource.resource + QLatin1Char('\t') + resource.description;
                    if (run.found.size() == stopAfter)
                        cancelled = true;
                },
                cancelled);
            finished = true;
        });
        // Long past the two seconds the finder allows itself: a finder that
        // waited on a call nobody answers would be caught here.
        run.finished = QTest::qWaitFor([&] { return finished.load(); }, 15000);
        if (!finished)
            cancelled = true;
        worker.join();
        return run;
    }

    static QString sessionBus() { return qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"); }

private slots:
    void initTestCase()
    {
        // The TXT records of a resolved service: aay.
        qDBusRegisterMetaType<QList<QByteArray>>();
    }

    void nothingWithoutAvahi_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("no bus at that address") << QStringLiteral("unix:path=/nonexistent/system_bus_socket");
        QTest::newRow("a bus that is no bus") << QStringLiteral("tcp:host=127.0.0.1,port=1");
        QTest::newRow("a bus without avahi") << sessionBus();
    }

    void nothingWithoutAvahi()
    {
        QFETCH(QString, address);
        if (address.isEmpty())
            QSKIP("no session bus: run the tests inside dbus-run-session (scripts/run-tests)");
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.Avahi")));
        const CRun run = Run(address);
        QVERIFY(run.finished);
        QCOMPARE(run.found, QStringList());
    }

    void findsAnnouncedServers_data()
    {
        QTest::addColumn<QList<CService>>("services");
        QTest::addColumn<bool>("early");
        QTest::addColumn<bool>("foreign");
        QTest::addColumn<int>("stopAfter");
        QTest::addColumn<QStringList>("expected");
        const CService a{2, 0, QStringLiteral("Scope A"), QStringLiteral("192.0.2.10"), 5025, true};
        const CService b{2, 0, QStringLiteral("Meter B"), QStringLiteral("192.0.2.11"), 5555, true};
        const QString scope = QStringLiteral("TCPIP::192.0.2.10::5025::SOCKET\tScope A");
        const QString meter = QStringLiteral("TCPIP::192.0.2.11::5555::SOCKET\tMeter B");
        char lo[IF_NAMESIZE] = {};
        if_indextoname(1, lo);

        QTest::newRow("two servers") << QList<CService>{a, b} << false << false << -1
                                     << QStringList{scope, meter};
        QTest::newRow("one server on both protocols")
            << QList<CService>{a, CService{2, 1, a.name, a.address, a.port, true}} << false << false << -1
            << QStringList{scope};
        QTest::newRow("announced before the browser's path")
            << QList<CService>{a, b} << true << false << -1 << QStringList{scope, meter};
        QTest::newRow("another client's browser")
            << QList<CService>{b} << false << true << -1 << QStringList{meter};
        QTest::newRow("a server that does not resolve")
            << QList<CService>{CService{2, 0, a.name, a.address, a.port, false}, b} << false << false << -1
            << QStringList{meter};
        QTest::newRow("link-local IPv6 only")
            << QList<CService>{CService{1, 1, QStringLiteral("Scope C"), QStringLiteral("fe80::2"), 5025,
                                        true}}
            << false << false << -1
            << QStringList{
                   QStringLiteral("TCPIP::[fe80::2%%1]::5025::SOCKET\tScope C").arg(QString::fromLatin1(lo))};
        // What a peer on the network can make avahi pass on, and what does
        // not answer the question asked.
        QTest::newRow("a service of another type")
            << QList<CService>{CService{2, 0, QStringLiteral("Web"), QStringLiteral("192.0.2.12"), 80, true,
                                        QStringLiteral("_http._tcp")},
                               b}
            << false << false << -1 << QStringList{meter};
        QTest::newRow("a reply about another service")
            << QList<CService>{CService{2, 0, a.name, a.address, a.port, true,
                                        QStringLiteral("_scpi-raw._tcp"), QStringLiteral("Somebody else")},
                               b}
            << false << false << -1 << QStringList{meter};
        QTest::newRow("an address that is none")
            << QList<CService>{CService{2, 0, a.name, QStringLiteral("192.0.2.300"), a.port, true}, b}
            << false << false << -1 << QStringList{meter};
        QTest::newRow("cancelled after the first")
            << QList<CService>{a, b} << false << false << 1 << QStringList{scope};
    }

    void findsAnnouncedServers()
    {
        QFETCH(QList<CService>, services);
        QFETCH(bool, early);
        QFETCH(bool, foreign);
        QFETCH(int, stopAfter);
        QFETCH(QStringList, expected);
        if (sessionBus().isEmpty())
            QSKIP("no session bus: run the tests inside dbus-run-session (scripts/run-tests)");

        QDBusConnection bus = QDBusConnection::sessionBus();
        CFakeAvahi avahi;
        avahi.services = services;
        avahi.early = early;
        avahi.foreignBrowser = foreign;
        // The second comes long after the first: a finder that went on after
        // it was cancelled would still see it.
        avahi.spacingMs = stopAfter > 0 ? 600 : 0;
        avahi.allForNow = stopAfter < 0;
        CFakeBrowser browser;
        QVERIFY(bus.registerObject(QStringLiteral("/"), &avahi, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerObject(BROWSER_PATH, &browser, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Avahi")));

        const CRun run = Run(sessionBus(), stopAfter);

        bus.unregisterService(QStringLiteral("org.freedesktop.Avahi"));
        bus.unregisterObject(BROWSER_PATH);
        bus.unregisterObject(QStringLiteral("/"));
        QVERIFY(run.finished);
        QCOMPARE(run.found, expected);
        QCOMPARE(browser.frees, 1);
        for (const QString &found : run.found) {
            CResource resource;
            QString error;
            QVERIFY2(ParseResource(found.section(QLatin1Char('\t'), 0, 0), resource, error),
                     qPrintable(error));
            QVERIFY(resource.resourceClass == ResourceClass::Socket);
        }
    }
};

QTEST_GUILESS_MAIN(TestMdnsFinder)
#include "tst_mdnsfinder.moc"
