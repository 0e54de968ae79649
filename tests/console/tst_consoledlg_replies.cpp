// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/IpAddressCtrl.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/links/LinkAccess.h"
#include "tests/links/TcpTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QImage>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace consoletest;
using tcptest::CServer;

namespace {

constexpr int ADDRESS_RANGE = 9;

// The reply as the log holds it: the record's pieces without their ">"
// markers. Every piece runs up to and including its LF, so this gives back
// every byte of a reply that ends in its LF.
QByteArray LoggedReply(const QByteArray &record)
{
    QByteArray reply;
    qsizetype at = 0;
    while (at < record.size()) {
        if (record[at] != '>')
            return QByteArray("(not a piece at ") + QByteArray::number(at) + ")";
        const qsizetype lf = record.indexOf('\n', at + 1);
        const qsizetype end = lf < 0 ? record.size() : lf + 1;
        reply += record.mid(at + 1, end - at - 1);
        at = end;
    }
    return reply;
}

// How many bytes of the log, from `at`, hold a reply of `size` bytes: its
// pieces with their markers.
qsizetype LoggedSize(const QByteArray &log, qsizetype at, qsizetype size)
{
    qsizetype taken = 0;
    qsizetype from = at;
    while (taken < size && from < log.size() && log[from] == '>') {
        const qsizetype lf = log.indexOf('\n', from + 1);
        const qsizetype end = lf < 0 ? log.size() : lf + 1;
        taken += end - from - 1;
        from = end;
    }
    return from - at;
}

} // namespace

// Replies as a user meets them in the window, from a plain SCPI instrument on
// a raw socket ("Ask for each reply" off): each read once, whole, shown or
// summed up, logged byte for byte, and saved.
class TestConsoleDlgReplies : public QObject
{
    Q_OBJECT

private:
    QString m_address;
    tcptest::CServer m_server;
    QTemporaryDir m_dir;

    // A window on the SCPI instrument, with Read ticked.
    std::unique_ptr<Window> ScpiWindow(int replyTimeoutMs = 10000, qint64 maxReplyBytes = 0)
    {
        ClearSettings();
        if (maxReplyBytes > 0)
            Store(QStringLiteral("Replies/MaxBytes"), maxReplyBytes);
        Store(QStringLiteral("TCPIP/Port"), 5025);
        Store(QStringLiteral("TCPIP/RequestLine"), 0);
        Store(QStringLiteral("TCPIP/ReplyTimeoutMs"), replyTimeoutMs);
        auto w = std::make_unique<Window>();
        w->control<QRadioButton>(IDC_LINK_TCPIP)->click();
        w->control<CIpAddressCtrl>(IDC_IP_ADDRESS)->SetAddress(tcptest::AddressNumber(m_address));
        w->control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        return w;
    }

    static QString Send(Window &w, const QString &command)
    {
        w.control<QComboBox>(IDC_COMMAND)->setEditText(command);
        w->OnSend();
        return w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText();
    }

    // What the simulated SCPI instrument answers to `query`, as its --dump
    // gives it.
    QByteArray Dump(const QString &query)
    {
        const QString path = m_dir.filePath(QStringLiteral("dump.bin"));
        QProcess::execute(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-instrument-server"),
                          {QStringLiteral("--scpi"), QStringLiteral("--dump"), query, path});
        return tcptest::ReadFile(path);
    }

    // A window on the simulated GPIB library, GPIB chosen, Read ticked.
    static std::unique_ptr<Window> GpibWindow()
    {
        ClearSettings();
        Store(QStringLiteral("GPIB/Connect"), 2);
        auto w = std::make_unique<Window>();
        w->control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        return w;
    }

private slots:
    void initTestCase()
    {
        UseTestSettings();
        m_address = tcptest::NextAddress(ADDRESS_RANGE);
        START_SERVER(m_server, m_address, QStringLiteral("--port"), QStringLiteral("5025"),
                     QStringLiteral("--scpi"));
    }

