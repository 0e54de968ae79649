// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ReplyFramer.h"

#include <QtTest>

Q_DECLARE_METATYPE(ReplyEnd)

namespace {

struct Outcome
{
    std::size_t consumed = 0;
    bool complete = false;
    CReply reply;
};

// Feeds `input` in pieces of `piece` bytes (the end mark, when asked for, on
// the last piece), as a transport hands it over.
Outcome Frame(const QByteArray &input, ReplyEnd end, bool endMark, std::int64_t maxBytes, qsizetype piece)
{
    CReplyFramer framer(end, maxBytes);
    Outcome out;
    for (qsizetype at = 0; at < input.size() && !framer.Complete(); at += piece) {
        const qsizetype n = std::min(piece, input.size() - at);
        const bool last = at + n == input.size();
        const std::size_t took =
            framer.Feed(input.constData() + at, static_cast<std::size_t>(n), endMark && last);
        out.consumed += took;
        if (took < static_cast<std::size_t>(n))
            break;
    }
    out.complete = framer.Complete();
    out.reply = framer.Take();
    return out;
}

} // namespace

class tst_ReplyFramer : public QObject
{
    Q_OBJECT

private slots:
    void frames_data();
    void frames();
    void bound();
    void knownRemaining();
};

void tst_ReplyFramer::frames_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<ReplyEnd>("end");
    QTest::addColumn<bool>("endMark");
    QTest::addColumn<int>("consumed");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<bool>("block");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray binary("ab\ncd\0\n\r", 9);
    QTest::newRow("line, then the next reply") << QByteArray("1.250\r\n+7\n") << ReplyEnd::Lf << false << 7
                                               << true << false << QByteArray("1.250\r\n");
    QTest::newRow("no LF yet") << QByteArray("1.25") << ReplyEnd::Lf << false << 4 << false << false
                               << QByteArray("1.25");
    QTest::newRow("definite block holding LF and NUL")
        << (QByteArray("#19") + binary + "\nX") << ReplyEnd::Lf << false << 13 << true << true << binary;
    QTest::newRow("definite block, its LF still to come")
        << (QByteArray("#19") + binary) << ReplyEnd::Lf << false << 12 << false << true << binary;
    QTest::newRow("empty definite block")
        << QByteArray("#10\n") << ReplyEnd::Lf << false << 4 << true << true << QByteArray();
    QTest::newRow("block, then text to the LF")
        << QByteArray("#13a\nb;ok\n") << ReplyEnd::Lf << false << 10 << true << true << QByteArray("a\nb");
    QTest::newRow("nine digits of length")
        << QByteArray("#9000000003xyz\n") << ReplyEnd::Lf << false << 15 << true << true << QByteArray("xyz");
    QTest::newRow("indefinite ends at the LF")
        << QByteArray("#0abc\nrest") << ReplyEnd::Lf << false << 6 << true << true << QByteArray("abc");
    QTest::newRow("indefinite ends at END, its LF dropped")
        << QByteArray("#0a\nb\n") << ReplyEnd::Mark << true << 6 << true << true << QByteArray("a\nb");
    // A CR LF that ends an indefinite block is no part of its payload,
    // whichever of them ends the reply.
    for (const auto &[name, end, mark] :
         {std::tuple{"LF", ReplyEnd::Lf, false}, std::tuple{"CR LF", ReplyEnd::CrLf, false},
          std::tuple{"END", ReplyEnd::Mark, true}})
        QTest::addRow("indefinite ended by CR LF, %s", name)
            << QByteArray("#0a\rb\r\n") << end << mark << 7 << true << true << QByteArray("a\rb");
    QTest::newRow("# and a letter is text")
        << QByteArray("#A12\n") << ReplyEnd::Lf << false << 5 << true << false << QByteArray("#A12\n");
    QTest::newRow("header cut by its LF")
        << QByteArray("#3\n") << ReplyEnd::Lf << false << 3 << true << false << QByteArray("#3\n");
    QTest::newRow("# at the end") << QByteArray("#") << ReplyEnd::Lf << false << 1 << false << false
                                  << QByteArray("#");
    QTest::newRow("END ends text at any byte")
        << QByteArray("A\nB") << ReplyEnd::Mark << true << 3 << true << false << QByteArray("A\nB");
    QTest::newRow("LF without END goes on")
        << QByteArray("A\nB") << ReplyEnd::Mark << false << 3 << false << false << QByteArray("A\nB");
    QTest::newRow("END inside a block's payload")
        << QByteArray("#15ab") << ReplyEnd::Mark << true << 5 << true << true << QByteArray("ab");
    QTest::newRow("CR ends") << QByteArray("12.5\r\n") << ReplyEnd::Cr << false << 5 << true << false
                             << QByteArray("12.5\r");
    QTest::newRow("CR LF: lone LF is data")
        << QByteArray("a\nb\r\nc") << ReplyEnd::CrLf << false << 5 << true << false << QByteArray("a\nb\r\n");
    QTest::newRow("CR LF: CR and LF apart")
        << QByteArray("a\r\r\n") << ReplyEnd::CrLf << false << 4 << true << false << QByteArray("a\r\r\n");
}

