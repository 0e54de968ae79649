// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFileReader.h"
#include "cmdfile/ResponseLog.h"
#include "work/HexModel.h"
#include "work/Transcript.h"
#include "work/TranscriptExport.h"
#include "work/TranscriptModel.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

CTranscriptEntry Command(const QByteArray &line)
{
    CTranscriptEntry entry;
    entry.kind = CTranscriptEntry::Kind::Command;
    entry.link = QStringLiteral("TCP/IP");
    entry.target = QStringLiteral("127.0.0.1:5025");
    entry.data.bytes = line;
    entry.data.total = line.size();
    entry.data.whole = true;
    return entry;
}

CTranscriptEntry Reply(const QByteArray &bytes, bool whole = true)
{
    CTranscriptEntry entry;
    entry.kind = CTranscriptEntry::Kind::Reply;
    entry.link = QStringLiteral("VISA Resource");
    entry.target = QStringLiteral("TCPIP::h::5025::SOCKET");
    entry.data.bytes = bytes;
    entry.data.total = bytes.size();
    entry.data.whole = whole;
    entry.durationMs = 1.5;
    if (bytes.startsWith("#") && bytes.size() > 2) {
        const int digits = bytes[1] - '0';
        entry.data.block = true;
        entry.data.payloadOffset = 2 + digits;
        entry.data.payloadLength = bytes.mid(2, digits).toLongLong();
    }
    return entry;
}

CTranscriptEntry Event(CTranscriptEntry::Kind kind, const QString &text)
{
    CTranscriptEntry entry;
    entry.kind = kind;
    entry.link = QStringLiteral("TCP/IP");
    entry.text = text;
    return entry;
}

const QByteArray PNG("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);

// An RFC 4180 reader: records of fields, quotes doubled inside quotes.
QList<QStringList> ParseCsv(const QByteArray &bytes)
{
    QList<QStringList> records;
    QStringList record;
    QByteArray field;
    bool quoted = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record << QString::fromUtf8(field);
            field.clear();
        } else if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            record << QString::fromUtf8(field);
            field.clear();
            records << record;
            record.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

} // namespace

class TestTranscript : public QObject
{
    Q_OBJECT

private slots:
    void entryText_data();
    void entryText();
    void bounds_data();
    void bounds();
    void find_data();
    void find();
    void modelCatchesUpOncePerTurn();
    void modelDropsAndFilters();
    void csvReadsBack();
    void commandFileReplays();
    void logFormIsTheLogsRecords();
    void saveFailsWithoutLeavingAFile();
    void hexRows();
};

void TestTranscript::entryText_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QString>("text");
    QTest::newRow("command shows its line end")
        << 0 << QByteArray("*IDN?\r\n") << true << QStringLiteral("*IDN?\\r\\n");
    QTest::newRow("reply with a tab") << 1 << QByteArray("1\t2\n") << true << QStringLiteral("1\\t2\\n");
    QTest::newRow("own protocol ends at NUL")
        << 1 << QByteArray("AB\0CD", 5) << false << QStringLiteral("AB");
    QTest::newRow("binary reply is a summary")
        << 1 << QByteArray("\x01\x02\x03", 3) << true << QStringLiteral("Reply of 3 bytes (data)");
    QTest::newRow("block is a summary")
        << 1 << (QByteArray("#216") + PNG + "\n") << true << QStringLiteral("Block of 16 bytes (PNG image)");
    QTest::newRow("backslash escaped")
        << 0 << QByteArray("A\\B\r\n") << true << QStringLiteral("A\\\\B\\r\\n");
}

void TestTranscript::entryText()
{
    QFETCH(int, which);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, whole);
    QFETCH(QString, text);
    const CTranscriptEntry entry = which == 0 ? Command(bytes) : Reply(bytes, whole);
    QCOMPARE(TranscriptEntryText(entry), text);
}

void TestTranscript::bounds_data()
{
    QTest::addColumn<int>("maxEntries");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QList<int>>("replySizes");
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("dropped");
    QTest::addColumn<QString>("droppedText");
    QTest::newRow("within both") << 10 << 1000 << QList<int>{10, 10, 10} << 3 << 0 << QString();
    QTest::newRow("entries bound") << 3 << 1000 << QList<int>{1, 1, 1, 1, 1} << 3 << 2
                                   << QStringLiteral("2 older entries were dropped.");
    QTest::newRow("bytes bound") << 100 << 100 << QList<int>{60, 30, 30} << 2 << 1
                                 << QStringLiteral("1 older entry was dropped.");
    // Larger than the bound: its summary stays, and nothing else goes.
    QTest::newRow("reply over the bound") << 100 << 100 << QList<int>{50, 500} << 2 << 0 << QString();
}

