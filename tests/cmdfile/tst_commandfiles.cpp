// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFiles.h"
#include "common/SystemError.h"
#include "common/UiHooks.h"
#include "links/LinkDispatch.h"
#include "work/CommandSender.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString BAD_LINE = QStringLiteral("Bad line in command file");

// A disk that fails every read from this offset on (-1: none).
off_t g_failFrom = -1;

ssize_t FailingRead(int fd, void *buffer, std::size_t count)
{
    if (g_failFrom >= 0 && ::lseek(fd, 0, SEEK_CUR) >= g_failFrom) {
        errno = EIO;
        return -1;
    }
    return ::read(fd, buffer, count);
}
} // namespace

// Opening, stepping and batch runs with the window's parts replaced: messages
// are recorded, and the batch sends to a recorder or to the link dispatch
// with no link chosen (nothing goes out; the log still gets its records).
class TestCommandFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_fileNumber = 0;
    QStringList m_messages;
    CUiHooks m_hooks;
    // What the batch did, in order: "send:<line>" and "delay:<us>".
    QStringList m_events;
    int m_failOnSend = 0; // 1-based send that fails; 0: none

    QString WriteFile(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("commands%1.txt").arg(++m_fileNumber));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static QByteArray Contents(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray("<unreadable>");
        return file.readAll();
    }

    bool Run(CCommandFiles &files)
    {
        int sends = 0;
        return files.RunBatch(
            [&](const char *line) {
                m_events << QStringLiteral("send:") + QString::fromLatin1(line);
                return ++sends == m_failOnSend ? 0 : 1;
            },
            [&](std::uint32_t us) { m_events << QStringLiteral("delay:%1").arg(us); });
    }

    // Opens `content` as a selected command file, as Open File leaves it.
    QByteArray Open(CCommandFiles &files, const QByteArray &content)
    {
        QByteArray line;
        const QString path = WriteFile(content);
        if (files.OpenCommandFile(path, line) == 1)
            files.SetCommandFilePath(path);
        return line;
    }

