// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFileReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One call of the reader: its result, the bytes it left in the buffer up to
// and including the terminating NUL (not looked at for 0), and the logical
// position afterwards.
struct ReadCall
{
    int result;
    QByteArray bytes;
    qint64 position;
};
using ReadCalls = QList<ReadCall>;

ReadCall Line(const QByteArray &text, qint64 position)
{
    return {1, text, position};
}
ReadCall Bad(const QByteArray &text, qint64 position)
{
    return {-1, text, position};
}
ReadCall End(qint64 position)
{
    return {0, QByteArray(), position};
}

} // namespace

Q_DECLARE_METATYPE(ReadCalls)

class TestCommandFileReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    QString WriteFile(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("commands%1.txt").arg(++m_fileNumber));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void lines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ReadCalls>("calls");

        const QByteArray a199(199, 'a');
        const QByteArray A199(199, 'A');

        QTest::newRow("CR LF: upper-cased, LF left for the next call")
            << QByteArray("meas?\r\n") << ReadCalls{Line("MEAS?\r\n", 6), End(7)};
        QTest::newRow("lone CR ends a line")
            << QByteArray("a\rb\r") << ReadCalls{Line("A\r\n", 2), Line("B\r\n", 4), End(4)};
        QTest::newRow("several LFs after CR dropped")
            << QByteArray("a\r\n\n\nb\r\n") << ReadCalls{Line("A\r\n", 2), Line("B\r\n", 7), End(8)};
        QTest::newRow("last line without CR")
            << QByteArray("x\r\nend") << ReadCalls{Line("X\r\n", 2), Line("END\r\n", 6), End(6)};
        QTest::newRow("empty file") << QByteArray() << ReadCalls{End(0), End(0)};
        QTest::newRow("only LFs") << QByteArray("\n\n\n") << ReadCalls{End(3)};
        QTest::newRow("empty lines read as CR LF alone")
            << QByteArray("\r\n\r\nX\r\n")
            << ReadCalls{Line("\r\n", 1), Line("\r\n", 3), Line("X\r\n", 6), End(7)};
        QTest::newRow("lone LFs stay inside the line")
            << QByteArray("a\nb\n") << ReadCalls{Line("A\nB\n\r\n", 4), End(4)};
        QTest::newRow("tab, VT and FF stay")
            << QByteArray("a\tb\x0b\x0c") << ReadCalls{Line("A\tB\x0b\x0c\r\n", 5)};
        QTest::newRow("only a to z change")
            << QByteArray("az`{~@[ 09\r") << ReadCalls{Line("AZ`{~@[ 09\r\n", 11), End(11)};
        QTest::newRow("three spaces are a line")
            << QByteArray("   \r\n") << ReadCalls{Line("   \r\n", 4), End(5)};
        QTest::newRow("199 characters") << a199 + "\r\n" << ReadCalls{Line(A199 + "\r\n", 200), End(201)};
        QTest::newRow("199 characters at the end of the file")
            << a199 << ReadCalls{Line(A199 + "\r\n", 199), End(199)};
        QTest::newRow("200 characters: bad, then an empty line")
            << a199 + "b\r\n"
            << ReadCalls{Bad(A199 + "b", 200), Line("\r\n", 201), End(202)};
        QTest::newRow("201 characters: the rest is the next line")
            << a199 + "bc\r\n"
            << ReadCalls{Bad(A199 + "b", 200), Line("C\r\n", 202), End(203)};
        QTest::newRow("NUL inside") << QByteArray("ab\0cd\r\n", 7)
                                    << ReadCalls{Bad(QByteArray("AB\0", 3), 3), Line("CD\r\n", 6), End(7)};
        QTest::newRow("NUL first reads as empty text")
            << QByteArray("\0", 1) << ReadCalls{Bad(QByteArray("\0", 1), 1), End(1)};
        QTest::newRow("ESC") << QByteArray("a\x1b\r") << ReadCalls{Bad("A\x1b", 2), Line("\r\n", 3), End(3)};
        QTest::newRow("DEL") << QByteArray("x\x7f") << ReadCalls{Bad("X\x7f", 2), End(2)};
        QTest::newRow("0x80 after LFs") << QByteArray("\n\n\x80") << ReadCalls{Bad("\x80", 3), End(3)};
        QTest::newRow("0xFF kept as read") << QByteArray("ok\xff") << ReadCalls{Bad("OK\xff", 3), End(3)};
        QTest::newRow("0x1F just below space") << QByteArray("\x1f") << ReadCalls{Bad("\x1f", 1), End(1)};
        QTest::newRow("0x08 just below HT") << QByteArray("\x08") << ReadCalls{Bad("\x08", 1), End(1)};
    }

    void lines()
    {
        QFETCH(QByteArray, content);
        QFETCH(ReadCalls, calls);

        CCommandFileReader reader;
        QVERIFY(reader.Open(WriteFile(content)));
        QCOMPARE(qint64(reader.Position()), qint64(0));
        for (int i = 0; i < calls.size(); ++i) {
            // Exactly the promised room, with a guard behind it.
            char storage[COMMAND_LINE_BUFFER_SIZE + 16];
            std::memset(storage, 0x55, sizeof storage);
            const ReadCall &want = calls.at(i);
            const int result = reader.ReadCommandLine(storage);
            QCOMPARE(result, want.result);
            if (want.result != 0)
                QCOMPARE(QByteArray(storage, want.bytes.size() + 1), want.bytes + QByteArray(1, '\0'));
            QCOMPARE(qint64(reader.Position()), want.position);
            for (std::size_t g = COMMAND_LINE_BUFFER_SIZE; g < sizeof storage; ++g)
                QCOMPARE(storage[g], char(0x55));
        }
    }

    // Stepping saves the position and a batch seeks back to it, also across
    // the reader's own buffer.
    void seekBackReadsTheSameLines()
    {
        QByteArray content;
        QList<qint64> starts;
        for (int i = 0; i < 20000; ++i) {
            starts << content.size();
            content += "line" + QByteArray::number(i) + "\r\n";
        }
        CCommandFileReader reader;
        QVERIFY(reader.Open(WriteFile(content)));
        char buffer[COMMAND_LINE_BUFFER_SIZE];
        for (int i = 0; i < 20000; ++i)
            QCOMPARE(reader.ReadCommandLine(buffer), 1);
        QCOMPARE(reader.ReadCommandLine(buffer), 0);

        for (int i : {19999, 7, 0, 12345, 12346, 3}) {
            // Positions after a CR: the LF before the line is dropped again.
            const qint64 at = i == 0 ? 0 : starts.at(i) - 1;
            QVERIFY(reader.Seek(at));
            QCOMPARE(qint64(reader.Position()), at);
            QCOMPARE(reader.ReadCommandLine(buffer), 1);
            QCOMPARE(QByteArray(buffer), "LINE" + QByteArray::number(i) + "\r\n");
            QCOMPARE(qint64(reader.Position()), starts.at(i) + 4 + QByteArray::number(i).size() + 1);
        }
        QVERIFY(!reader.Seek(-1));
    }

    void positionsPast4GiB()
    {
        const QString path = m_dir.filePath(QStringLiteral("sparse.txt"));
        const qint64 far = (qint64(5) << 30) + 3;
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (!file.resize(far) || !file.seek(far) || file.write("far\r\nx") != 6)
                QSKIP("no sparse files here");
        }
        CCommandFileReader reader;
        QVERIFY(reader.Open(path));
        QVERIFY(reader.Seek(far));
        char buffer[COMMAND_LINE_BUFFER_SIZE];
        QCOMPARE(reader.ReadCommandLine(buffer), 1);
        QCOMPARE(QByteArray(buffer), "FAR\r\n");
        QCOMPARE(qint64(reader.Position()), far + 4);
        QCOMPARE(reader.ReadCommandLine(buffer), 1);
        QCOMPARE(qint64(reader.Position()), far + 6);
        QCOMPARE(reader.ReadCommandLine(buffer), 0);
        reader.Close();
        QFile::remove(path);
    }

    void openFailsAndCloses()
    {
        CCommandFileReader reader;
        QVERIFY(!reader.Open(m_dir.filePath(QStringLiteral("missing.txt"))));
        QVERIFY(!reader.IsOpen());
        QVERIFY(reader.Open(WriteFile("a")));
        QVERIFY(reader.IsOpen());
        reader.Close();
        QVERIFY(!reader.IsOpen());
        QVERIFY(!reader.Seek(0));
    }

    // Only a regular file can be stepped and sent again from a saved place;
    // a named pipe must not hold the window waiting for a writer.
    void openRefusesWhatIsNotAFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("named pipe without a writer") << QStringLiteral("fifo");
    }

    void openRefusesWhatIsNotAFile()
    {
        QFETCH(QString, kind);
        const QString path = m_dir.filePath(kind);
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        else
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        CCommandFileReader reader;
        QVERIFY(!reader.Open(path)); // returns at once: a blocked open would hang the test
        QVERIFY(!reader.IsOpen());
    }
};

QTEST_GUILESS_MAIN(TestCommandFileReader)
#include "tst_commandfilereader.moc"