void TestTranscript::bounds()
{
    QFETCH(int, maxEntries);
    QFETCH(int, maxBytes);
    QFETCH(QList<int>, replySizes);
    QFETCH(int, kept);
    QFETCH(int, dropped);
    QFETCH(QString, droppedText);
    CTranscript transcript;
    transcript.SetBounds(maxEntries, maxBytes);
    for (int size : replySizes)
        transcript.Add(Reply(QByteArray(size, 'a')));
    QCOMPARE(transcript.Size(), kept);
    QCOMPARE(transcript.Dropped(), dropped);
    QVERIFY(transcript.Bytes() <= maxBytes);
    // The newest is always kept, and the oldest kept is the one after the
    // last dropped.
    QCOMPARE(transcript.At(kept - 1).data.total, replySizes.last());
    QCOMPARE(transcript.FirstSerial(), static_cast<std::uint64_t>(dropped));
    CTranscriptModel model(transcript);
    QCOMPARE(model.DroppedText(), droppedText);
    if (replySizes.last() > maxBytes) {
        QVERIFY(!transcript.At(kept - 1).BytesKept());
        QCOMPARE(TranscriptEntryText(transcript.At(kept - 1)), QStringLiteral("Reply of 500 bytes (text)"));
    }
    transcript.Clear();
    QCOMPARE(transcript.Size(), 0);
    QCOMPARE(transcript.Dropped(), 0);
    QCOMPARE(transcript.Bytes(), 0);
}

void TestTranscript::find_data()
{
    QTest::addColumn<QString>("needle");
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<int>("filter");
    QTest::addColumn<int>("found");
    // 0 *IDN?  1 reply  2 MEAS?  3 block  4 failure  5 *IDN? again
    QTest::newRow("first from nothing") << QStringLiteral("idn") << -1 << true << 0 << 0;
    QTest::newRow("next") << QStringLiteral("IDN") << 0 << true << 0 << 5;
    QTest::newRow("wraps round") << QStringLiteral("idn") << 5 << true << 0 << 0;
    QTest::newRow("back wraps round") << QStringLiteral("idn") << 0 << false << 0 << 5;
    QTest::newRow("in a summary") << QStringLiteral("png image") << -1 << true << 0 << 3;
    QTest::newRow("in a failure's text") << QStringLiteral("timed out") << -1 << true << 0 << 4;
    QTest::newRow("filter hides failures") << QStringLiteral("timed out") << -1 << true << 1 << -1;
    QTest::newRow("failures only") << QStringLiteral("e") << -1 << true << 2 << 4;
    QTest::newRow("missing") << QStringLiteral("nowhere") << 2 << false << 0 << -1;
}

void TestTranscript::find()
{
    QFETCH(QString, needle);
    QFETCH(int, from);
    QFETCH(bool, forward);
    QFETCH(int, filter);
    QFETCH(int, found);
    CTranscript transcript;
    transcript.Add(Command("*IDN?\r\n"));
    transcript.Add(Reply("KORVANE,SIM,1,0\n"));
    transcript.Add(Command("MEAS:VOLT?\r\n"));
    transcript.Add(Reply(QByteArray("#216") + PNG + "\n"));
    transcript.Add(Event(CTranscriptEntry::Kind::Failure, QStringLiteral("The read timed out.")));
    transcript.Add(Command("*idn?\r\n"));
    QCOMPARE(transcript.Find(needle, from, forward, static_cast<TranscriptFilter>(filter)), found);
}

void TestTranscript::modelCatchesUpOncePerTurn()
{
    CTranscript transcript;
    CTranscriptModel model(transcript);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 1000; ++i)
        transcript.Add(Command("*IDN?\r\n"));
    // Nothing before the event loop turns: a batch's lines cost the view
    // one insertion, not one each.
    QCOMPARE(model.rowCount(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(model.rowCount(), 1000);
    QCOMPARE(model.data(model.index(999), Qt::DisplayRole).toString(), QStringLiteral("*IDN?\\r\\n"));
    QVERIFY(model.data(model.index(0), Qt::AccessibleTextRole)
                .toString()
                .startsWith(QStringLiteral("Command, ")));
}

void TestTranscript::modelDropsAndFilters()
{
    CTranscript transcript;
    transcript.SetBounds(4, 1 << 20);
    CTranscriptModel model(transcript);
    QSignalSpy dropped(&model, &CTranscriptModel::droppedChanged);
    for (int i = 0; i < 3; ++i) {
        transcript.Add(Command("C" + QByteArray::number(i) + "\r\n"));
        transcript.Add(Reply("R" + QByteArray::number(i) + "\n"));
    }
    transcript.Add(Event(CTranscriptEntry::Kind::Stop, QStringLiteral("Stopped by the user.")));
    model.Sync();
    // 7 added, 4 kept: the rows name the entries that are there, in order.
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.Entry(0)->data.bytes, QByteArray("R1\n"));
    QCOMPARE(model.Entry(3)->kind, CTranscriptEntry::Kind::Stop);
    QCOMPARE(dropped.count(), 1);
    QCOMPARE(dropped.at(0).at(0).toString(), QStringLiteral("3 older entries were dropped."));
    model.SetFilter(TranscriptFilter::CommandsAndReplies);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.RowOf(3), -1); // the Stop
    QCOMPARE(model.IndexOf(2), 2);
    // Dropped while filtered: the rows still match the transcript.
    transcript.Add(Command("C3\r\n"));
    transcript.Add(Command("C4\r\n"));
    model.Sync();
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.Entry(0)->data.bytes, QByteArray("R2\n"));
    QCOMPARE(model.Entry(2)->data.bytes, QByteArray("C4\r\n"));
    transcript.Clear();
    model.Sync();
    QCOMPARE(model.rowCount(), 0);
}

