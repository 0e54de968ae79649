// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/sim/ScpiServerProcess.h"

#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// The instrument server's SCPI mode as a raw-socket client sees it: what comes
// back, byte for byte, for what goes in, however the bytes are cut into
// packets.
class TestScpiServer : public QObject
{
    Q_OBJECT

private:
    static int Connect(int port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<quint16>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            if (fd >= 0)
                ::close(fd);
            return -1;
        }
        // Each piece a packet of its own, so that the server meets it alone.
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return fd;
    }

    // Everything that comes within `quietMs` of the last byte (or of the
    // start), up to `timeoutMs` in all.
    static QByteArray Receive(int fd, qsizetype expected, int timeoutMs = 3000, int quietMs = 150)
    {
        QByteArray received;
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const int wait = received.size() >= expected ? quietMs : int(deadline.remainingTime());
            pollfd p{fd, POLLIN, 0};
            if (wait <= 0 || ::poll(&p, 1, wait) <= 0)
                return received;
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return received;
            received.append(buffer, n);
        }
    }

private slots:
    void exchange_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray identity("KORVANE,TALLIX-SIM,SN0001,1.0\n");
        const QByteArray noError("0,\"No error\"\n");
        const QByteArray undefined("-113,\"Undefined header\"\n");

        QTest::newRow("query ended by LF") << QByteArrayList{"*IDN?\n"} << identity;
        QTest::newRow("query ended by CR LF") << QByteArrayList{"*IDN?\r\n"} << identity;
        QTest::newRow("lower case, and a query with a parameter")
            << QByteArrayList{"meas:volt?\nDATA? 6\n"} << QByteArray("1.250\n01234\n");
        // Commands that the model would answer are not queries: nothing goes
        // out for them, so only the query's reply comes.
        QTest::newRow("commands are silent")
            << QByteArrayList{"*RST\nECHO hello\r\nSTATUS\r\nSOUR:VOLT 2.5\n", "MEAS:VOLT?\n"}
            << QByteArray("2.500\n");
        QTest::newRow("request line is a bad command")
            << QByteArrayList{"Please respond\r\n", "SYST:ERR?\n", "SYST:ERR?\n"} << undefined + noError;
        QTest::newRow("long and NEXT forms read the same queue")
            << QByteArrayList{"Please "
                              "respond\r\nFOO?\r\n:SYSTem:ERRor?\nsyst:err:next?\nSYSTEM:ERROR:NEXT?\n"}
            << undefined + undefined + noError;
        QTest::newRow("*CLS empties the queue") << QByteArrayList{"BAD\n*CLS\nSYST:ERR?\n"} << noError;
        QByteArray overflow;
        for (int i = 0; i < 15; ++i)
            overflow += undefined;
        overflow += "-350,\"Queue overflow\"\n" + noError;
        QTest::newRow("queue overflow replaces the newest entry")
            << QByteArrayList{QByteArray("BAD\n").repeated(20), QByteArray("SYST:ERR?\n").repeated(17)}
            << overflow;
        const QByteArray outOfRange("-222,\"Data out of range\"\n");
        QTest::newRow("numbers out of range are refused, with an error")
            << QByteArrayList{"WAV:DATA? 268435457\nTEST:LATE? soon\nDATA? -1\n", "SYST:ERR?\n"
                                                                                  "SYST:ERR?\nSYST:ERR?\n"}
            << outOfRange + outOfRange + outOfRange;
        QTest::newRow("one query in several packets") << QByteArrayList{"*ID", "N", "?\r", "\n"} << identity;
        QTest::newRow("several queries in one packet, the last one split")
            << QByteArrayList{"*IDN?\nMEAS:CURR?\r\nSYST:ERR?\nMEAS:", "VOLT?\n"}
            << identity + "0.010\n" + noError + "1.250\n";
    }

    void exchange()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QByteArray, expected);
        CScpiServerProcess server;
        const int port = server.Start();
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        const int fd = Connect(port);
        QVERIFY(fd >= 0);
        for (const QByteArray &piece : std::as_const(pieces)) {
            QCOMPARE(::send(fd, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL),
                     ssize_t(piece.size()));
            QThread::msleep(30);
        }
        const QByteArray received = Receive(fd, expected.size());
        ::close(fd);
        QCOMPARE(received, expected);
    }

    // A binary reply goes out byte for byte, whatever its payload holds
    // (LF, CR and NUL among them, and an LF as its last byte), framed as its
    // header says, with one LF after it; the query after it is answered as
    // usual.
    void blockFraming_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<qlonglong>("length"); // -1: the screen, a PNG of 300 to 500 KB

        QTest::newRow("CURV?") << QByteArray("CURV?") << QByteArray("#71048576") << 1048576LL;
        QTest::newRow("WAV:DATA? 16 MiB")
            << QByteArray("WAV:DATA? 16777216") << QByteArray("#816777216") << 16777216LL;
        QTest::newRow("WAV:DATA? 1") << QByteArray(":wav:data? 1") << QByteArray("#11") << 1LL;
        QTest::newRow("WAV:DATA? 0") << QByteArray("WAV:DATA? 0") << QByteArray("#10") << 0LL;
        QTest::newRow(":DISP:DATA?") << QByteArray(":DISP:DATA?") << QByteArray("#6") << -1LL;
        QTest::newRow("disp:data?, no colon") << QByteArray("disp:data?") << QByteArray("#6") << -1LL;
    }

    void blockFraming()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, header);
        QFETCH(qlonglong, length);
        const QByteArray dump = CScpiServerProcess::Dump(QString::fromLatin1(query));
        QVERIFY(!dump.isEmpty());

        CScpiServerProcess server;
        const int port = server.Start();
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        const int fd = Connect(port);
        QVERIFY(fd >= 0);
        const QByteArray identity("KORVANE,TALLIX-SIM,SN0001,1.0\n");
        const QByteArray sent = query + "\n*IDN?\n";
        QCOMPARE(::send(fd, sent.constData(), size_t(sent.size()), MSG_NOSIGNAL), ssize_t(sent.size()));
        const QByteArray received = Receive(fd, dump.size() + identity.size(), 30000);
        ::close(fd);

        QCOMPARE(received.size(), dump.size() + identity.size());
        QVERIFY(received.startsWith(dump)); // not QCOMPARE: megabytes in a failure message help no one
        QVERIFY(received.endsWith(identity));
        QVERIFY2(dump.startsWith(header), dump.left(12).toHex(' ').constData());
        const int digits = dump.at(1) - '0';
        QVERIFY(digits >= 1 && digits <= 9);
        const qlonglong declared = dump.mid(2, digits).toLongLong();
        QCOMPARE(dump.size(), 2 + digits + declared + 1);
        QCOMPARE(dump.back(), '\n');
        const QByteArray payload = dump.mid(2 + digits, declared);
        if (length >= 0) {
            QCOMPARE(declared, length);
            if (declared > 0)
                QCOMPARE(payload.back(), '\n');
        } else {
            QVERIFY2(declared >= 300000 && declared <= 500000, qPrintable(QString::number(declared)));
            QVERIFY(payload.startsWith("\x89PNG\r\n\x1A\n"));
        }
        if (declared > 1000) {
            for (const char byte : {'\n', '\r', '\0'})
                QVERIFY2(payload.count(byte) > 10, qPrintable(QString::number(int(byte))));
        }
    }

    // Replies that no length frames: a text line of exactly n bytes, and an
    // indefinite block, which only its LF ends.
    void unframedReplies_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("prefix");
        QTest::addColumn<int>("size");
        QTest::newRow("DATA? 10000") << QByteArray("DATA? 10000") << QByteArray("0123456789") << 10000;
        QTest::newRow("WAV:INDEF?") << QByteArray("WAV:INDEF?") << QByteArray("#0") << 303;
    }

    void unframedReplies()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, prefix);
        QFETCH(int, size);
        const QByteArray dump = CScpiServerProcess::Dump(QString::fromLatin1(query));
        CScpiServerProcess server;
        const int port = server.Start();
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        const int fd = Connect(port);
        QVERIFY(fd >= 0);
        const QByteArray sent = query + "\n";
        QCOMPARE(::send(fd, sent.constData(), size_t(sent.size()), MSG_NOSIGNAL), ssize_t(sent.size()));
        const QByteArray received = Receive(fd, size);
        ::close(fd);
        QCOMPARE(received, dump);
        QCOMPARE(received.size(), size);
        QVERIFY(received.startsWith(prefix));
        QCOMPARE(received.indexOf('\n'), size - 1);
    }

    // The screen goes out in pieces with pauses between them, as an
    // instrument renders it: its six pieces of 64 KiB take at least five
    // pauses of 5 ms from the first byte to the last, where the same bytes at
    // once take well under that.
    void screenComesInPieces()
    {
        const QByteArray dump = CScpiServerProcess::Dump(QStringLiteral(":DISP:DATA?"));
        QVERIFY(dump.size() > 5 * 65536);
        CScpiServerProcess server;
        const int port = server.Start();
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        const int fd = Connect(port);
        QVERIFY(fd >= 0);
        QCOMPARE(::send(fd, ":DISP:DATA?\n", 12, MSG_NOSIGNAL), ssize_t(12));
        pollfd p{fd, POLLIN, 0};
        QVERIFY(::poll(&p, 1, 10000) == 1);
        QElapsedTimer sinceFirstByte;
        sinceFirstByte.start();
        const QByteArray received = Receive(fd, dump.size(), 10000, 0);
        const qint64 spreadMs = sinceFirstByte.elapsed();
        ::close(fd);
        QCOMPARE(received.size(), dump.size());
        QVERIFY2(spreadMs >= 25, qPrintable(QString::number(spreadMs)));
    }

    // TEST:LATE? holds its LF back: "LATE" comes at once, the LF long after.
    void lateLineEnd()
    {
        CScpiServerProcess server;
        const int port = server.Start();
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        const int fd = Connect(port);
        QVERIFY(fd >= 0);
        QCOMPARE(::send(fd, "TEST:LATE? 1500\n", 16, MSG_NOSIGNAL), ssize_t(16));
        QCOMPARE(Receive(fd, 4, 5000, 300), QByteArray("LATE"));
        QCOMPARE(Receive(fd, 1, 5000), QByteArray("\n"));
        ::close(fd);
    }
};

QTEST_GUILESS_MAIN(TestScpiServer)
#include "tst_scpiserver.moc"
