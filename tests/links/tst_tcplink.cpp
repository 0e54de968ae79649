// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TcpTestSupport.h"
#include "tests/links/LinkAccess.h"

#include "cmdfile/CommandFiles.h"
#include "cmdfile/ResponseLog.h"
#include "common/UiHooks.h"
#include "links/LinkDispatch.h"
#include "links/TcpLink.h"
#include "work/CommandSender.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

using namespace tcptest;

namespace {

// The second octet of this program's loopback addresses.
constexpr int ADDRESS_RANGE = 0;

} // namespace

class TestTcpLink : public QObject
{
    Q_OBJECT

private slots:
    void systemErrorText_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("connection refused") << ECONNREFUSED;
        QTest::newRow("connection reset") << ECONNRESET;
        QTest::newRow("not connected") << ENOTCONN;
        QTest::newRow("unknown code") << 4242;
    }
    void systemErrorText()
    {
        QFETCH(int, code);
        const QString text = SystemErrorText(code);
        QVERIFY(!text.isEmpty());
        QVERIFY(text.size() <= 127);
        QCOMPARE(text, ErrorText(code));
    }

    void connectFailures_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("noDescriptorLeft");
        QTest::addColumn<int>("code");
        QTest::newRow("unparsable address text") << QStringLiteral("256.1.2.3") << false << EINVAL;
        // Linux would take it as this machine; it names no server.
        QTest::newRow("address 0.0.0.0") << QStringLiteral("0.0.0.0") << false << EADDRNOTAVAIL;
        QTest::newRow("no descriptor left") << NextAddress(ADDRESS_RANGE) << true << EMFILE;
    }
    void connectFailures()
    {
        QFETCH(QString, address);
        QFETCH(bool, noDescriptorLeft);
        QFETCH(int, code);
        CConsole console(address);

        rlimit saved{};
        if (noDescriptorLeft) {
            // The lowest free descriptor becomes the limit, so the socket
            // cannot be made.
            const int lowest = dup(0);
            QVERIFY(lowest >= 0);
            close(lowest);
            QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
            rlimit tight = saved;
            tight.rlim_cur = static_cast<rlim_t>(lowest);
            QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
        }
        const int result = console.m_links.ConnectLinks().Ok() ? 1 : 0;
        if (noDescriptorLeft)
            setrlimit(RLIMIT_NOFILE, &saved);

        QCOMPARE(result, 0);
        QCOMPARE(console.m_messages, QStringList{SystemErrorText(code)});
        QVERIFY(!Tcp(console.m_links).HasSocket());
        QCOMPARE(console.m_waitBegins, 1);
        QCOMPARE(console.m_waitEnds, 1);
    }

    // No server: the refusal is shown with the system's text and the command
    // goes no further; once a server listens, the next command connects.
    void refusedThenRetried()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("received.txt"));
        auto console = std::make_unique<CConsole>(address);

        QVERIFY(!console->m_links.ConnectLinks().Ok());
        QCOMPARE(console->m_messages, QStringList{SystemErrorText(ECONNREFUSED)});
        QVERIFY(!Tcp(console->m_links).HasSocket());

        CServer server;
        START_SERVER(server, address, QStringLiteral("--log"), log);
        console->m_messages.clear();
        console->m_waitBegins = console->m_waitEnds = 0;
        QVERIFY(console->m_links.ConnectLinks().Ok());
        QCOMPARE(console->m_waitBegins, 1);
        QCOMPARE(console->m_waitEnds, 1);
        QVERIFY(console->m_links.Send("*IDN?\r\n").Ok());
        // An open connection is neither tested nor replaced, and no wait
        // cursor comes up for it.
        QVERIFY(console->m_links.ConnectLinks().Ok());
        QCOMPARE(console->m_waitBegins, 1);
        QCOMPARE(console->Read(), IDENTITY);
        QVERIFY(console->m_messages.isEmpty());

        console.reset(); // the link closes its socket when it goes
        QVERIFY(server.WaitForLine(QStringLiteral("connection closed by client")));
        QCOMPARE(server.Count(QStringLiteral("connection from")), 1);
        QCOMPARE(ReadFile(log), QByteArrayLiteral("*IDN?\r\nPlease respond\r\n"));
        QCOMPARE(server.Stop(), 0);
    }

    void replies_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("nextStartsWith");

        const QByteArray longer = DataReply(6000);
        const qsizetype half = (IDENTITY.size() + 1) / 2;
        QTest::newRow("model response") << QStringList() << QByteArray("*IDN?\r\n") << IDENTITY << IDENTITY;
        QTest::newRow("nothing to answer")
            << QStringList() << QByteArray("*CLS\r\n") << QByteArray("\r\n") << QByteArray("\r\n");
        QTest::newRow("exactly 4048 bytes")
            << QStringList{QStringLiteral("--reply-bytes"), QStringLiteral("4048")} << QByteArray("*CLS\r\n")
            << DataReply(4048) << DataReply(4048);
        QTest::newRow("longer reply: first 4048, the rest stays")
            << QStringList{QStringLiteral("--reply-bytes"), QStringLiteral("6000")} << QByteArray("*CLS\r\n")
            << longer.left(RESPONSE_BUFFER_SIZE) << longer.mid(RESPONSE_BUFFER_SIZE);
        QTest::newRow("NUL ends the text")
            << QStringList{QStringLiteral("--nul")} << QByteArray("*IDN?\r\n")
            << IDENTITY.left(IDENTITY.size() / 2) << IDENTITY.left(IDENTITY.size() / 2);
        QTest::newRow("reply in pieces: the first one only, the rest stays")
            << QStringList{QStringLiteral("--pieces"), QStringLiteral("2"), QStringLiteral("--pause-ms"),
                           QStringLiteral("300")}
            << QByteArray("*IDN?\r\n") << IDENTITY.left(half) << IDENTITY.mid(half);
    }
    void replies()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, nextStartsWith);
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, options);
        CConsole console(address);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send(command.constData()).Ok());
        QCOMPARE(console.Read(), expected);
        QVERIFY(console.Read().startsWith(nextStartsWith));
        QCOMPARE(console.m_messages, QStringList());
        QVERIFY(Tcp(console.m_links).HasSocket());
    }

    // Server closed its side: the read gets nothing, silently, and the link
    // stays up; once the connection is gone, the next send fails.
    void zeroByteReply()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, QStringLiteral("--close-after"), QStringLiteral("1"));
        CConsole console(address);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        QCOMPARE(console.Read(), QByteArray());
        QCOMPARE(console.m_messages, QStringList());
        QVERIFY(Tcp(console.m_links).HasSocket());

        QVERIFY(server.WaitForLine(QStringLiteral("connection reset")));
        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(!console.m_links.Send("*IDN?\r\n").Ok());
        const QStringList possible{QStringLiteral("Error sending message: ") + SystemErrorText(EPIPE),
                                   QStringLiteral("Error sending message: ") + SystemErrorText(ECONNRESET)};
        QCOMPARE(console.m_messages.size(), 1);
        QVERIFY2(possible.contains(console.m_messages[0]), qPrintable(console.m_messages[0]));
        QVERIFY(!Tcp(console.m_links).HasSocket());
    }

    void resetDuringWait()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, QStringLiteral("--reset"));
        CConsole console(address);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        QCOMPARE(console.Read(), QByteArray());
        QCOMPARE(console.m_messages,
                 QStringList{QStringLiteral("Error waiting for response: ") + SystemErrorText(ECONNRESET)});
        QVERIFY(!Tcp(console.m_links).HasSocket());

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(server.WaitForLine(QStringLiteral("connection from")));
        QVERIFY(server.WaitForLine(QStringLiteral("connection from")));
    }

    // The server reset the connection between two commands: whichever send
    // comes first reports it and drops the link.
    void resetWhileIdle_data()
    {
        QTest::addColumn<bool>("readFirst");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("command send") << false << QStringLiteral("Error sending message: ");
        QTest::newRow("request send") << true << QStringLiteral("Error requesting response: ");
    }
    void resetWhileIdle()
    {
        QFETCH(bool, readFirst);
        QFETCH(QString, prefix);
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, QStringLiteral("--close-after"), QStringLiteral("1"),
                     QStringLiteral("--reset"));
        CConsole console(address);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        QVERIFY(server.WaitForLine(QStringLiteral("connection reset")));
        if (readFirst)
            QCOMPARE(console.Read(), QByteArray());
        else
            QVERIFY(!console.m_links.Send("*IDN?\r\n").Ok());
        QCOMPARE(console.m_messages, QStringList{prefix + SystemErrorText(ECONNRESET)});
        QVERIFY(!Tcp(console.m_links).HasSocket());
    }

    void partialSend()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        // While the server pauses inside a reply it reads nothing, so a big
        // line fills the connection and only part of it goes out.
        START_SERVER(server, address, QStringLiteral("--pieces"), QStringLiteral("2"),
                     QStringLiteral("--pause-ms"), QStringLiteral("60000"));
        CConsole console(address);
        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        QVERIFY(!console.Read().isEmpty());

        const QByteArray line = QByteArray(16 * 1024 * 1024, 'A') + "\r\n";
        QVERIFY(!console.m_links.Send(line.constData()).Ok());
        QCOMPARE(console.m_messages.size(), 1);
        const auto match =
            QRegularExpression(QStringLiteral("^Characters in message: (\\d+), Characters sent: (\\d+)$"))
                .match(console.m_messages[0]);
        QVERIFY2(match.hasMatch(), qPrintable(console.m_messages[0]));
        QCOMPARE(match.captured(1).toLongLong(), line.size());
        QVERIFY(match.captured(2).toLongLong() > 0);
        QVERIFY(match.captured(2).toLongLong() < line.size());
        QVERIFY(!Tcp(console.m_links).HasSocket());
    }

    void addressChangeReconnects()
    {
        const QString first = NextAddress(ADDRESS_RANGE);
        const QString second = NextAddress(ADDRESS_RANGE);
        QTemporaryDir dir;
        const QString secondLog = dir.filePath(QStringLiteral("second.txt"));
        CServer a, b;
        START_SERVER(a, first);
        START_SERVER(b, second, QStringLiteral("--log"), secondLog);
        CConsole console(first);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("ECHO ONE\r\n").Ok());
        QVERIFY(a.WaitForLine(QStringLiteral("connection from")));

        console.m_address = second;
        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("ECHO TWO\r\n").Ok());
        QCOMPARE(console.Read(), QByteArray("TWO\r\n"));
        QVERIFY(a.WaitForLine(QStringLiteral("connection closed by client")));
        QCOMPARE(ReadFile(secondLog), QByteArray("ECHO TWO\r\nPlease respond\r\n"));
        QCOMPARE(console.m_messages, QStringList());
    }

    void addressChangedBackKeepsConnection()
    {
        const QString first = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, first);
        CConsole console(first);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("ECHO ONE\r\n").Ok());
        // Edited and edited back before the next command reads the control.
        console.m_address = NextAddress(ADDRESS_RANGE);
        console.m_address = first;
        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("ECHO TWO\r\n").Ok());
        QCOMPARE(console.Read(), QByteArray("TWO\r\n"));
        QCOMPARE(server.Stop(), 0);
        QCOMPARE(server.Count(QStringLiteral("connection from")), 1);
        QCOMPARE(console.m_messages, QStringList());
    }

    void otherLinkDropsConnection()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address);
        CConsole console(address);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(server.WaitForLine(QStringLiteral("connection from")));
        console.m_links.Choose(LINK_ORDAL);
        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(!Tcp(console.m_links).HasSocket());
        QVERIFY(server.WaitForLine(QStringLiteral("connection closed by client")));

        console.m_links.Choose(LINK_TCPIP);
        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(server.WaitForLine(QStringLiteral("connection from")));
    }

    // A logged batch whose log read lost the connection: the log read's
    // failure is shown and the line still logged; the next line does not go
    // out and ends the batch with "not connected".
    void batchAfterLogReadDroppedSocket()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        QTemporaryDir dir;
        const QString received = dir.filePath(QStringLiteral("received.txt"));
        CServer server;
        START_SERVER(server, address, QStringLiteral("--reset"), QStringLiteral("--log"), received);
        CConsole console(address);
        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(dir.filePath(QStringLiteral("responses.log"))));
        CCommandSender sender(console.m_links, files, &console.m_hooks);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(sender.SendCommand("*IDN?\r\n").Ok());
        QCOMPARE(console.m_messages,
                 QStringList{QStringLiteral("Error waiting for response: ") + SystemErrorText(ECONNRESET)});
        QVERIFY(!Tcp(console.m_links).HasSocket());

        QVERIFY(!sender.SendCommand("MEAS:VOLT?\r\n").Ok());
        QCOMPARE(console.m_messages.size(), 2);
        QCOMPARE(console.m_messages[1],
                 QStringLiteral("Error sending message: ") + SystemErrorText(ENOTCONN));
        QCOMPARE(server.Stop(), 0);
        QCOMPARE(ReadFile(received), QByteArray("*IDN?\r\nPlease respond\r\n"));
        QCOMPARE(server.Count(QStringLiteral("connection from")), 1);
    }

    // The one test that waits out the response deadline.
    void neverAnswered()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, QStringLiteral("--never-answer"));
        CConsole console(address);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(console.Read(), QByteArray());
        // About ten seconds, never less: fixed figures, not the constant that
        // a change would move along.
        const qint64 waited = clock.elapsed();
        QVERIFY2(waited >= 9900 && waited < 11000, qPrintable(QString::number(waited)));
        QCOMPARE(console.m_messages, QStringList{QStringLiteral("Error waiting for response: No response")});
        QVERIFY(!Tcp(console.m_links).HasSocket());

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(server.WaitForLine(QStringLiteral("connection from")));
        QVERIFY(server.WaitForLine(QStringLiteral("connection from")));
    }

    // The one test that waits out the connect deadline: a server whose backlog
    // is full lets no handshake through.
    void acceptsNothing()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, QStringLiteral("--accept-nothing"));
        CConsole console(address);

        QElapsedTimer clock;
        clock.start();
        QVERIFY(!console.m_links.ConnectLinks().Ok());
        const qint64 waited = clock.elapsed();
        QVERIFY2(waited >= 24900 && waited < 26000, qPrintable(QString::number(waited)));
        QCOMPARE(console.m_messages, QStringList{QStringLiteral("Cannot connect to server")});
        QVERIFY(!Tcp(console.m_links).HasSocket());
        QCOMPARE(console.m_waitBegins, 1);
        QCOMPARE(console.m_waitEnds, 1);
        QCOMPARE(server.Stop(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTcpLink)
#include "tst_tcplink.moc"
