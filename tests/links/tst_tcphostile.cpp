// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The TCP/IP link against peers that misbehave: each case must end without a
// crash, within the link's deadlines, with the exact message. A peer that
// accepts and stays silent is TestTcpLink::neverAnswered, the one wait on the
// response deadline; it is not repeated here.
#include "TcpTestSupport.h"
#include "tests/links/LinkAccess.h"

#include "cmdfile/CommandFiles.h"
#include "cmdfile/ResponseLog.h"
#include "links/LinkDispatch.h"
#include "links/TcpLink.h"
#include "work/CommandSender.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

using namespace tcptest;

namespace {

// The second octet of this program's loopback addresses.
constexpr int ADDRESS_RANGE = 1;

// The server's options, written as on its command line.
QStringList Args(const char *line)
{
    return QString::fromLatin1(line).split(QLatin1Char(' '));
}

} // namespace

class TestTcpHostile : public QObject
{
    Q_OBJECT

private slots:
    // A peer that refuses or goes away around one command: what that command
    // shows, and what the next one meets.
    void peerGoesAway_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QStringList>("options");
        // The server's line that tells it has acted, and the step of the
        // client's after which it is awaited, so that the client goes on only
        // once the peer is done: 0 the connect, 1 the command, 2 the read.
        QTest::addColumn<QString>("peerActed");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("connected");
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("upAfterRead");
        // The message of the next command's send while the link stayed up.
        QTest::addColumn<QString>("nextSendMessage");

