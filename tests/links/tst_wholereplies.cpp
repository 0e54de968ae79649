// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/UiHooks.h"
#include "links/LinkDispatch.h"
#include "links/TcpLink.h"
#include "tests/links/LinkAccess.h"

#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

Q_DECLARE_METATYPE(std::int64_t)

// The TCP/IP link without the request line, as an instrument that answers
// its queries by itself is read: each reply whole, to its LF (a block to its
// declared length first), the wait counted from the last byte, and a reply
// that cannot be read to its end never left to be taken for the next one.
// The instrument is the other end of a socket pair, writing what each row
// scripts; "NEXT\n" follows every reply that is complete, and must come back
// intact as the next reply.
class TestWholeReplies : public QObject
{
    Q_OBJECT

private:
    CUiHooks m_hooks;
    QStringList m_messages;

private slots:
    void init()
    {
        m_messages.clear();
        m_hooks.showMessage = [this](const QString &text) { m_messages << text; };
    }

    void replies_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<int>("pauseMs");        // between two pieces
        QTest::addColumn<bool>("closeAtEnd");    // the instrument closes after the pieces
        QTest::addColumn<std::int64_t>("bound"); // "Replies"/"MaxBytes"
        QTest::addColumn<QByteArray>("reply");   // what the read gives
        QTest::addColumn<QString>("message");    // the start of the one message, or none
        QTest::addColumn<bool>("kept");          // the connection stays for the next reply

        const std::int64_t bound = DEFAULT_MAX_REPLY_BYTES;
        const QByteArray payload("ab\n\r\0cd\nef\nX", 12);
        QTest::newRow("line ended by CR LF") << QByteArrayList{"1.250\r\n"} << 0 << false << bound
                                             << QByteArray("1.250\r\n") << QString() << true;
        QTest::newRow("block holding LF, CR and NUL, in pieces")
            << QByteArrayList{"#2", "12" + payload.left(4), payload.mid(4) + "\n"} << 20 << false << bound
            << "#212" + payload + "\n"
            << QString() << true;
        const QByteArray longLine = QByteArray(10000, 'x') + "\n";
        QTest::newRow("longer than 4048")
            << QByteArrayList{longLine} << 0 << false << bound << longLine << QString() << true;
        QTest::newRow("indefinite block")
            << QByteArrayList{"#0abc\n"} << 0 << false << bound << QByteArray("#0abc\n") << QString() << true;
        // Bytes keep coming, each well within the wait: longer in all than
        // the wait, and still no time-out.
        QTest::newRow("slow but steady") << QByteArrayList{"#16", "a", "b", "c", "d", "e", "f\n"} << 120
                                         << false << bound << QByteArray("#16abcdef\n") << QString() << true;
        const QByteArray huge = QByteArray((1 << 20) + 500, 'y') + "\n";
        QTest::newRow("past the bound")
            << QByteArrayList{huge} << 0 << false << MIN_MAX_REPLY_BYTES << huge.left(1 << 20)
            << QStringLiteral("The reply was cut: it had 1,049,077 bytes") << true;
        QTest::newRow("LF after the wait")
            << QByteArrayList{"LATE", "\n"} << 700 << false << bound << QByteArray()
            << QStringLiteral("Error waiting for response: the reply stopped after 4 bytes") << false;
        QTest::newRow("nothing") << QByteArrayList{} << 0 << false << bound << QByteArray()
                                 << QStringLiteral("Error waiting for response: No response") << false;
        QTest::newRow("closed inside the reply")
            << QByteArrayList{"PART"} << 0 << true << bound << QByteArray()
            << QStringLiteral("Error receiving response: the instrument closed the connection after 4 bytes")
            << false;
        QTest::newRow("block cut short by a close")
            << QByteArrayList{"#15ab\n"} << 0 << true << bound << QByteArray()
            << QStringLiteral("Error receiving response: the instrument closed the connection after 6 bytes")
            << false;
    }

    void replies()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(int, pauseMs);
        QFETCH(bool, closeAtEnd);
        QFETCH(std::int64_t, bound);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        QFETCH(bool, kept);

        int fds[2];
        QVERIFY(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
        CLinkDispatch links(&m_hooks);
        links.Choose(LINK_TCPIP);
        CLinkOptions options = links.Context().options;
        options.askForReply = false;
        options.replyTimeoutMs = 300;
        options.maxReplyBytes = bound;
        links.SetOptions(options);
        Tcp(links).Connection().Adopt(fds[0]);

        const int peer = fds[1];
        std::thread instrument([=]() {
            for (qsizetype i = 0; i < pieces.size(); ++i) {
                if (i > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
                const QByteArray &piece = pieces[i];
                for (qsizetype sent = 0; sent < piece.size();) {
                    const ssize_t n =
                        ::send(peer, piece.constData() + sent, piece.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0)
                        return;
                    sent += n;
                }
            }
            if (closeAtEnd)
                ::shutdown(peer, SHUT_WR);
            else if (!pieces.isEmpty() && !message.startsWith(QLatin1String("Error")))
                ::send(peer, "NEXT\n", 5, MSG_NOSIGNAL);
        });

        CReply got;
        links.ReadResponse(got);
        instrument.join();
        QCOMPARE(got.bytes, reply);
        if (message.isEmpty()) {
            QCOMPARE(m_messages, QStringList());
        } else {
            QCOMPARE(m_messages.size(), 1);
            QVERIFY2(m_messages[0].startsWith(message), qPrintable(m_messages[0]));
        }
        QCOMPARE(Tcp(links).HasSocket(), kept);
        if (kept) {
            // Nothing of the reply was left behind, nor taken from the next.
            QByteArray next;
            links.ReadResponse(next);
            QCOMPARE(next, QByteArray("NEXT\n"));
        }
        Tcp(links).DropSocket();
        ::close(peer);
    }
};

QTEST_GUILESS_MAIN(TestWholeReplies)
#include "tst_wholereplies.moc"