private slots:
    void init()
    {
        m_messages.clear();
        m_events.clear();
        m_failOnSend = 0;
        m_hooks.showMessage = [this](const QString &text) { m_messages << text; };
    }

    void openFindsFirstLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("first line") << QByteArray("meas?\r\nx\r\n") << 1 << QByteArray("MEAS?")
                                    << QStringList();
        QTest::newRow("empty lines before it")
            << QByteArray("\r\n\r\n\n\ridn?") << 1 << QByteArray("IDN?") << QStringList();
        QTest::newRow("line of spaces is not empty")
            << QByteArray("\r\n  \r\n") << 1 << QByteArray("  ") << QStringList();
        QTest::newRow("empty file") << QByteArray() << 0 << QByteArray() << QStringList{"Blank file"};
        QTest::newRow("only line ends")
            << QByteArray("\r\n\r\r\n\n") << 0 << QByteArray() << QStringList{"Blank file"};
        QTest::newRow("bad first line not taken") << QByteArray("ab\x01"
                                                                "cd\r\nx\r\n")
                                                  << 0 << QByteArray() << QStringList{BAD_LINE};
        QTest::newRow("bad line after empty lines")
            << QByteArray("\r\n") + QByteArray(200, 'a') << 0 << QByteArray() << QStringList{BAD_LINE};
    }

    void openFindsFirstLine()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, result);
        QFETCH(QByteArray, line);
        QFETCH(QStringList, messages);

        CCommandFiles files(&m_hooks);
        // The file is closed before the message: nothing stays open while the
        // user reads it.
        m_hooks.showMessage = [&](const QString &text) {
            m_messages << (files.IsCommandFileOpen() ? text + QStringLiteral(" (file still open)") : text);
        };
        // A file stepped into first: the next one's batch must not start
        // where that one would have.
        QByteArray stepped;
        QCOMPARE(files.OpenCommandFile(WriteFile("A\r\nB\r\n"), stepped), 1);
        QCOMPARE(files.StepToNextLine(stepped), 1);
        QVERIFY(files.ResumePosition() > 0);
        QByteArray found;
        QCOMPARE(files.OpenCommandFile(WriteFile(content), found), result);
        QCOMPARE(m_messages, messages);
        QCOMPARE(files.IsCommandFileOpen(), result == 1);
        if (result == 1) {
            QCOMPARE(found, line);
            // A batch right after opening starts at the top, empty lines and all.
            QCOMPARE(qint64(files.ResumePosition()), qint64(0));
        }
    }

    void openMissingFile()
    {
        CCommandFiles files(&m_hooks);
        QByteArray line;
        QCOMPARE(files.OpenCommandFile(m_dir.filePath(QStringLiteral("missing.txt")), line), 0);
        QCOMPARE(m_messages, QStringList{"Could not open file"});
        QVERIFY(!files.IsCommandFileOpen());
    }

    void logOpenFailureLeavesNoLog()
    {
        CCommandFiles files(&m_hooks);
        QCOMPARE(Open(files, "a\r\n"), QByteArray("A"));
        QVERIFY(!files.OpenLogFile(m_dir.filePath(QStringLiteral("no/folder/log.txt"))));
        QCOMPARE(m_messages, QStringList{"Could not open output file"});
        QVERIFY(!files.Log().IsOpen());
        QVERIFY(files.LogFilePath().isEmpty());
        QVERIFY(files.IsCommandFileOpen());
    }

    void steppingToTheEnd()
    {
        CCommandFiles files(&m_hooks);
        QCOMPARE(Open(files, "a\r\n\r\nb\r\nc"), QByteArray("A"));
        QByteArray line;
        QCOMPARE(files.StepToNextLine(line), 1);
        QCOMPARE(line, QByteArray("B"));
        // From just after A's CR: a batch now sends B, after the empty line.
        QCOMPARE(qint64(files.ResumePosition()), qint64(2));
        QCOMPARE(files.StepToNextLine(line), 1);
        QCOMPARE(line, QByteArray("C"));
        QCOMPARE(qint64(files.ResumePosition()), qint64(7));
        QVERIFY(files.OpenLogFile(m_dir.filePath(QStringLiteral("steplog.txt"))));
        QCOMPARE(files.StepToNextLine(line), 0);
        QVERIFY(!files.IsCommandFileOpen());
        QVERIFY(!files.Log().IsOpen());
        QVERIFY(m_messages.isEmpty());
        // The selection stays: Send File can run it again.
        QVERIFY(!files.CommandFilePath().isEmpty());
        QVERIFY(!files.LogFilePath().isEmpty());
    }

    void steppingOntoBadLineUsesTheFileUp()
    {
        CCommandFiles files(&m_hooks);
        QCOMPARE(Open(files, "a\r\nb\x1b"
                             "c\r\nd\r\n"),
                 QByteArray("A"));
        QByteArray line("unchanged");
        QCOMPARE(files.StepToNextLine(line), 0);
        QCOMPARE(line, QByteArray("unchanged"));
        QCOMPARE(m_messages, QStringList{BAD_LINE});
        QVERIFY(!files.IsCommandFileOpen());
    }

    void batch_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("failOnSend");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("three lines, pause after each")
            << QByteArray("a\r\nb\r\nc\r\n") << 0
            << QStringList{"send:A\r\n", "delay:1000", "send:B\r\n", "delay:1000", "send:C\r\n", "delay:1000"}
            << QStringList();
        QTest::newRow("empty lines skipped without pause")
            << QByteArray("\r\n\r\na\r\n\r\n\n\rb") << 0
            << QStringList{"send:A\r\n", "delay:1000", "send:B\r\n", "delay:1000"} << QStringList();
        QTest::newRow("line of spaces sent with pause")
            << QByteArray("   \r\n") << 0 << QStringList{"send:   \r\n", "delay:1000"} << QStringList();
        QTest::newRow("failed send on line 2 stops without pause")
            << QByteArray("a\r\nb\r\nc\r\n") << 2 << QStringList{"send:A\r\n", "delay:1000", "send:B\r\n"}
            << QStringList();
        QTest::newRow("bad line ends the run, not sent")
            << QByteArray("a\r\n") + QByteArray(200, 'x') + "\r\nc\r\n"
            << 0 << QStringList{"send:A\r\n", "delay:1000"} << QStringList{BAD_LINE};
        QTest::newRow("NUL ends the run") << QByteArray("a\r\nb\0c\r\nd\r\n", 11) << 0
                                          << QStringList{"send:A\r\n", "delay:1000"} << QStringList{BAD_LINE};
    }

    void batch()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, failOnSend);
        QFETCH(QStringList, events);
        QFETCH(QStringList, messages);

        CCommandFiles files(&m_hooks);
        files.SetDelay(1000);
        m_failOnSend = failOnSend;
        Open(files, content);
        QVERIFY(files.IsCommandFileOpen());
        QVERIFY(files.OpenLogFile(m_dir.filePath(QStringLiteral("batchlog%1.txt").arg(m_fileNumber))));
        QVERIFY(Run(files));
        QCOMPARE(m_events, events);
        QCOMPARE(m_messages, messages);
        QVERIFY(!files.IsCommandFileOpen());
        QVERIFY(!files.Log().IsOpen());
    }

    // The progress of a batch counts the lines it sends, blank ones not,
    // and so does the message when Stop ends it.
    void progressCountsLinesSent()
    {
        CCommandFiles files(&m_hooks);
        Open(files, "\r\na\r\n\r\nb\r\n\r\nc\r\n\r\n\r\n");
        QList<std::pair<qint64, qint64>> pulses;
        m_hooks.pulse = [&](const CProgress &progress) {
            pulses << std::pair<qint64, qint64>{progress.done, progress.total};
            return pulses.size() < 2;
        };
        const bool ran = files.RunBatch(
            [](const char *) {
                // The first line outlasts the wait before the lines are counted.
                QThread::msleep(COUNT_LINES_AFTER.count() + 50);
                return 1;
            },
            [](std::uint32_t) {});
        m_hooks.pulse = nullptr;
        QVERIFY(ran);
        QCOMPARE(pulses, (QList<std::pair<qint64, qint64>>{{1, 3}, {2, 3}}));
        QCOMPARE(m_messages, QStringList{QStringLiteral("Batch stopped after 2 of 3 lines")});
    }

    void batchStartsAtTheLineShown()
    {
        CCommandFiles files(&m_hooks);
        Open(files, "a\r\nb\r\n\r\nc\r\nd");
        QByteArray line;
        QCOMPARE(files.StepToNextLine(line), 1);
        QCOMPARE(files.StepToNextLine(line), 1);
        QCOMPARE(line, QByteArray("C"));
        QVERIFY(Run(files));
        QCOMPARE(m_events, (QStringList{"send:C\r\n", "delay:0", "send:D\r\n", "delay:0"}));
    }

    void batchAfterUsedUpRunsWholeFile()
    {
        CCommandFiles files(&m_hooks);
        Open(files, "a\r\nb");
        QByteArray line;
        QCOMPARE(files.StepToNextLine(line), 1);
        QCOMPARE(files.StepToNextLine(line), 0);
        QVERIFY(!files.IsCommandFileOpen());
        QVERIFY(Run(files));
        QCOMPARE(m_events, (QStringList{"send:A\r\n", "delay:0", "send:B\r\n", "delay:0"}));
        QVERIFY(!files.IsCommandFileOpen());
    }

    // The log gets the command alone: no link is chosen, so nothing is read.
    void sendFileTwiceAppendsTwoTranscripts()
    {
        CLinkDispatch links(&m_hooks);
        links.Choose(LINK_NONE);
        CCommandFiles files(&m_hooks);
        CCommandSender sender(links, files, &m_hooks);
        const QString logPath = m_dir.filePath(QStringLiteral("twice.txt"));
        {
            QFile old(logPath);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("EARLIER\r\n");
        }
        Open(files, "a\r\n\r\nb\r\n");
        QVERIFY(files.OpenLogFile(logPath));
        const auto send = [&](const char *line) { return sender.SendCommand(line).Ok() ? 1 : 0; };
        const auto pause = [](std::uint32_t) {};
        QVERIFY(files.RunBatch(send, pause));
        QVERIFY(!files.Log().IsOpen());
        QVERIFY(files.RunBatch(send, pause));
        QVERIFY(!files.Log().IsOpen());
        QCOMPARE(Contents(logPath), QByteArray("EARLIER\r\nA\r\nB\r\nA\r\nB\r\n"));
        QVERIFY(m_messages.isEmpty());
    }

    // A read that fails is never the end of the file: the line it cut short
    // is not sent, the user is told why, and both files are closed.
    void readErrorIsNeverTheEnd_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<qint64>("failFrom");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("first read fails, not a blank file") << "open" << qint64(0) << QStringList();
        // The reader takes 64 KiB at a time: the line across that mark is cut.
        QTest::newRow("stepping onto the cut line") << "step" << qint64(65536) << QStringList();
        QTest::newRow("batch up to the cut line") << "batch" << qint64(65536) << QStringList{"FIRST\r\n"};
    }

    void readErrorIsNeverTheEnd()
    {
        QFETCH(QString, action);
        QFETCH(qint64, failFrom);
        QFETCH(QStringList, sent);
        // FIRST, empty lines up to just before 64 KiB, then the cut line.
        QByteArray content = "FIRST\r\n";
        content += QByteArray(65530 - content.size(), '\n');
        content += "MEAS:VOLT? 10\r\n";
        const QString path = WriteFile(content);
        const QString logPath = m_dir.filePath(QStringLiteral("cut%1.log").arg(m_fileNumber));
        CLinkDispatch links(&m_hooks);
        links.Choose(LINK_NONE);
        CCommandFiles files(&m_hooks);
        CCommandSender sender(links, files, &m_hooks);
        m_hooks.showMessage = [&](const QString &text) {
            m_messages << (files.IsCommandFileOpen() ? text + QStringLiteral(" (file still open)") : text);
        };

        CCommandFileReader::SetReadFunction(FailingRead);
        g_failFrom = failFrom;
        QByteArray line;
        const int opened = files.OpenCommandFile(path, line);
        if (action != QLatin1String("open")) {
            QCOMPARE(opened, 1);
            QCOMPARE(line, QByteArray("FIRST"));
            files.SetCommandFilePath(path);
            QVERIFY(files.OpenLogFile(logPath));
        }
        QStringList events;
        if (action == QLatin1String("step")) {
            QCOMPARE(files.StepToNextLine(line), 0);
        } else if (action == QLatin1String("batch")) {
            QVERIFY(files.RunBatch(
                [&](const char *l) {
                    events << QString::fromLatin1(l);
                    return sender.SendCommand(l).Ok() ? 1 : 0;
                },
                [](std::uint32_t) {}));
        }
        CCommandFileReader::SetReadFunction(nullptr);
        g_failFrom = -1;

        QCOMPARE(opened, action == QLatin1String("open") ? 0 : 1);
        QCOMPARE(events, sent);
        QCOMPARE(m_messages,
                 QStringList{QStringLiteral("Error reading command file: %1").arg(SystemErrorText(EIO))});
        QVERIFY(!files.IsCommandFileOpen());
        QVERIFY(!files.Log().IsOpen());
        if (action == QLatin1String("batch"))
            QCOMPARE(Contents(logPath), QByteArray("FIRST\r\n"));
    }

    void reopenFailures_data()
    {
        QTest::addColumn<bool>("removeCommandFile");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("command file gone") << true << QStringList{"Could not open file"};
        QTest::newRow("log cannot be opened") << false << QStringList{"Could not open output file"};
    }

    void reopenFailures()
    {
        QFETCH(bool, removeCommandFile);
        QFETCH(QStringList, messages);

        CCommandFiles files(&m_hooks);
        Open(files, "a\r\n");
        const QString logFolder = m_dir.filePath(QStringLiteral("logs%1").arg(m_fileNumber));
        QVERIFY(QDir().mkpath(logFolder));
        const QString logPath = logFolder + QStringLiteral("/log.txt");
        QVERIFY(files.OpenLogFile(logPath));
        QVERIFY(Run(files));
        m_events.clear();

        if (removeCommandFile) {
            QVERIFY(QFile::remove(files.CommandFilePath()));
        } else {
            // A folder where the log was: it cannot be opened for writing.
            QVERIFY(QFile::remove(logPath));
            QVERIFY(QDir().mkpath(logPath));
        }
        QVERIFY(!Run(files));
        QCOMPARE(m_messages, messages);
        QVERIFY(m_events.isEmpty());
        // Still File used up: nothing open, the selection kept.
        QVERIFY(!files.IsCommandFileOpen());
        QVERIFY(!files.Log().IsOpen());
        QCOMPARE(files.LogFilePath(), logPath);
    }

    // A full disk: reported once, the log closed and forgotten, the run over;
    // whether the record's first write is its line or its stamp.
    void failedLogWriteStopsTheBatch_data()
    {
        QTest::addColumn<bool>("stamps");
        QTest::newRow("without stamps") << false;
        QTest::newRow("with stamps") << true;
    }

    void failedLogWriteStopsTheBatch()
    {
        QFETCH(bool, stamps);
        struct stat st;
        if (::stat("/dev/full", &st) != 0)
            QSKIP("no /dev/full here");
        CLinkDispatch links(&m_hooks);
        links.Choose(LINK_NONE);
        CCommandFiles files(&m_hooks);
        int labelsEmptied = 0;
        CCommandSender sender(links, files, &m_hooks, [&labelsEmptied]() { ++labelsEmptied; });
        sender.SetTimeStamps(stamps);
        Open(files, "a\r\nb\r\nc\r\n");
        QVERIFY(files.OpenLogFile(QStringLiteral("/dev/full")));

        int sends = 0;
        int pauses = 0;
        QVERIFY(files.RunBatch(
            [&](const char *line) {
                ++sends;
                return sender.SendCommand(line).Ok() ? 1 : 0;
            },
            [&](std::uint32_t) { ++pauses; }));
        QCOMPARE(sends, 1);
        QCOMPARE(pauses, 0);
        QCOMPARE(m_messages,
                 QStringList{QStringLiteral("Error writing response log: %1").arg(SystemErrorText(ENOSPC))});
        QVERIFY(!files.Log().IsOpen());
        QVERIFY(files.LogFilePath().isEmpty());
        QVERIFY(!files.IsCommandFileOpen());
        QCOMPARE(labelsEmptied, 1);

        // The next run goes without the log.
        m_messages.clear();
        QVERIFY(files.RunBatch([&](const char *line) { return sender.SendCommand(line).Ok() ? 1 : 0; },
                               [](std::uint32_t) {}));
        QVERIFY(m_messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCommandFiles)
#include "tst_commandfiles.moc"
