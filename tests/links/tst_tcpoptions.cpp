// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFiles.h"
#include "tests/links/LinkAccess.h"
#include "tests/links/TcpTestSupport.h"
#include "work/CommandSender.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace tcptest;

namespace {
constexpr int ADDRESS_RANGE = 2;
}

// The TCP/IP link with the options of the Link Settings dialog, against the
// simulated server on ports above 1024.
class TestTcpOptions : public QObject
{
    Q_OBJECT

private slots:
    // Another port, and a changed port that drops the connection first: the
    // next command reaches the server on the new one.
    void portOfTheSettings()
    {
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer first, second;
        START_SERVER(first, address, QStringLiteral("--port"), QStringLiteral("5025"));
        START_SERVER(second, address, QStringLiteral("--port"), QStringLiteral("9221"));
        CConsole console(address);
        CLinkOptions options = console.m_links.Context().options;
        options.tcpPort = 5025;
        console.m_links.SetOptions(options);
        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(first.WaitForLine(QStringLiteral("connection from")));
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        QCOMPARE(console.Read(), IDENTITY);

        options = console.m_links.Context().options;
        options.tcpPort = 9221;
        console.m_links.SetOptions(options);
        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(second.WaitForLine(QStringLiteral("connection from")));
        QVERIFY(first.WaitForLine(QStringLiteral("connection closed")));
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        QCOMPARE(console.Read(), IDENTITY);
        QCOMPARE(console.m_messages, QStringList());
    }

    // Shorter waits end as the fixed ones do, with the same words, on time.
    void shorterWaits_data()
    {
        QTest::addColumn<QString>("serverOption");
        QTest::addColumn<int>("connectMs");
        QTest::addColumn<int>("replyMs");
        QTest::addColumn<QString>("message");
        QTest::newRow("reply in 0.5 s")
            << "--never-answer" << CONNECT_TIMEOUT_MS << 500 << "Error waiting for response: No response";
        QTest::newRow("connect in 1 s")
            << "--accept-nothing" << 1000 << RESPONSE_TIMEOUT_MS << "Cannot connect to server";
    }

    void shorterWaits()
    {
        QFETCH(QString, serverOption);
        QFETCH(int, connectMs);
        QFETCH(int, replyMs);
        QFETCH(QString, message);
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, QStringLiteral("--port"), QStringLiteral("5025"), serverOption);
        CConsole console(address);
        CLinkOptions options = console.m_links.Context().options;
        options.tcpPort = 5025;
        options.connectTimeoutMs = connectMs;
        options.replyTimeoutMs = replyMs;
        console.m_links.SetOptions(options);

        QElapsedTimer clock;
        clock.start();
        if (console.m_links.ConnectLinks().Ok()) {
            QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
            clock.start();
            QCOMPARE(console.Read(), QByteArray());
        }
        const qint64 waited = clock.elapsed();
        const int expected = qMin(connectMs, replyMs);
        QVERIFY2(waited >= expected - 50 && waited <= expected + 50, qPrintable(QString::number(waited)));
        QCOMPARE(console.m_messages, QStringList{message});
        QVERIFY(!Tcp(console.m_links).HasSocket());
    }

    // An instrument that answers its queries by itself: not asked, it is
    // read up to its line end, also when the reply comes in pieces; a logged
    // line that is no query waits for nothing; and it never hears "Please
    // respond", which it would take as a bad command.
    void notAskedForTheReply_data()
    {
        QTest::addColumn<QStringList>("serverOptions");
        QTest::newRow("whole replies") << QStringList();
        QTest::newRow("replies in 3 pieces") << QStringList{"--pieces", "3"};
    }

    void notAskedForTheReply()
    {
        QFETCH(QStringList, serverOptions);
        const QString address = NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, QStringList{"--port", "5025", "--scpi"} + serverOptions);
        CConsole console(address);
        CLinkOptions options = console.m_links.Context().options;
        options.tcpPort = 5025;
        options.askForReply = false;
        console.m_links.SetOptions(options);
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("scpi.log"));
        CCommandFiles files;
        QVERIFY(files.Log().Open(logPath));
        CCommandSender sender(console.m_links, files, &console.m_hooks);

        QVERIFY(console.m_links.ConnectLinks().Ok());
        QVERIFY(sender.SendCommand("*RST\r\n").Ok());
        QVERIFY(sender.SendCommand("*IDN?\r\n").Ok());
        QVERIFY(console.m_links.Send("*IDN?\r\n").Ok());
        QCOMPARE(console.Read(), QByteArray(tallixsimIdentity() + "\n"));
        QVERIFY(console.m_links.Send("SYST:ERR?\r\n").Ok());
        QCOMPARE(console.Read(), QByteArray("0,\"No error\"\n"));
        files.Log().Close();
        QCOMPARE(ReadFile(logPath), "*RST\r\n*IDN?\r\n>" + tallixsimIdentity() + "\n");
        QCOMPARE(console.m_messages, QStringList());
    }

private:
    static QByteArray tallixsimIdentity() { return IDENTITY.chopped(2); }
};

QTEST_GUILESS_MAIN(TestTcpOptions)
#include "tst_tcpoptions.moc"