    // With a log open and Read ticked, the reply that the log took is the
    // one shown: the instrument, which sends it once, is not read again
    // (that second read waited out the time-out and dropped the connection).
    // A line that asks nothing is not waited for, nor is Status.
    void readOncePerSend_data()
    {
        QTest::addColumn<bool>("logged");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("record");
        const QString identity = QString::fromLatin1(tcptest::IDENTITY.chopped(2)) + "\n";
        QTest::newRow("query, logged")
            << true << "*IDN?" << identity << QByteArray("*IDN?\r\n>" + tcptest::IDENTITY.chopped(2) + "\n");
        QTest::newRow("no query, logged") << true << "*RST" << QString() << QByteArray("*RST\r\n");
        QTest::newRow("no query") << false << "*RST" << QString() << QByteArray();
        QTest::newRow("Status") << false << "STATUS" << QString() << QByteArray();
    }

    void readOncePerSend()
    {
        QFETCH(bool, logged);
        QFETCH(QString, command);
        QFETCH(QString, shown);
        QFETCH(QByteArray, record);
        auto w = ScpiWindow(3000);
        const QString logPath = m_dir.filePath(QStringLiteral("once.log"));
        QFile::remove(logPath);
        if (logged)
            QVERIFY((*w)->Files().Log().Open(logPath));
        if (command == QLatin1String("STATUS"))
            (*w)->OnStatus();
        else
            Send(*w, command);
        // A second read would have waited out the time-out, said so, and
        // dropped the connection.
        QCOMPARE(w->control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText(), shown);
        QCOMPARE(w->messages, QStringList());
        QVERIFY(Tcp((*w)->Links()).HasSocket());
        // The connection is in step: the next query gets its own reply.
        (*w)->Files().Log().Close();
        QCOMPARE(Send(*w, QStringLiteral("SYST:ERR?")), QStringLiteral("0,\"No error\"\n"));
        if (logged)
            QCOMPARE(tcptest::ReadFile(logPath), record);
    }

    // A logged batch of queries, blocks among them: every reply is filed
    // under the command that asked for it, and every byte of a block can be
    // read back from the log.
    void loggedBatchKeepsRepliesInStep()
    {
        auto w = ScpiWindow();
        const QString commands = m_dir.filePath(QStringLiteral("batch.txt"));
        QFile file(commands);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("*IDN?\r\nCURV?\r\n*IDN?\r\nMEAS:VOLT?\r\nWAV:INDEF?\r\n*IDN?\r\n");
        file.close();
        const QString logPath = m_dir.filePath(QStringLiteral("batch.log"));
        QFile::remove(logPath);
        (*w)->SetPrompts({.askOpenFile = [&]() {
            return COpenFileChoice{true, commands, QStringLiteral("batch.txt"), true};
        }});
        (*w)->SetPrompts({.askSaveFile = [&](const QString &) { return logPath; }});
        (*w)->OnOpenFile();
        (*w)->OnSendFile();
        QCOMPARE(w->messages, QStringList());

        const QByteArray identity = Dump(QStringLiteral("*IDN?"));
        const QByteArray curve = Dump(QStringLiteral("CURV?"));
        const QByteArray volts = Dump(QStringLiteral("MEAS:VOLT?"));
        const QByteArray indefinite = Dump(QStringLiteral("WAV:INDEF?"));
        QCOMPARE(curve.size(), 1048576 + 9 + 1);
        const QByteArray log = tcptest::ReadFile(logPath);
        // The records one after another, each reply behind its command.
        const QByteArrayList queries{"*IDN?", "CURV?", "*IDN?", "MEAS:VOLT?", "WAV:INDEF?", "*IDN?"};
        const QByteArrayList replies{identity, curve, identity, volts, indefinite, identity};
        qsizetype at = 0;
        for (qsizetype i = 0; i < queries.size(); ++i) {
            const QByteArray command = queries[i] + "\r\n";
            QCOMPARE(log.mid(at, command.size()), command);
            at += command.size();
            // The next record starts right after this reply's last piece.
            const qsizetype end =
                i + 1 < queries.size() ? at + LoggedSize(log, at, replies[i].size()) : log.size();
            QCOMPARE(LoggedReply(log.mid(at, end - at)), replies[i]);
            at = end;
        }
    }