        const QString closed = QStringLiteral("connection closed");
        QTest::newRow("refuses") << false << QStringList() << QString() << 0 << 0 << QByteArray()
                                 << QStringList{ErrorText(ECONNREFUSED)} << false << QString();
        // The command still goes out; the system answers it with a reset,
        // which the request then meets.
        QTest::newRow("closes at once")
            << true << Args("--close-after 0 --hang-up") << closed << 0 << 1 << QByteArray()
            << QStringList{QStringLiteral("Error requesting response: ") + ErrorText(EPIPE)} << false
            << QString();
        // The end-of-file was there before the request: it is the reply, of
        // nothing, although the request provokes a reset.
        QTest::newRow("closes after the command")
            << true << Args("--close-after 1 --hang-up") << closed << 1 << 1 << QByteArray() << QStringList()
            << true << QStringLiteral("Error sending message: ") + ErrorText(EPIPE);
        // What arrived before the reset is the reply.
        QTest::newRow("resets mid-reply")
            << true << Args("--reset-after-bytes 10") << QStringLiteral("connection reset") << 2 << 1
            << IDENTITY.left(10) << QStringList() << true
            << QStringLiteral("Error sending message: ") + ErrorText(ECONNRESET);
    }
    void peerGoesAway()
    {
        QFETCH(bool, listening);
        QFETCH(QStringList, options);
        QFETCH(QString, peerActed);
        QFETCH(int, step);
        QFETCH(int, connected);
        QFETCH(QByteArray, response);
        QFETCH(QStringList, messages);
        QFETCH(bool, upAfterRead);
        QFETCH(QString, nextSendMessage);
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        if (listening)
            START_SERVER(server, address, options);
        CConsole console(address);
        auto awaitPeer = [&](int done) { return done != step || server.WaitForLine(peerActed); };

        QCOMPARE(console.m_links.ConnectLinks().Ok() ? 1 : 0, connected);
        if (connected == 0) {
            QCOMPARE(console.m_messages, messages);
            QVERIFY(!Tcp(console.m_links).HasSocket());
            return;
        }
        QVERIFY(awaitPeer(0));
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        QVERIFY(awaitPeer(1));
        const QByteArray text = console.Read();
        QVERIFY2(console.m_messages == messages, qPrintable(console.m_messages.join(QStringLiteral(" | "))));
        QCOMPARE(text, response);
        QCOMPARE(Tcp(console.m_links).HasSocket(), upAfterRead);
        QVERIFY(awaitPeer(2));

        console.m_messages.clear();
        QVERIFY(console.m_links.ConnectLinks().Ok());
        if (upAfterRead) {
            // The peer is gone but nothing has told the link yet: the next
            // send finds out.
            QVERIFY(!console.m_links.Send("*IDN?\r\n").Ok());
            QCOMPARE(console.m_messages, QStringList{nextSendMessage});
            QVERIFY(!Tcp(console.m_links).HasSocket());
        } else {
            // The link went down: the next command opens a new connection.
            QVERIFY(Tcp(console.m_links).HasSocket());
            QVERIFY(server.WaitForLine(QStringLiteral("connection from")));
            QCOMPARE(server.Count(QStringLiteral("connection from")), 2);
            QCOMPARE(console.m_messages, QStringList());
        }
    }

    // A reply longer than one receive, or one still on its way: each read
    // takes what one receive returns, the rest stays in the connection and is
    // what the next command's read gets.
    void overrunningReply_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");

        // The megabyte is on its way at once and a loopback segment holds far
        // more than 4048 bytes, so each receive takes that many.
        const QByteArray flood = DataReply(1024 * 1024);
        QTest::newRow("floods 1 MB") << Args("--reply-bytes 1048576") << flood.left(4048)
                                     << flood.mid(4048, 4048);
        QTest::newRow("trickles one byte a second")
            << Args("--reply-bytes 6 --pieces 6 --pause-ms 1000") << QByteArray("0") << QByteArray("1");
    }
    void overrunningReply()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, options);
        CConsole console(address);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        const QByteArray one = console.Read();
        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        const QByteArray two = console.Read();

        QCOMPARE(console.m_messages, QStringList());
        QVERIFY(Tcp(console.m_links).HasSocket());
        QCOMPARE(one, first);
        QCOMPARE(two, second);
    }

    // Replies around the size of one receive and with NUL bytes inside: the
    // text shown, and the record that a real log gets.
    void replyText_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("shown");
        QTest::addColumn<QByteArray>("logged");

        const QByteArray data = DataReply(65536);
        const QByteArray query("*CLS\r\n");
        QTest::newRow("4047 bytes") << Args("--reply-bytes 4047") << query << DataReply(4047)
                                    << query + ">" + DataReply(4047);
        QTest::newRow("4048 bytes") << Args("--reply-bytes 4048") << query << DataReply(4048)
                                    << query + ">" + DataReply(4048);
        // The CR of the reply's line end is the last byte taken; the record
        // still closes its line.
        QTest::newRow("4049 bytes") << Args("--reply-bytes 4049") << query << DataReply(4049).left(4048)
                                    << query + ">" + DataReply(4049).left(4048) + "\r\n";
        QTest::newRow("65536 bytes") << Args("--reply-bytes 65536") << query << data.left(4048)
                                     << query + ">" + data.left(4048) + "\r\n";
        QTest::newRow("NUL in the middle")
            << QStringList{QStringLiteral("--nul")} << QByteArray("*IDN?\r\n") << IDENTITY.left(15)
            << QByteArray("*IDN?\r\n>") + IDENTITY.left(15) + "\r\n";
        QTest::newRow("NUL first") << Args("--reply-bytes 1 --nul") << query << QByteArray() << query;
    }
    void replyText()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, shown);
        QFETCH(QByteArray, logged);
        const QString address = NextAddress(ADDRESS_RANGE);
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("responses.log"));
        CServer server;
        START_SERVER(server, address, options);

        // One connection each, so that what one read left in the connection
        // does not reach the other.
        {
            CConsole console(address);
            QVERIFY(console.m_links.ConnectLinks().Ok());
            QVERIFY(console.m_links.Send(command.constData()).Ok());
            QCOMPARE(console.Read(), shown);
            QCOMPARE(console.m_messages, QStringList());
        }
        {
            CConsole console(address);
            CCommandFiles files;
            CResponseLog &log = files.Log();
            QVERIFY(log.Open(logPath));
            CCommandSender sender(console.m_links, files, &console.m_hooks);
            QVERIFY(console.m_links.ConnectLinks().Ok());
            QVERIFY(sender.SendCommand(command.constData()).Ok());
            QCOMPARE(console.m_messages, QStringList());
        }
        QCOMPARE(ReadFile(logPath), logged);
    }

    // The server process dies after the first line of a logged batch: the
    // batch ends by itself, both files are closed, and the first record is
    // in the log whole.
    void serverDiesBetweenBatchLines()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        QTemporaryDir dir;
        const QString commandPath = dir.filePath(QStringLiteral("commands.txt"));
        const QString logPath = dir.filePath(QStringLiteral("responses.log"));
        {
            QFile file(commandPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("ECHO ONE\r\nECHO TWO\r\nECHO THREE\r\n");
        }
        CServer server;
        START_SERVER(server, address);
        CConsole console(address);
        CCommandFiles files(&console.m_hooks);
        files.SetCommandFilePath(commandPath);
        files.SetLogFilePath(logPath);
        CCommandSender sender(console.m_links, files, &console.m_hooks);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        int calls = 0;
        bool killed = false;
        QByteArray logAtKill;
        const bool used = files.RunBatch(
            [&](const char *line) {
                const int result = sender.SendCommand(line).Ok() ? 1 : 0;
                if (++calls == 1) {
                    logAtKill = ReadFile(logPath);
                    killed = server.Kill();
                }
                return result;
            },
            [](std::uint32_t) {});

        QVERIFY(killed);
        QCOMPARE(logAtKill, QByteArray("ECHO ONE\r\n>ONE\r\n"));
        QVERIFY(used);
        // The second command still goes out and the system answers it with a
        // reset, which its log read meets; the third finds no connection and
        // ends the batch.
        QCOMPARE(calls, 3);
        QCOMPARE(console.m_messages,
                 (QStringList{QStringLiteral("Error requesting response: ") + ErrorText(EPIPE),
                              QStringLiteral("Error sending message: ") + ErrorText(ENOTCONN)}));
        QVERIFY(!files.IsCommandFileOpen());
        QVERIFY(!files.Log().IsOpen());
        QVERIFY(!Tcp(console.m_links).HasSocket());
        QCOMPARE(ReadFile(logPath), QByteArray("ECHO ONE\r\n>ONE\r\nECHO TWO\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestTcpHostile)
#include "tst_tcphostile.moc"
