// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/vxi11/Vxi11Finder.h"

#include <QTest>

#include <initializer_list>

namespace {

constexpr quint32 XID = 0x5a5a1234;

// XDR words, big-endian.
QByteArray Words(std::initializer_list<quint32> words)
{
    QByteArray bytes;
    for (const quint32 w : words)
        for (const int shift : {24, 16, 8, 0})
            bytes.append(static_cast<char>((w >> shift) & 0xff));
    return bytes;
}

// A portmapper's reply: xid, REPLY, MSG_ACCEPTED, a verifier (flavor, length
// and `verifierWords` of body), the accept status, then `result`.
QByteArray Reply(quint32 xid, quint32 acceptStatus, const QByteArray &result, quint32 verifierWords = 0)
{
    QByteArray bytes = Words({xid, 1, 0, 0, verifierWords * 4});
    bytes.append(QByteArray(static_cast<qsizetype>(verifierWords) * 4, '\x11'));
    return bytes + Words({acceptStatus}) + result;
}

} // namespace

// Which datagrams a broadcast's answer is taken from: anyone on the network
// can send one, and everyone saw the call's xid.
class TestVxi11Finder : public QObject
{
    Q_OBJECT

private slots:
    void portInAnswer_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("port");

        const QByteArray answer = Reply(XID, 0, Words({1024}));
        QTest::newRow("the answer") << answer << 1024;
        QTest::newRow("with the largest verifier") << Reply(XID, 0, Words({1024}), 100) << 1024;
        QTest::newRow("a verifier past the largest") << Reply(XID, 0, Words({1024}), 101) << 0;
        QTest::newRow("another call's xid") << Reply(XID + 1, 0, Words({1024})) << 0;
        QTest::newRow("a call, not a reply") << Words({XID, 0, 2, 100000, 2, 3}) + Words({0, 0, 0, 0}) << 0;
        QTest::newRow("denied") << Words({XID, 1, 1, 0, 2, 2}) << 0;
        QTest::newRow("program unavailable") << Reply(XID, 1, QByteArray()) << 0;
        QTest::newRow("no core channel") << Reply(XID, 0, Words({0})) << 0;
        QTest::newRow("a port past 65535") << Reply(XID, 0, Words({65536})) << 0;
        QTest::newRow("the result cut short") << answer.left(answer.size() - 1) << 0;
        QTest::newRow("bytes after the result") << answer + Words({7}) << 0;
        QTest::newRow("one byte after the result") << answer + QByteArray(1, '\0') << 0;
        QTest::newRow("nothing") << QByteArray() << 0;
        QTest::newRow("past the longest taken")
            << answer + QByteArray(static_cast<qsizetype>(CVxi11Finder::MAX_ANSWER_BYTES), '\0') << 0;
    }

    void portInAnswer()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, port);
        QCOMPARE(int(CVxi11Finder::PortInAnswer(XID, datagram.constData(),
                                                static_cast<std::size_t>(datagram.size()))),
                 port);
    }
};

QTEST_GUILESS_MAIN(TestVxi11Finder)
#include "tst_vxi11finder.moc"