    // A block shows as what it is, and Save Reply As writes its payload
    // without the header: a PNG that opens as one.
    void blockShownAndSaved()
    {
        auto w = ScpiWindow();
        QCOMPARE(Send(*w, QStringLiteral(":DISP:DATA?")),
                 QStringLiteral("Block of 392,045 bytes (PNG image)"));
        QCOMPARE(w->messages, QStringList());
        const QByteArray reply = Dump(QStringLiteral(":DISP:DATA?"));
        const QString path = m_dir.filePath(QStringLiteral("screen.png"));
        QString suggested;
        (*w)->SetPrompts({.askSaveReply = [&](const QString &name) {
            suggested = name;
            return path;
        }});
        (*w)->OnSysCommand(IDM_SAVEREPLY);
        QCOMPARE(suggested, QStringLiteral("reply.png"));
        const QByteArray saved = tcptest::ReadFile(path);
        QCOMPARE(saved, reply.mid(8, 392045));
        QImage image;
        QVERIFY(image.loadFromData(saved, "PNG"));
        QCOMPARE(image.size(), QSize(480, 272));

        // A save over a file replaces it and leaves nothing else beside it.
        const QDir folder(m_dir.filePath(QStringLiteral("again")));
        QVERIFY(QDir().mkpath(folder.path()));
        const QString again = folder.filePath(QStringLiteral("screen.png"));
        {
            QFile old(again);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an older screen");
        }
        (*w)->SetPrompts({.askSaveReply = [&](const QString &) { return again; }});
        (*w)->OnSysCommand(IDM_SAVEREPLY);
        QCOMPARE(w->messages, QStringList());
        QCOMPARE(tcptest::ReadFile(again), saved);
        QCOMPARE(folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("screen.png")});

