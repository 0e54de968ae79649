// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConsoleTestSupport.h"
#include "tests/links/LinkAccess.h"

#include "links/TcpLink.h"
#include "timing/Delay.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

using namespace consoletest;

// The file handlers of the window, driven through its buttons. The open and
// save dialogs are answered by the test. Commands go to the ordal link with a
// library that does not exist, so nothing is sent and the log gets each command
// alone: the log shows exactly what was sent. Where a response matters, the
// simulated ordal library answers.
class TestConsoleDlgFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    int m_fileNumber = 0;
    QStringList m_saveTitles;
    QList<std::uint64_t> m_pauses;

    QString WriteFile(const QByteArray &content, const QString &name = QString())
    {
        const QString path =
            m_tmp.filePath(name.isEmpty() ? QStringLiteral("commands%1.txt").arg(++m_fileNumber) : name);
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

    // The window on the ordal link, by default with a library that is missing.
    void Prepare(Window &w, const QString &library = QStringLiteral("/nonexistent/libordal.so"))
    {
        LinkAs<CMessageLibraryLink>(w->Links(), LINK_ORDAL).SetLibraryName(library);
        w.control<QRadioButton>(IDC_LINK_ORDAL)->click();
        w->SetPrompts({.askSaveFile = [this](const QString &title) {
            m_saveTitles << title;
            return QString();
        }});
    }

    // Answers the open dialog with `path`, and the save dialog with `logPath`.
    void Answer(Window &w, const QString &path, const QString &logPath = QString())
    {
        w->SetPrompts({.askOpenFile = [path, logPath]() {
            COpenFileChoice choice;
            choice.accepted = true;
            choice.path = path;
            choice.name = QFileInfo(path).fileName();
            choice.logResponses = !logPath.isEmpty();
            return choice;
        }});
        w->SetPrompts({.askSaveFile = [this, logPath](const QString &title) {
            m_saveTitles << title;
            return logPath;
        }});
    }

    static void Click(Window &w, int id) { w.control<QPushButton>(id)->click(); }
    static QString CommandText(Window &w) { return w.control<QComboBox>(IDC_COMMAND)->currentText(); }

    // The state No file, File open or File used up, as the controls show it.
    static QString State(Window &w)
    {
        const bool sendFile = w.control<QPushButton>(IDC_SEND_FILE)->isEnabled();
        const bool send = w.control<QPushButton>(IDC_SEND)->isEnabled();
        const bool read = w.control<QCheckBox>(IDC_READ_AFTER_SEND)->isEnabled();
        const bool combo = w.control<QComboBox>(IDC_COMMAND)->isEnabled();
        const QString open = w.control<QPushButton>(IDC_OPEN_FILE)->text();
        if (!sendFile && send && read && combo && open == QStringLiteral("Open File") &&
            w->windowTitle() == QStringLiteral("Tallix") &&
            w.control<QLabel>(IDC_INPUT_PATH)->text().isEmpty() &&
            w.control<QLabel>(IDC_OUTPUT_PATH)->text().isEmpty() && !w->Files().IsCommandFileOpen())
            return QStringLiteral("No file");
        if (sendFile && !combo && open == QStringLiteral("Close File") &&
            w->windowTitle().startsWith(QStringLiteral("Tallix [")) && send == read) {
            if (send && w->Files().IsCommandFileOpen())
                return QStringLiteral("File open");
            if (!send && !w->Files().IsCommandFileOpen())
                return QStringLiteral("File used up");
        }
        return QStringLiteral("inconsistent");
    }

private slots:
    void initTestCase()
    {
        UseTestSettings();
        ClearSettings();
        QVERIFY(m_tmp.isValid());
        // A fixed calibration: a pause of n microseconds counts 2n loops.
        g_loopsPerMicrosecond = 2.0f;
        // and no measuring of the GPIB read pause either.
        g_spinLoopsPerMillisecond = 1000;
    }

    void init()
    {
        m_saveTitles.clear();
        m_pauses.clear();
        SetCountingLoopObserver([this](std::uint64_t bound) { m_pauses << bound; });
    }

    void cleanup()
    {
        SetCountingLoopObserver({});
        qunsetenv("TALLIX_SIM_GPIB_STATUS");
    }

    void cleanupTestCase() { ClearSettings(); }

    void cancelChangesNothing()
    {
        Window w;
        Prepare(w);
        w.control<QPlainTextEdit>(IDC_RESPONSE)->setPlainText(QStringLiteral("kept"));
        Click(w, IDC_OPEN_FILE);
        QCOMPARE(w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText(), QStringLiteral("kept"));
        QCOMPARE(State(w), QStringLiteral("No file"));
        QVERIFY(w.messages.isEmpty());
    }

    void confirmedButNotOpened_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << QByteArray() << false << QStringLiteral("Could not open file");
        QTest::newRow("blank file") << QByteArray("\r\n\n\r") << true << QStringLiteral("Blank file");
        QTest::newRow("bad first line")
            << QByteArray("\r\nab\x80\r\nok\r\n") << true << QStringLiteral("Bad line in command file");
    }

    void confirmedButNotOpened()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        QFETCH(QString, message);

        Window w;
        Prepare(w);
        const QString path = exists ? WriteFile(content) : m_tmp.filePath(QStringLiteral("missing.txt"));
        Answer(w, path, m_tmp.filePath(QStringLiteral("never.txt")));
        w.control<QPlainTextEdit>(IDC_RESPONSE)->setPlainText(QStringLiteral("old"));
        Click(w, IDC_OPEN_FILE);
        QCOMPARE(w.messages, QStringList{message});
        QCOMPARE(w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText(), QString());
        QCOMPARE(State(w), QStringLiteral("No file"));
        QVERIFY(w->Files().CommandFilePath().isEmpty());
        // Not even asked for a log.
        QVERIFY(m_saveTitles.isEmpty());
        QVERIFY(!QFile::exists(m_tmp.filePath(QStringLiteral("never.txt"))));
    }

    void openShowsFirstNonEmptyLine()
    {
        Window w;
        Prepare(w);
        const QString path = WriteFile("\r\n\r\nmeas:volt?\r\n*idn?\r\n", QStringLiteral("init.txt"));
        Answer(w, path);
        Click(w, IDC_OPEN_FILE);
        QVERIFY(w.messages.isEmpty());
        QCOMPARE(State(w), QStringLiteral("File open"));
        QCOMPARE(CommandText(w), QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Tallix [init.txt]"));
        QCOMPARE(w.control<QLabel>(IDC_INPUT_PATH)->text(), path);
        QCOMPARE(w.control<QLabel>(IDC_OUTPUT_PATH)->text(), QString());
        QVERIFY(m_saveTitles.isEmpty());
        QCOMPARE(qint64(w->Files().ResumePosition()), qint64(0));
        QFile::remove(path);
    }

    // A lone LF is part of the line; the box must send the line as the file
    // holds it.
    void lineWithLoneLfIsSentWhole()
    {
        Window w;
        Prepare(w);
        const QString logPath = m_tmp.filePath(QStringLiteral("lf.log"));
        Answer(w, WriteFile("a\tb\nc\r\nd\r\n"), logPath);
        Click(w, IDC_OPEN_FILE);
        QCOMPARE(CommandText(w), QStringLiteral("A\tB\nC"));
        Click(w, IDC_SEND);
        QCOMPARE(Contents(logPath), QByteArray("A\tB\nC\r\n"));
    }

    void logTickedAndSaveCancelled()
    {
        Window w;
        Prepare(w);
        const QString path = WriteFile("a\r\n", QStringLiteral("init.txt"));
        w->SetPrompts({.askOpenFile = [path]() {
            return COpenFileChoice{true, path, QStringLiteral("init.txt"), true};
        }});
        Click(w, IDC_OPEN_FILE);
        QCOMPARE(m_saveTitles, QStringList{QStringLiteral("Save/Append responses to \"init.txt\"")});
        QCOMPARE(State(w), QStringLiteral("File open"));
        QVERIFY(!w->Files().Log().IsOpen());
        QVERIFY(w->Files().LogFilePath().isEmpty());
        QCOMPARE(w.control<QLabel>(IDC_OUTPUT_PATH)->text(), QString());
        QFile::remove(path);
    }

    void logThatCannotBeOpened()
    {
        Window w;
        Prepare(w);
        Answer(w, WriteFile("a\r\nb\r\n"), m_tmp.filePath(QStringLiteral("no/folder/log.txt")));
        Click(w, IDC_OPEN_FILE);
        QCOMPARE(w.messages, QStringList{"Could not open output file"});
        QCOMPARE(State(w), QStringLiteral("File open"));
        QVERIFY(w->Files().LogFilePath().isEmpty());
        QCOMPARE(w.control<QLabel>(IDC_OUTPUT_PATH)->text(), QString());
    }

    // With the simulated instrument answering: command and response land in
    // the log, after what the log already held.
    void existingLogIsAppendedTo()
    {
        Window w;
        Prepare(w, QStringLiteral(TALLIX_SIM_LIBDIR "/libordal.so"));
        const QString logPath = WriteFile("OLD\r\n", QStringLiteral("appended.log"));
        Answer(w, WriteFile("meas:volt?\r\n*idn?\r\n"), logPath);
        Click(w, IDC_OPEN_FILE);
        QCOMPARE(w.control<QLabel>(IDC_OUTPUT_PATH)->text(), logPath);
        Click(w, IDC_SEND);
        QVERIFY(w.messages.isEmpty());
        QCOMPARE(Contents(logPath), QByteArray("OLD\r\nMEAS:VOLT?\r\n>1.250\r\n"));
        QCOMPARE(CommandText(w), QStringLiteral("*IDN?"));
    }

    void steppingToTheEndAndClosing()
    {
        Window w;
        Prepare(w);
        const QString logPath = m_tmp.filePath(QStringLiteral("stepping.log"));
        Answer(w, WriteFile("a\r\n\r\nb\r\n"), logPath);
        Click(w, IDC_OPEN_FILE);
        Click(w, IDC_SEND);
        QCOMPARE(CommandText(w), QStringLiteral("B"));
        QCOMPARE(State(w), QStringLiteral("File open"));
        Click(w, IDC_SEND);
        QCOMPARE(State(w), QStringLiteral("File used up"));
        QCOMPARE(CommandText(w), QStringLiteral("B"));
        QVERIFY(!w->Files().Log().IsOpen());
        QCOMPARE(Contents(logPath), QByteArray("A\r\nB\r\n"));
        // The history is left alone while a file is open.
        QCOMPARE(w.control<QComboBox>(IDC_COMMAND)->count(), 0);

        Click(w, IDC_SEND_FILE);
        QCOMPARE(State(w), QStringLiteral("File used up"));
        QCOMPARE(Contents(logPath), QByteArray("A\r\nB\r\nA\r\nB\r\n"));
        QCOMPARE(CommandText(w), QStringLiteral("B"));

        Click(w, IDC_OPEN_FILE);
        QCOMPARE(State(w), QStringLiteral("No file"));
        QCOMPARE(CommandText(w), QString());
        QVERIFY(w->Files().CommandFilePath().isEmpty());
        QVERIFY(w->Files().LogFilePath().isEmpty());
        QVERIFY(w.messages.isEmpty());
    }

    void sendFileAfterSends_data()
    {
        QTest::addColumn<int>("sends");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("right after opening") << 0 << QByteArray("A\r\nB\r\nC\r\n");
        QTest::newRow("after two Sends: from the line shown") << 2 << QByteArray("A\r\nB\r\nC\r\n");
        QTest::newRow("after the file was used up: all again")
            << 3 << QByteArray("A\r\nB\r\nC\r\nA\r\nB\r\nC\r\n");
    }

    void sendFileAfterSends()
    {
        QFETCH(int, sends);
        QFETCH(QByteArray, logged);

        Window w;
        Prepare(w);
        const QString logPath = m_tmp.filePath(QStringLiteral("after%1.log").arg(sends));
        QFile::remove(logPath);
        Answer(w, WriteFile("\r\na\r\nb\r\n\r\nc\r\n"), logPath);
        Click(w, IDC_OPEN_FILE);
        for (int i = 0; i < sends; ++i)
            Click(w, IDC_SEND);
        const QString shown = CommandText(w);
        Click(w, IDC_SEND_FILE);
        QCOMPARE(Contents(logPath), logged);
        QCOMPARE(State(w), QStringLiteral("File used up"));
        // The batch leaves the command box as it was.
        QCOMPARE(CommandText(w), shown);
        QVERIFY(w.messages.isEmpty());
    }

    void sendFileTwiceAppendsTwoTranscripts()
    {
        Window w;
        Prepare(w);
        const QString logPath = m_tmp.filePath(QStringLiteral("twice.log"));
        Answer(w, WriteFile("x\r\ny\r\n"), logPath);
        Click(w, IDC_OPEN_FILE);
        Click(w, IDC_SEND_FILE);
        Click(w, IDC_SEND_FILE);
        QCOMPARE(Contents(logPath), QByteArray("X\r\nY\r\nX\r\nY\r\n"));
        QCOMPARE(State(w), QStringLiteral("File used up"));
    }

    void pausesOfTheBatch_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("three lines, a pause after each")
            << QByteArray("a\r\nb\r\nc\r\n") << QByteArray("A\r\nB\r\nC\r\n");
        QTest::newRow("empty lines without, spaces with a pause")
            << QByteArray("a\r\n\r\n\r\n   \r\n\r\nb") << QByteArray("A\r\n   \r\nB\r\n");
    }

    void pausesOfTheBatch()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, logged);

        Window w;
        Prepare(w);
        const QString logPath = m_tmp.filePath(QStringLiteral("pauses%1.log").arg(m_fileNumber));
        Answer(w, WriteFile(content), logPath);
        Click(w, IDC_OPEN_FILE);
        w.control<QLineEdit>(IDC_DELAY)->setText(QStringLiteral("1000"));
        m_pauses.clear();
        Click(w, IDC_SEND_FILE);
        QCOMPARE(Contents(logPath), logged);
        QCOMPARE(m_pauses, QList<std::uint64_t>(3, 2000));
        QCOMPARE(State(w), QStringLiteral("File used up"));
    }

    void badDelayBoxUsesThePreviousDelay()
    {
        Window w;
        Prepare(w);
        Answer(w, WriteFile("a\r\nb\r\n"));
        Click(w, IDC_OPEN_FILE);
        auto *delay = w.control<QLineEdit>(IDC_DELAY);
        delay->setText(QStringLiteral("7"));
        QVERIFY(w->UpdateData(true));
        delay->setText(QStringLiteral("-5"));
        m_pauses.clear();
        Click(w, IDC_SEND_FILE);
        QVERIFY(w.messages.size() >= 2);
        QVERIFY(w.messages.at(0) != QStringLiteral("Couldn't read delay number."));
        QCOMPARE(w.messages.at(1), QStringLiteral("Couldn't read delay number."));
        QCOMPARE(m_pauses, QList<std::uint64_t>(2, 14));
        QCOMPARE(State(w), QStringLiteral("File used up"));
    }

    // The simulated GPIB library fails every Send once the first pause is
    // over: line 2 is refused.
    void gpibSendErrorOnLineTwo()
    {
        Window w;
        Prepare(w);
        Gpib(w->Links()).SetLibraryName(QStringLiteral(TALLIX_SIM_LIBDIR "/libgpib-32.so"));
        w.control<QRadioButton>(IDC_LINK_GPIB)->click();
        const QString logPath = m_tmp.filePath(QStringLiteral("gpib.log"));
        Answer(w, WriteFile("meas:volt?\r\n*idn?\r\nmeas:curr?\r\n"), logPath);
        Click(w, IDC_OPEN_FILE);
        SetCountingLoopObserver([this](std::uint64_t bound) {
            m_pauses << bound;
            qputenv("TALLIX_SIM_GPIB_STATUS", "0x8100");
        });
        m_pauses.clear();
        Click(w, IDC_SEND_FILE);
        QVERIFY2(!Gpib(w->Links()).IsOffline(), "the simulated GPIB library did not load");
        QCOMPARE(w.messages, QStringList{"Error sending GPIB command"});
        QCOMPARE(m_pauses.size(), 1);
        QCOMPARE(Contents(logPath), QByteArray("MEAS:VOLT?\r\n>1.250\r\n"));
        QCOMPARE(State(w), QStringLiteral("File used up"));
        QVERIFY(!w->Files().Log().IsOpen());
    }

    void failedLogWriteForgetsTheLog()
    {
        struct stat st;
        if (::stat("/dev/full", &st) != 0)
            QSKIP("no /dev/full here");
        Window w;
        Prepare(w);
        Answer(w, WriteFile("a\r\nb\r\n"), QStringLiteral("/dev/full"));
        Click(w, IDC_OPEN_FILE);
        QCOMPARE(w.control<QLabel>(IDC_OUTPUT_PATH)->text(), QStringLiteral("/dev/full"));
        Click(w, IDC_SEND);
        QCOMPARE(w.messages,
                 QStringList{QStringLiteral("Error writing response log: %1").arg(SystemErrorText(ENOSPC))});
        QCOMPARE(w.control<QLabel>(IDC_OUTPUT_PATH)->text(), QString());
        QVERIFY(w->Files().LogFilePath().isEmpty());
        // Not stepped: the failed command is still the one shown.
        QCOMPARE(CommandText(w), QStringLiteral("A"));
        QCOMPARE(State(w), QStringLiteral("File open"));
        // The batch then runs without a log.
        w.messages.clear();
        Click(w, IDC_SEND_FILE);
        QVERIFY(w.messages.isEmpty());
        QCOMPARE(State(w), QStringLiteral("File used up"));
    }

    void reopeningFails()
    {
        Window w;
        Prepare(w);
        const QString path = WriteFile("a\r\n");
        Answer(w, path);
        Click(w, IDC_OPEN_FILE);
        Click(w, IDC_SEND);
        QCOMPARE(State(w), QStringLiteral("File used up"));
        QVERIFY(QFile::remove(path));
        m_pauses.clear();
        Click(w, IDC_SEND_FILE);
        QCOMPARE(w.messages, QStringList{"Could not open file"});
        QVERIFY(m_pauses.isEmpty());
        QCOMPARE(State(w), QStringLiteral("File used up"));
    }
};

QTEST_MAIN(TestConsoleDlgFiles)
#include "tst_consoledlg_files.moc"
