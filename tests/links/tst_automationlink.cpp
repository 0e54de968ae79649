// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFiles.h"
#include "cmdfile/ResponseLog.h"
#include "common/UiHooks.h"
#include "links/AutomationLink.h"
#include "links/GpibLink.h"
#include "links/LinkDispatch.h"
#include "tests/links/LinkAccess.h"
#include "tests/sim/InstrumentReplies.h"
#include "work/CommandSender.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>

namespace {

const QString SERVER = QStringLiteral(TALLIX_SIM_BINDIR "/tallix-automation-server");
// Services that the test bus can start on demand (written by the build).
const QString ON_DEMAND = QStringLiteral("Tallix.Test.OnDemand");
const QString ON_DEMAND_LOG = QStringLiteral(TALLIX_BINARY_DIR "/tests/automation-bus/ondemand.log");
const QString BROKEN_START = QStringLiteral("Tallix.Test.BrokenStart");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList readLines(const QString &path)
{
    return QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool hasOwner(const QString &name)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
}

// One simulated server under a name of its own, with a log of every call it
// receives; gone with the object.
class ServerProcess
{
public:
    ServerProcess(const QString &name, const QString &logPath, const QStringList &options = {})
        : m_name(name), m_logPath(logPath)
    {
        QFile::remove(logPath);
        m_process.setProgram(SERVER);
        m_process.setArguments(QStringList{"--name", name, "--log", logPath, "--notify-ready"} + options);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
    }
    ~ServerProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }
    bool WaitReady()
    {
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return false;
        }
        return m_process.readLine().trimmed() == "ready";
    }
    QStringList Calls() const { return readLines(m_logPath); }
    void ClearCalls() { QFile::resize(m_logPath, 0); }
    bool Exited() { return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(5000); }

private:
    QString m_name;
    QString m_logPath;
    QProcess m_process;
};

const QStringList SETUP_CALLS = {R"(Setup "" 4)", "Set SetupProperty 1"};

} // namespace