void tst_ReplyFramer::frames()
{
    QFETCH(QByteArray, input);
    QFETCH(ReplyEnd, end);
    QFETCH(bool, endMark);
    QFETCH(int, consumed);
    QFETCH(bool, complete);
    QFETCH(bool, block);
    QFETCH(QByteArray, payload);

    // Whole, and a byte at a time: where the pieces break must not matter.
    for (const qsizetype piece : {input.size(), qsizetype{1}, qsizetype{2}}) {
        if (piece == 0)
            continue;
        const Outcome out = Frame(input, end, endMark, DEFAULT_MAX_REPLY_BYTES, piece);
        QCOMPARE(out.consumed, static_cast<std::size_t>(consumed));
        QCOMPARE(out.complete, complete);
        QCOMPARE(out.reply.block, block);
        QCOMPARE(out.reply.bytes, input.left(consumed));
        QCOMPARE(out.reply.total, consumed);
        QVERIFY(!out.reply.cut);
        QCOMPARE(out.reply.Payload(), payload);
    }
}

void tst_ReplyFramer::bound()
{
    // Past the bound the reply is still read to its end, a block to its
    // declared length, but only its start is kept.
    QByteArray block("#220");
    block += QByteArray(20, '\n');
    block += "\nnext";
    Outcome out = Frame(block, ReplyEnd::Lf, false, 10, 3);
    QVERIFY(out.complete);
    QCOMPARE(out.consumed, std::size_t{25});
    QCOMPARE(out.reply.total, 25);
    QVERIFY(out.reply.cut);
    QCOMPARE(out.reply.bytes, block.left(10));
    QCOMPARE(out.reply.Payload(), QByteArray(6, '\n'));

    out = Frame(QByteArray(30, 'x') + "\n", ReplyEnd::Lf, false, 10, 7);
    QVERIFY(out.complete);
    QVERIFY(out.reply.cut);
    QCOMPARE(out.reply.total, 31);
    QCOMPARE(out.reply.bytes.size(), 10);
}

void tst_ReplyFramer::knownRemaining()
{
    // A reader may take a block's payload without looking at it.
    CReplyFramer framer;
    QCOMPARE(framer.Feed("#41000ab", 8), std::size_t{8});
    QCOMPARE(framer.KnownRemaining(), 998);
    QCOMPARE(framer.ExpectedLength(), 1006);
    framer.Reset();
    framer.Feed("#0ab", 4);
    QCOMPARE(framer.KnownRemaining(), 0);
    QCOMPARE(framer.ExpectedLength(), -1);
}

QTEST_APPLESS_MAIN(tst_ReplyFramer)
#include "tst_replyframer.moc"
