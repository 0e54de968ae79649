// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/ResponseLog.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestResponseLog : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    QString NewPath() { return m_dir.filePath(QStringLiteral("log%1.txt").arg(++m_fileNumber)); }

    static QByteArray Contents(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray("<unreadable>");
        return file.readAll();
    }

private slots:
    void responseIsLoggedLosslessly_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QByteArray>("logged");

        QTest::newRow("1.250 CR LF") << QByteArray("1.250\r\n") << QByteArray(">1.250\r\n");
        QTest::newRow("two lines, two markers") << QByteArray("1\r\n2\r\n") << QByteArray(">1\r\n>2\r\n");
        QTest::newRow("OK: two bytes kept") << QByteArray("OK") << QByteArray(">OK\r\n");
        QTest::newRow("one byte kept") << QByteArray("X") << QByteArray(">X\r\n");
        QTest::newRow("ERROR without line end") << QByteArray("ERROR") << QByteArray(">ERROR\r\n");
        QTest::newRow("A CR LF B: B kept") << QByteArray("A\r\nB") << QByteArray(">A\r\n>B\r\n");
        QTest::newRow("A CR LF XYZ") << QByteArray("A\r\nXYZ") << QByteArray(">A\r\n>XYZ\r\n");
        QTest::newRow("A CR LF CR LF: trailing blank line dropped")
            << QByteArray("A\r\n\r\n") << QByteArray(">A\r\n");
        QTest::newRow("trailing lone CR dropped") << QByteArray("A\r\n\r") << QByteArray(">A\r\n");
        QTest::newRow("blank line inside kept")
            << QByteArray("A\r\n\r\nB\r\n") << QByteArray(">A\r\n>\r\n>B\r\n");
        QTest::newRow("LF line ends") << QByteArray("A\nB\n") << QByteArray(">A\n>B\n");
        QTest::newRow("last piece ending in CR gets CR LF") << QByteArray("A\r") << QByteArray(">A\r\r\n");
        QTest::newRow("GPIB offline text") << QByteArray("\x1a\r\n") << QByteArray(">\x1a\r\n");
        QTest::newRow("line ends alone") << QByteArray("\r\n\r\n\n") << QByteArray();
        QTest::newRow("CR LF alone") << QByteArray("\r\n") << QByteArray();
        QTest::newRow("empty response") << QByteArray() << QByteArray();
        QTest::newRow("full buffer without LF")
            << QByteArray(4048, 'Z') << ">" + QByteArray(4048, 'Z') + "\r\n";
    }

    void responseIsLoggedLosslessly()
    {
        QFETCH(QByteArray, response);
        QFETCH(QByteArray, logged);

        const QString path = NewPath();
        CResponseLog log;
        QVERIFY(log.Open(path));
        QCOMPARE(log.WriteCommand("MEAS:VOLT?\r\n"), 1);
        QCOMPARE(log.WriteResponse(response.constData()), 1);
        log.Close();
        QCOMPARE(Contents(path), "MEAS:VOLT?\r\n" + logged);
    }

    // No buffer of ours: what a call wrote is in the file when it returns.
    void writesGoStraightThrough()
    {
        const QString path = NewPath();
        CResponseLog log;
        QVERIFY(log.Open(path));
        QCOMPARE(log.WriteCommand("*IDN?\r\n"), 1);
        QCOMPARE(Contents(path), QByteArray("*IDN?\r\n"));
        QCOMPARE(log.WriteResponse("A\r\nB"), 1);
        QCOMPARE(Contents(path), QByteArray("*IDN?\r\n>A\r\n>B\r\n"));
    }

    void existingLogIsAppendedTo()
    {
        const QString path = NewPath();
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("OLD\r\n>1\r\n");
        }
        CResponseLog log;
        QVERIFY(log.Open(path));
        QCOMPARE(log.WriteCommand("NEW\r\n"), 1);
        log.Close();
        // A second open of the same file goes on at its end as well.
        QVERIFY(log.Open(path));
        QCOMPARE(log.WriteCommand("NEXT\r\n"), 1);
        log.Close();
        QCOMPARE(Contents(path), QByteArray("OLD\r\n>1\r\nNEW\r\nNEXT\r\n"));
    }

    void missingLogIsCreated()
    {
        const QString path = NewPath();
        QVERIFY(!QFile::exists(path));
        CResponseLog log;
        QVERIFY(log.Open(path));
        QVERIFY(log.IsOpen());
        QVERIFY(QFile::exists(path));
        QCOMPARE(Contents(path), QByteArray());
    }

    void openFailureKeepsErrno()
    {
        CResponseLog log;
        QVERIFY(!log.Open(m_dir.filePath(QStringLiteral("no/such/folder/log.txt"))));
        QVERIFY(!log.IsOpen());
        QCOMPARE(log.LastError(), ENOENT);
    }

    // A named pipe with nobody reading fails at once instead of holding the
    // window; with a reader the records go through it.
    void namedPipeLog()
    {
        const QString path = m_dir.filePath(QStringLiteral("pipe.log"));
        const QByteArray native = QFile::encodeName(path);
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        CResponseLog log;
        QVERIFY(!log.Open(path));
        QCOMPARE(log.LastError(), ENXIO);

        const int reader = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        QVERIFY(log.Open(path));
        QCOMPARE(log.WriteResponse("1.250\r\n"), 1);
        char got[16] = {};
        QCOMPARE(::read(reader, got, sizeof got), ssize_t(8));
        QCOMPARE(QByteArray(got, 8), QByteArray(">1.250\r\n"));
        log.Close();
        ::close(reader);
    }

    void fullDeviceFailsWrites()
    {
        struct stat st;
        if (::stat("/dev/full", &st) != 0)
            QSKIP("no /dev/full here");
        CResponseLog log;
        QVERIFY(log.Open(QStringLiteral("/dev/full")));
        QCOMPARE(log.WriteCommand("MEAS?\r\n"), 0);
        QCOMPARE(log.LastError(), ENOSPC);
        QCOMPARE(log.WriteResponse("1.250\r\n"), 0);
        QCOMPARE(log.LastError(), ENOSPC);
        // Nothing to write is no failure.
        QCOMPARE(log.WriteResponse("\r\n"), 1);
    }

    void writeAfterCloseFails()
    {
        CResponseLog log;
        QCOMPARE(log.WriteCommand("X\r\n"), 0);
        QCOMPARE(log.LastError(), EBADF);
    }
};

QTEST_GUILESS_MAIN(TestResponseLog)
#include "tst_responselog.moc"
