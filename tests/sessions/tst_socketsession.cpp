// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/socket/SocketSession.h"
#include "tests/sessions/StopHooks.h"
#include "tests/sim/PrivateNetwork.h"
#include "tests/sim/ScpiServerProcess.h"

#include <QCoreApplication>
#include <QTest>

// The raw-socket session against the simulated SCPI instrument, in a
// private network whose name server never answers.
namespace {

const QByteArray IDENTITY("KORVANE,TALLIX-SIM,SN0001,1.0\n");
const QString UNANSWERED_NAME = QStringLiteral("held.invalid");
bool g_silentResolver = false;

std::unique_ptr<CSession> MakeSocket(const QString &host, int port, const CUiHooks *hooks)
{
    CResource resource;
    resource.interfaceName = QStringLiteral("TCPIP");
    resource.resourceClass = ResourceClass::Socket;
    resource.host = host;
    resource.port = port;
    resource.text = QStringLiteral("TCPIP::%1::%2::SOCKET").arg(host).arg(port);
    CSessionOptions options;
    options.openTimeoutMs = 8000;
    options.ioTimeoutMs = 8000;
    options.hooks = hooks;
    return CSocketSession::Make(resource, options);
}

bool Query(CSession &session, const QByteArray &command, CReply &reply, QString &error)
{
    return session.Write(std::string_view(command.constData(), static_cast<std::size_t>(command.size())),
                         error) &&
           session.Read(reply, error);
}

} // namespace

class tst_SocketSession : public QObject
{
    Q_OBJECT

private slots:
    void everyWaitGivesTheWindowItsTurn_data()
    {
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QByteArray>("command"); // none: the open is what waits
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QString>("said");

        const QString local = QStringLiteral("127.0.0.1");
        QTest::newRow("name the resolver never answers")
            << QStringList() << UNANSWERED_NAME << QByteArray() << true
            << QStringLiteral("Connecting to held.invalid:%1 was stopped");
        // A query the instrument does not know: it answers nothing.
        QTest::newRow("peer never answers")
            << QStringList() << local << QByteArray("NOT:KNOWN?\n") << true
            << QStringLiteral(
                   "Error waiting for response: stopped after 0 bytes of the reply; the connection");
        QTest::newRow("peer trickles") << QStringList{QStringLiteral("--pieces"), QStringLiteral("5000"),
                                                      QStringLiteral("--pause-ms"), QStringLiteral("10")}
                                       << local << QByteArray("DATA? 100000\n") << true
                                       << QStringLiteral("Error waiting for response: stopped after ");
        QTest::newRow("closes mid-reply")
            << QStringList{QStringLiteral("--close-after-bytes"),
                           QStringLiteral("1000"),
                           QStringLiteral("--pieces"),
                           QStringLiteral("10"),
                           QStringLiteral("--pause-ms"),
                           QStringLiteral("60")}
            << local << QByteArray("DATA? 5000\n") << false
            << QStringLiteral("Error receiving response: the instrument closed the connection after ");
    }

    // However the peer keeps the session waiting, the window has a pulse
    // every few tens of milliseconds, Stop gives it back within a second,
    // and the next query (on a new connection) gets its own reply.
    void everyWaitGivesTheWindowItsTurn()
    {
        QFETCH(QStringList, serverArguments);
        QFETCH(QString, host);
        QFETCH(QByteArray, command);
        QFETCH(bool, stop);
        QFETCH(QString, said);
        if (host == UNANSWERED_NAME && !g_silentResolver)
            QSKIP("no mount namespace here for a name server that never answers");

        CScpiServerProcess server;
        const int port = server.Start(serverArguments);
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        CStopHooks hooks;
        auto session = MakeSocket(host, port, &hooks.hooks);
        QString error;
        if (!command.isEmpty()) {
            QVERIFY2(session->Open(error), qPrintable(error));
            QVERIFY2(
                session->Write(
                    std::string_view(command.constData(), static_cast<std::size_t>(command.size())), error),
                qPrintable(error));
        }

        hooks.Begin(stop ? std::chrono::milliseconds(300) : std::chrono::milliseconds(-1));
        CReply reply;
        const bool done = command.isEmpty() ? session->Open(error) : session->Read(reply, error);
        const CStopHooks::CWatch watch = hooks.End();
        QVERIFY(!done);
        QVERIFY2(error.contains(said.contains(QLatin1String("%1")) ? said.arg(port) : said),
                 qPrintable(error));
        if (stop)
            QVERIFY2(watch.sinceStop && *watch.sinceStop < std::chrono::milliseconds(1500),
                     qPrintable(watch.Text()));
        QVERIFY2(watch.largestGap < std::chrono::milliseconds(100), qPrintable(watch.Text()));
        QVERIFY(!session->IsOpen());

        hooks.Begin();
        if (host == UNANSWERED_NAME)
            session = MakeSocket(QStringLiteral("127.0.0.1"), port, &hooks.hooks);
        QVERIFY2(session->Open(error), qPrintable(error));
        QVERIFY2(Query(*session, "*IDN?\n", reply, error), qPrintable(error));
        QCOMPARE(reply.bytes, IDENTITY);
    }
};

int main(int argc, char **argv)
{
    EnterPrivateNetwork(argc, argv);
    g_silentResolver = UseSilentResolver();
    QCoreApplication app(argc, argv);
    tst_SocketSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_socketsession.moc"