        // A save that cannot be made says why and leaves nothing behind.
        const QString nowhere = m_dir.filePath(QStringLiteral("missing/screen.png"));
        (*w)->SetPrompts({.askSaveReply = [&](const QString &) { return nowhere; }});
        (*w)->OnSysCommand(IDM_SAVEREPLY);
        QCOMPARE(w->messages.size(), 1);
        QVERIFY2(w->messages[0].startsWith(QStringLiteral("Could not save the reply: ")),
                 qPrintable(w->messages[0]));
        QVERIFY(!QFileInfo::exists(nowhere));
    }

    // A reply past "Replies"/"MaxBytes" is saved only once the user has been
    // told how much of it the file holds, and said OK.
    void cutReplySavedOnlyAfterOk_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }

    void cutReplySavedOnlyAfterOk()
    {
        QFETCH(bool, ok);
        auto cut = ScpiWindow(10000, 1048576);
        Send(*cut, QStringLiteral("DATA? 16777216"));
        QCOMPARE(cut->messages.size(), 1); // the cut, as it was read
        const QString path = m_dir.filePath(QStringLiteral("cut.txt"));
        QFile::remove(path);
        (*cut)->SetPrompts({.askSaveReply = [&](const QString &) { return path; }});
        cut->answerOk = ok;
        (*cut)->OnSysCommand(IDM_SAVEREPLY);
        QCOMPARE(cut->questions,
                 QStringList{QStringLiteral("The reply was cut at 1,048,576 of 16,777,216 "
                                            "bytes: the file will hold the first 1,048,576.")});
        QCOMPARE(QFileInfo(path).exists(), ok);
        if (ok)
            QCOMPARE(tcptest::ReadFile(path), (*cut)->LastReply().bytes);
        QCOMPARE(cut->messages.size(), 1);
    }

    // What the response box shows of replies read whole.
    void shownAs_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("shown");
        QTest::newRow("waveform") << "CURV?"
                                  << "Block of 1,048,576 bytes (data)";
        QTest::newRow("indefinite block") << "WAV:INDEF?"
                                          << "Block of 300 bytes (data)";
        QTest::newRow("long text") << "DATA? 70000"
                                   << "Reply of 70,000 bytes (text)";
        QTest::newRow("short text") << "MEAS:VOLT?"
                                    << "1.250\n";
    }

    void shownAs()
    {
        QFETCH(QString, query);
        QFETCH(QString, shown);
        auto w = ScpiWindow();
        QCOMPARE(Send(*w, query), shown);
        QCOMPARE(w->messages, QStringList());
        // The next reply is its own.
        QCOMPARE(Send(*w, QStringLiteral("SYST:ERR?")), QStringLiteral("0,\"No error\"\n"));
    }

    // A reply whose end comes after the wait is reported, nothing of it is
    // shown, and the next query gets its own reply, not the late rest.
    void lateEndIsNotTheNextReply()
    {
        auto w = ScpiWindow(300);
        QCOMPARE(Send(*w, QStringLiteral("TEST:LATE? 800")), QString());
        QCOMPARE(w->messages.size(), 1);
        QVERIFY2(w->messages[0].startsWith(
                     QStringLiteral("Error waiting for response: the reply stopped after 4 bytes")),
                 qPrintable(w->messages[0]));
        QTest::qWait(900);
        QCOMPARE(Send(*w, QStringLiteral("MEAS:VOLT?")), QStringLiteral("1.250\n"));
        QCOMPARE(w->messages.size(), 1);
    }

    // A GPIB read that fails shows nothing of the buffer and says why; a
    // serial poll that fails says so instead of showing 0.
    void gpibFailuresAreReported_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("poll");
        QTest::addColumn<QString>("message");
        QTest::newRow("driver error")
            << QByteArray("TALLIX_SIM_GPIB_RECEIVE_ERR") << QByteArray("0:5") << false
            << "Error reading GPIB response: EDVR (driver error: Input/output error)";
        QTest::newRow("time-out") << QByteArray("TALLIX_SIM_GPIB_RECEIVE_ERR") << QByteArray("6") << false
                                  << "Error reading GPIB response: EABO (I/O operation aborted: time-out)";
        QTest::newRow("poll time-out") << QByteArray("TALLIX_SIM_GPIB_POLL_ERR") << QByteArray("6") << true
                                       << "Serial poll failed: EABO (I/O operation aborted: time-out)";
        QTest::newRow("poll, no listener") << QByteArray("TALLIX_SIM_GPIB_POLL_ERR") << QByteArray("2")
                                           << true << "Serial poll failed: ENOL (no listener on the bus)";
    }

    void gpibFailuresAreReported()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        QFETCH(bool, poll);
        QFETCH(QString, message);
        auto w = GpibWindow();
        auto *response = w->control<QPlainTextEdit>(IDC_RESPONSE);
        response->setPlainText(QStringLiteral("before"));
        // The library loads with the first command; a poll before it has
        // no device to ask.
        QCOMPARE((*w)->ConnectLinks(), 1);
        qputenv(variable.constData(), value);
        if (poll)
            (*w)->OnSerialPoll();
        else
            Send(*w, QStringLiteral("*IDN?"));
        qunsetenv(variable.constData());
        QCOMPARE(w->messages, QStringList{message});
        QCOMPARE(response->toPlainText(), poll ? QStringLiteral("before") : QString());
        // The device was cleared: the next query gets its own reply.
        w->messages.clear();
        QCOMPARE(Send(*w, QStringLiteral("MEAS:VOLT?")), QStringLiteral("1.250\n"));
        QCOMPARE(w->messages, QStringList());
    }
};

QTEST_MAIN(TestConsoleDlgReplies)
#include "tst_consoledlg_replies.moc"