void TestTranscript::csvReadsBack()
{
    CTranscript transcript;
    transcript.Add(Command("DISP:TEXT \"a,b\"\r\n"));
    transcript.Add(Reply("line1\nline2\n"));
    transcript.Add(Event(CTranscriptEntry::Kind::Failure, QStringLiteral("Failed:\n\"quoted\", twice")));
    const QList<QStringList> records = ParseCsv(TranscriptCsv(transcript));
    QCOMPARE(records.size(), 4);
    QCOMPARE(records[0],
             (QStringList{"time", "link", "address", "direction", "bytes", "duration_ms", "text"}));
    for (const QStringList &record : records)
        QCOMPARE(record.size(), 7);
    QCOMPARE(records[1][3], QStringLiteral("sent"));
    QCOMPARE(records[1][4], QStringLiteral("17"));
    QCOMPARE(records[1][6], QStringLiteral("DISP:TEXT \"a,b\"\\r\\n"));
    QCOMPARE(records[2][2], QStringLiteral("TCPIP::h::5025::SOCKET"));
    QCOMPARE(records[2][5], QStringLiteral("1.500"));
    QCOMPARE(records[3][3], QStringLiteral("failure"));
    QCOMPARE(records[3][4], QString());
    QCOMPARE(records[3][6], QStringLiteral("Failed:\n\"quoted\", twice"));
}

void TestTranscript::commandFileReplays()
{
    CTranscript transcript;
    transcript.Add(Command("*rst\r\n"));
    transcript.Add(Reply("1\n"));
    transcript.Add(Command("MEAS:VOLT?\r\n"));
    transcript.Add(Event(CTranscriptEntry::Kind::Failure, QStringLiteral("x")));
    transcript.Add(Command("*IDN?\r\n"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("commands.txt"));
    QVERIFY(SaveTranscript(transcript, TranscriptForm::CommandFile, path).Ok());
    // Read back as Open File reads it, line by line.
    CCommandFileReader reader;
    QVERIFY(reader.Open(path));
    QStringList lines;
    char buffer[COMMAND_LINE_BUFFER_SIZE];
    while (reader.ReadCommandLine(buffer) == LINE_READ)
        lines << QString::fromLatin1(buffer);
    QCOMPARE(lines, (QStringList{"*RST\r\n", "MEAS:VOLT?\r\n", "*IDN?\r\n"}));
}

void TestTranscript::logFormIsTheLogsRecords()
{
    // The same run's records, written by the log and saved from the
    // transcript.
    const QList<QPair<QByteArray, QByteArray>> run{
        {"*IDN?\r\n", "KORVANE,SIM,1,0\n"},
        {"CURV?\r\n", QByteArray("#216") + PNG + "\n"},
        {"*RST\r\n", QByteArray()},
        {"TEXT?\r\n", "a\r\n\r\n\r\n"},
    };
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("run.log"));
    CResponseLog log;
    QVERIFY(log.Open(logPath));
    CTranscript transcript;
    for (const auto &[line, reply] : run) {
        QVERIFY(log.WriteCommand(line.constData()));
        QVERIFY(log.WriteResponse(reply.constData(), static_cast<std::size_t>(reply.size()), true));
        transcript.Add(Command(line));
        transcript.Add(Reply(reply));
    }
    // Events that are no record of the log.
    transcript.Add(Event(CTranscriptEntry::Kind::Stop, QStringLiteral("Stopped by the user.")));
    log.Close();
    const QString savedPath = dir.filePath(QStringLiteral("saved.log"));
    QVERIFY(SaveTranscript(transcript, TranscriptForm::Log, savedPath).Ok());
    QFile written(logPath);
    QFile saved(savedPath);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), written.readAll());
}

void TestTranscript::saveFailsWithoutLeavingAFile()
{
    CTranscript transcript;
    transcript.Add(Command("*IDN?\r\n"));
    const CResult result =
        SaveTranscript(transcript, TranscriptForm::Csv, QStringLiteral("/nonexistent-folder/transcript.csv"));
    QVERIFY(!result.Ok());
    QVERIFY2(result.Text().startsWith(QStringLiteral("Could not save the transcript: ")),
             qPrintable(result.Text()));
}

void TestTranscript::hexRows()
{
    const CHexModel model(QByteArray("*IDN?\r\n0123456789ABCDEF", 23));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.RowText(0),
             QStringLiteral("00000000  2a 49 44 4e 3f 0d 0a 30 31 32 33 34 35 36 37 38  *IDN?..012345678"));
    QCOMPARE(model.RowText(1), QStringLiteral("00000010  39 41 42 43 44 45 46") + QString(27, u' ') +
                                   QStringLiteral("  9ABCDEF"));
}

QTEST_GUILESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