// The automation link against the simulated server on a private session bus:
// the real bus, the real calls, and the server's own record of each call.
class TestAutomationLink : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_messages;
    CUiHooks m_hooks;
    int m_serial = 0;

    // A fresh name for each server, so that one test's server never answers
    // another's calls.
    QString uniqueName() { return QStringLiteral("Tallix.Test.Server%1").arg(++m_serial); }
    QString logPath(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".log")); }

    void prepare(CLinkDispatch &links, const QString &service)
    {
        AutomationServer::SetServiceName(service);
        links.Choose(LINK_AUTOMATION);
        // No GPIB library: its step of ConnectLinks stays out of the way.
        Gpib(links).SetLibraryName(m_dir.filePath(QStringLiteral("absent/libgpib-32.so")));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
            !QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus: run under dbus-run-session (ctest does)");
        QVERIFY2(QFile::exists(SERVER), "the simulated server is built with the tests");
        m_hooks.showMessage = [this](const QString &text) { m_messages << text; };
    }

    void init() { m_messages.clear(); }

    void cleanupTestCase() { AutomationServer::SetServiceName(QStringLiteral("Zemra.Application2")); }

    // An unavailable server is silent: nothing is sent, the response is empty,
    // a log gets the command alone, and every command tries again.
    void noServer_data()
    {
        QTest::addColumn<QString>("service");
        QTest::newRow("name unknown to the bus") << QStringLiteral("Tallix.Test.Nobody");
        QTest::newRow("server fails to start") << BROKEN_START;
    }

    void noServer()
    {
        QFETCH(QString, service);
        CLinkDispatch links(&m_hooks);
        prepare(links, service);

        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(!LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        QCOMPARE(text, QByteArray());

        const QString path = m_dir.filePath(QStringLiteral("noserver.log"));
        QFile::remove(path);
        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(path));
        CCommandSender sender(links, files, &m_hooks);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(sender.SendCommand("*IDN?\r\n").Ok());
        log.Close();
        QCOMPARE(readFile(path), QByteArray("*IDN?\r\n"));
        QVERIFY(!LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
        QVERIFY(m_messages.isEmpty());

        // The server that turns up later is found by the next command.
        if (service != BROKEN_START) {
            ServerProcess server(service, logPath(service));
            QVERIFY(server.WaitReady());
            QVERIFY(links.ConnectLinks().Ok());
            QVERIFY(LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
            QCOMPARE(server.Calls(), SETUP_CALLS);
        }
    }

    // Setup and the property put go out once per connection, in that order,
    // before the first send; the line reaches SendText as it is, CR LF and
    // all, and the reply comes back as the same bytes.
    void lineAndReply_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("query with CR LF") << QByteArray("*IDN?\r\n") << R"(SendText "*IDN?\r\n")"
                                          << QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n");
        QTest::newRow("no line end added") << QByteArray("*IDN?") << R"(SendText "*IDN?")"
                                           << QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n");
        QTest::newRow("UTF-8 both ways")
            << QByteArray("ECHO Grüße µV\r\n") << R"(SendText "ECHO Gr\xc3\xbc\xc3\x9fe \xc2\xb5V\r\n")"
            << QByteArray("Grüße µV\r\n");
        QTest::newRow("command without reply")
            << QByteArray("*RST\r\n") << R"(SendText "*RST\r\n")" << QByteArray();
    }

    void lineAndReply()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, logged);
        QFETCH(QByteArray, reply);
        const QString name = uniqueName();
        ServerProcess server(name, logPath(name));
        QVERIFY(server.WaitReady());
        CLinkDispatch links(&m_hooks);
        prepare(links, name);

        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
        QVERIFY(links.Send(line.constData()).Ok());
        QCOMPARE(server.Calls(), SETUP_CALLS + QStringList{logged});
        QByteArray text("left over");
        QVERIFY(links.ReadResponse(text).Ok());
        QCOMPARE(text, reply);
        const QStringList calls = SETUP_CALLS + QStringList{logged, "ReceiveText"};
        QCOMPARE(server.Calls(), calls);

        // Up is up: the next command neither tests nor sets up the server.
        QVERIFY(links.ConnectLinks().Ok());
        QCOMPARE(server.Calls().size(), 4);
        QVERIFY(m_messages.isEmpty());
    }

    // Another link releases the server; choosing the automation link again
    // repeats Setup and the property put before that command's send.
    void otherLinkReleases_data()
    {
        QTest::addColumn<int>("other");
        QTest::newRow("ordal") << ToInt(LINK_ORDAL);
        QTest::newRow("gpib") << ToInt(LINK_GPIB);
        QTest::newRow("lumec") << ToInt(LINK_LUMEC);
        QTest::newRow("no radio checked") << -1;
    }

    void otherLinkReleases()
    {
        QFETCH(int, other);
        const QString name = uniqueName();
        ServerProcess server(name, logPath(name));
        QVERIFY(server.WaitReady());
        CLinkDispatch links(&m_hooks);
        prepare(links, name);

        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.Send("ECHO ONE\r\n").Ok());
        links.Choose(LinkKind{other});
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(!LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
        QVERIFY(links.Send("ECHO LOST\r\n").Ok());

        links.Choose(LINK_AUTOMATION);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
        QVERIFY(links.Send("ECHO TWO\r\n").Ok());
        const QStringList calls = SETUP_CALLS + QStringList{R"(SendText "ECHO ONE\r\n")"} + SETUP_CALLS +
                                  QStringList{R"(SendText "ECHO TWO\r\n")"};
        QCOMPARE(server.Calls(), calls);
    }

    // The display read shows the whole text; the log read keeps its first
    // 4048 bytes. With a log open and a display read after the send,
    // ReceiveText is called twice.
    void logAndDisplayReads_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("short") << 32;
        QTest::newRow("exactly 4048") << 4048;
        QTest::newRow("longer than 4048") << 5000;
    }

    void logAndDisplayReads()
    {
        QFETCH(int, size);
        const QString name = uniqueName();
        ServerProcess server(name, logPath(name));
        QVERIFY(server.WaitReady());
        CLinkDispatch links(&m_hooks);
        prepare(links, name);
        const QString path = m_dir.filePath(QStringLiteral("reads.log"));
        QFile::remove(path);
        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(path));
        CCommandSender sender(links, files, &m_hooks);

        const QByteArray line = "DATA? " + QByteArray::number(size) + "\r\n";
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(sender.SendCommand(line.constData()).Ok());
        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        log.Close();

        const QByteArray data = DataReply(size);
        QCOMPARE(text, data);
        QByteArray logged = line + '>' + data.left(RESPONSE_BUFFER_SIZE);
        if (size > RESPONSE_BUFFER_SIZE)
            logged += "\r\n"; // the cut piece has no line end of its own
        QCOMPARE(readFile(path), logged);
        const QStringList calls =
            SETUP_CALLS +
            QStringList{"SendText " + QString(R"("DATA? %1\r\n")").arg(size), "ReceiveText", "ReceiveText"};
        QCOMPARE(server.Calls(), calls);

        // The log read on its own: the first 4048 bytes, never more.
        CReply reply;
        links.Link(LINK_AUTOMATION).ReadForLog(reply);
        const int kept = qMin(size, RESPONSE_BUFFER_SIZE);
        QCOMPARE(reply.bytes, data.left(kept));
    }

    // A call that fails throws at that call: nothing after it in the command
    // runs, the server is kept, and the next command calls it again.
    void failedCall_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("failsAt"); // connect, send or read
        QTest::addColumn<QString>("errorText");
        QTest::addColumn<bool>("serverStays");
        QTest::newRow("error reply to SendText") << QStringList{"--error-on", "*idn?"} << "send"
                                                 << "Zemra.Application.Error.CommandFailed" << true;
        QTest::newRow("server exits during SendText") << QStringList{"--exit-in-call", "*IDN?"} << "send"
                                                      << "org.freedesktop.DBus.Error.NoReply" << false;
        QTest::newRow("ReceiveText answers an int") << QStringList{"--wrong-type"} << "read"
                                                    << "org.freedesktop.DBus.Error.InvalidSignature" << true;
        QTest::newRow("error reply to ReceiveText") << QStringList{"--error-on-call", "ReceiveText"} << "read"
                                                    << "ReceiveText failed" << true;
    }

    void failedCall()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, failsAt);
        QFETCH(QString, errorText);
        QFETCH(bool, serverStays);
        const QString name = uniqueName();
        ServerProcess server(name, logPath(name), options);
        QVERIFY(server.WaitReady());
        CLinkDispatch links(&m_hooks);
        prepare(links, name);
        const QString path = m_dir.filePath(QStringLiteral("failed.log"));
        QFile::remove(path);
        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(path));
        CCommandSender sender(links, files, &m_hooks);

        QVERIFY(links.ConnectLinks().Ok());
        const CResult result = sender.SendCommand("*IDN?\r\n");
        log.Close();
        // It ends the command: the window is still to tell it.
        QVERIFY(!result.Ok());
        QVERIFY(result.ToTell());
        const QString text = result.Text();
        QVERIFY2(text.contains(errorText), qPrintable(text));
        QVERIFY(LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
        QVERIFY(m_messages.isEmpty()); // reporting is the window's business
        if (failsAt == QLatin1String("send")) {
            QCOMPARE(readFile(path), QByteArray()); // no log line at all
            QCOMPARE(server.Calls(), SETUP_CALLS + QStringList{R"(SendText "*IDN?\r\n")"});
        } else {
            // The command went to the log; its response read failed.
            QCOMPARE(readFile(path), QByteArray("*IDN?\r\n"));
            const QStringList calls = SETUP_CALLS + QStringList{R"(SendText "*IDN?\r\n")", "ReceiveText"};
            QCOMPARE(server.Calls(), calls);
        }

        // The same server is called again, without a new set-up.
        server.ClearCalls();
        QVERIFY(links.ConnectLinks().Ok());
        if (!serverStays) {
            // Held is held: a new server under the same name is not the one
            // that was set up, and is never called.
            QVERIFY(server.Exited());
            ServerProcess successor(name, logPath(name + QStringLiteral("-successor")));
            QVERIFY(successor.WaitReady());
            QVERIFY(links.Send("ECHO AGAIN\r\n").ToTell());
            QVERIFY(LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
            QCOMPARE(successor.Calls(), QStringList());
            return;
        }
        QVERIFY(links.Send("ECHO AGAIN\r\n").Ok());
        QCOMPARE(server.Calls(), QStringList{R"(SendText "ECHO AGAIN\r\n")"});
    }

    // A failed set-up call ends the command and leaves the link up without
    // the rest of the set-up, which is not made up for later.
    void failedSetup_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("Setup") << QStringLiteral("Setup") << QStringList{R"(Setup "" 4)"};
        QTest::newRow("property put") << QStringLiteral("SetupProperty") << SETUP_CALLS;
    }

    void failedSetup()
    {
        QFETCH(QString, method);
        QFETCH(QStringList, calls);
        const QString name = uniqueName();
        ServerProcess server(name, logPath(name), {"--error-on-call", method});
        QVERIFY(server.WaitReady());
        CLinkDispatch links(&m_hooks);
        prepare(links, name);

        QVERIFY(links.ConnectLinks().ToTell());
        QVERIFY(LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
        QCOMPARE(server.Calls(), calls);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.Send("ECHO ON\r\n").Ok());
        QCOMPARE(server.Calls(), calls + QStringList{R"(SendText "ECHO ON\r\n")"});
    }

    // A command waits for the server without handling a single event of the
    // window: a timer that is due during the calls has not fired when they
    // return.
    void callsDoNotRunTheEventLoop()
    {
        const QString name = uniqueName();
        ServerProcess server(name, logPath(name));
        QVERIFY(server.WaitReady());
        CLinkDispatch links(&m_hooks);
        prepare(links, name);

        bool fired = false;
        QTimer::singleShot(0, this, [&fired]() { fired = true; });
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        QByteArray text;
        links.ReadResponse(text);
        QVERIFY(!text.isEmpty());
        QVERIFY(!fired);
        QTRY_VERIFY(fired);
    }

    // A server without an owner is started by the bus from its service file,
    // and then set up like any other.
    void startedOnDemand_data()
    {
        QTest::addColumn<QString>("service");
        QTest::newRow("test service with a call log") << ON_DEMAND;
        QTest::newRow("the simulator's own service") << QStringLiteral("Zemra.Application2");
    }

    void startedOnDemand()
    {
        QFETCH(QString, service);
        const QDBusReply<QStringList> activatable =
            QDBusConnection::sessionBus().interface()->activatableServiceNames();
        if (!activatable.value().contains(service))
            QSKIP("this bus cannot start the simulator: run under the test's dbus-run-session (ctest does)");
        QVERIFY(!hasOwner(service));
        if (service == ON_DEMAND)
            QFile::remove(ON_DEMAND_LOG);

        CLinkDispatch links(&m_hooks);
        prepare(links, service);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(LinkAs<CAutomationLink>(links, LINK_AUTOMATION).IsUp());
        QVERIFY(hasOwner(service));
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        QByteArray text;
        links.ReadResponse(text);
        QCOMPARE(text, QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
        if (service == ON_DEMAND)
            QCOMPARE(readLines(ON_DEMAND_LOG),
                     SETUP_CALLS + QStringList({R"(SendText "*IDN?\r\n")", "ReceiveText"}));
        QVERIFY(m_messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAutomationLink)
#include "tst_automationlink.moc"
