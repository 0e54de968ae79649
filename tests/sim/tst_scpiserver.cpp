// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/sim/ScpiServerProcess.h"

#include <QByteArrayList>
#include <QDeadlineTimer>
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
            << QByteArrayList{"meas:volt?\nDATA? 6\n"} << QByteArray("1.250\n0123\n");
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
};

QTEST_GUILESS_MAIN(TestScpiServer)
#include "tst_scpiserver.moc"
