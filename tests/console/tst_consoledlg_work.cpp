// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/IpAddressCtrl.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/links/LinkAccess.h"
#include "tests/links/TcpTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace consoletest;
using tcptest::CServer;

namespace {

constexpr int ADDRESS_RANGE = 13;
const QByteArray IDENTITY = QByteArrayLiteral("KORVANE,TALLIX-SIM,SN0001,1.0\n");

// Watches the window from the event loop that long work keeps running: how
// often it ran, and, once the progress shows and its text matches, presses
// Stop (or closes the window).
class CWatcher : public QObject
{
public:
    enum Act
    {
        PressStop,
        PressEscape,
        CloseWindow,
    };

    CWatcher(Window &w, std::function<bool(const QString &)> when, Act act = PressStop)
        : m_w(w), m_when(std::move(when)), m_act(act)
    {
        connect(&m_timer, &QTimer::timeout, this, [this]() { Tick(); });
        m_timer.start(20);
    }
    int ticks = 0;
    QString shown; // the progress text when it acted
    bool acted = false;
    // What could start other work while this ran: nothing.
    QStringList enabledDuringWork;

private:
    void Tick()
    {
        ++ticks;
        auto *bar = m_w.control<QProgressBar>(IDC_PROGRESS);
        if (acted || !bar || bar->isHidden() || !m_when(bar->format()))
            return;
        acted = true;
        shown = bar->format();
        for (int id : {IDC_SEND, IDC_READ, IDC_STATUS, IDC_SERIAL_POLL, IDC_OPEN_FILE, IDC_SEND_FILE,
                       IDC_FIND, IDC_COMMAND, IDC_RESOURCE, IDC_LINK_GPIB, IDC_IP_ADDRESS, IDC_GPIB_ADDRESS})
            if (m_w->Control(id)->isEnabled())
                enabledDuringWork << m_w->Control(id)->objectName();
        if (m_act == CloseWindow)
            m_w->close();
        else if (m_act == PressEscape)
            QTest::keyClick(m_w.control<QPushButton>(IDC_STOP), Qt::Key_Escape);
        else
            m_w.control<QPushButton>(IDC_STOP)->click();
    }

    Window &m_w;
    std::function<bool(const QString &)> m_when;
    Act m_act;
    QTimer m_timer;
};

} // namespace

// Long work keeps the window alive: after half a second a progress bar and
// Stop show, the window's events are processed, and Stop ends the work as a
// time-out would, leaving nothing to be taken for the next reply.
class TestConsoleDlgWork : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    std::unique_ptr<Window> ScpiWindow(const QString &address, int port)
    {
        ClearSettings();
        Store(QStringLiteral("TCPIP/Port"), port);
        Store(QStringLiteral("TCPIP/RequestLine"), 0);
        auto w = std::make_unique<Window>();
        w->control<QRadioButton>(IDC_LINK_TCPIP)->click();
        w->control<CIpAddressCtrl>(IDC_IP_ADDRESS)->SetAddress(tcptest::AddressNumber(address));
        w->control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        return w;
    }

    static QString Send(Window &w, const QString &command)
    {
        w.control<QComboBox>(IDC_COMMAND)->setEditText(command);
        w.control<QPushButton>(IDC_SEND)->click();
        return w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText();
    }

    // A command file of `lines` *IDN? queries, opened with a log.
    QString OpenBatch(Window &w, int lines)
    {
        const QString commands = m_dir.filePath(QStringLiteral("idn.txt"));
        QFile file(commands);
        file.open(QIODevice::WriteOnly);
        for (int i = 0; i < lines; ++i)
            file.write("*IDN?\r\n");
        file.close();
        const QString log = m_dir.filePath(QStringLiteral("work.log"));
        QFile::remove(log);
        w->SetPrompts({.askOpenFile = [commands]() {
            return COpenFileChoice{true, commands, QStringLiteral("idn.txt"), true};
        }});
        w->SetPrompts({.askSaveFile = [log](const QString &) { return log; }});
        w->OnOpenFile();
        return log;
    }

private slots:
    void initTestCase() { UseTestSettings(); }

    // A batch of 1,000 lines, each answered in about 20 ms: the progress
    // shows, the window's event loop runs, Stop after some hundred lines
    // ends the batch before its next line, and the log holds whole records
    // only.
    void stopABatch()
    {
        const QString address = tcptest::NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, "--port", "5025", "--scpi", "--pieces", "2", "--pause-ms", "20");
        auto w = ScpiWindow(address, 5025);
        const QString log = OpenBatch(*w, 1000);
        CWatcher watcher(*w, [](const QString &text) {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("^Line (\\d+) of 1,000 sent$")).match(text);
            return m.hasMatch() && m.captured(1).toInt() >= 100;
        });
        w->control<QPushButton>(IDC_SEND_FILE)->click();
        QVERIFY(watcher.acted);
        QCOMPARE(watcher.enabledDuringWork, QStringList());
        QVERIFY2(watcher.ticks > 50, qPrintable(QString::number(watcher.ticks))); // the loop ran all along
        QCOMPARE(w->messages.size(), 1);
        const QRegularExpressionMatch stopped =
            QRegularExpression(QStringLiteral("^Batch stopped after (\\d+) of 1,000 lines$"))
                .match(w->messages[0]);
        QVERIFY2(stopped.hasMatch(), qPrintable(w->messages[0]));
        const int sent = stopped.captured(1).toInt();
        QVERIFY(sent >= 100 && sent < 1000);
        // Whole records, as many as the lines sent, and nothing else.
        QCOMPARE(tcptest::ReadFile(log), QByteArray("*IDN?\r\n>" + IDENTITY).repeated(sent));
        // As a finished batch leaves it: Send and Read off, Send File on; the
        // progress gone and the controls back.
        QVERIFY(!w->control<QPushButton>(IDC_SEND)->isEnabled());
        QVERIFY(w->control<QPushButton>(IDC_SEND_FILE)->isEnabled());
        QVERIFY(w->control<QProgressBar>(IDC_PROGRESS)->isHidden());
        QVERIFY(w->control<QPushButton>(IDC_READ)->isEnabled());
        QVERIFY(!(*w)->Work().Busy());
    }

    // Stop during a read, and during a connect that is never answered: each
    // ends as a time-out would, says it was stopped, and the next command
    // gets its own reply.
    void stopAReadOrAWait_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("serverOptions");
        QTest::addColumn<QString>("progress"); // the start of the progress text when Stop is pressed
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("escape"); // Escape rather than a click on Stop
        QTest::newRow("16 MiB block")
            << "WAV:DATA? 16777216" << QStringList{"--pieces", "64", "--pause-ms", "40"} << " bytes received"
            << "Error waiting for response: stopped after " << true;
        QTest::newRow("connect never answered") << "*IDN?" << QStringList{"--accept-nothing"} << "Waited "
                                                << "Connecting to the server was stopped." << false;
    }

    void stopAReadOrAWait()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, serverOptions);
        QFETCH(QString, progress);
        QFETCH(QString, message);
        QFETCH(bool, escape);
        const QString address = tcptest::NextAddress(ADDRESS_RANGE);
        CServer slow, good;
        START_SERVER(slow, address, QStringList{"--port", "5025", "--scpi"} + serverOptions);
        const QString other = tcptest::NextAddress(ADDRESS_RANGE);
        START_SERVER(good, other, "--port", "5025", "--scpi");
        auto w = ScpiWindow(address, 5025);
        CWatcher watcher(
            *w, [progress](const QString &text) { return text.contains(progress); },
            escape ? CWatcher::PressEscape : CWatcher::PressStop);
        Send(*w, command);
        QVERIFY(watcher.acted);
        QCOMPARE(w->messages.size(), 1);
        QVERIFY2(w->messages[0].startsWith(message), qPrintable(w->messages[0]));
        QVERIFY(!Tcp((*w)->Links()).HasSocket());
        QCOMPARE(w->control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText(), QString());
        // The next command: its own reply (from another server where the
        // first never answers).
        w->messages.clear();
        if (serverOptions.contains(QStringLiteral("--accept-nothing")))
            w->control<CIpAddressCtrl>(IDC_IP_ADDRESS)->SetAddress(tcptest::AddressNumber(other));
        QCOMPARE(Send(*w, QStringLiteral("*IDN?")), QString::fromLatin1(IDENTITY));
        QCOMPARE(w->messages, QStringList());
    }

    // A GPIB read that waits out its time-out: Stop lets the window go on;
    // the next command waits for the transfer to end, clears the device and
    // gets its own reply.
    void stopAGpibRead()
    {
        ClearSettings();
        Store(QStringLiteral("GPIB/Connect"), 2);
        Window w;
        w.control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        qputenv("TALLIX_SIM_GPIB_TIMEOUT_MS", "2500");
        CWatcher watcher(w,
                         [](const QString &text) { return text.contains(QLatin1String("bytes received")); });
        // Nothing was asked: the device has nothing to say, and the board
        // waits out its time-out.
        w.control<QPushButton>(IDC_READ)->click();
        QVERIFY(watcher.acted);
        QCOMPARE(w.messages.size(), 1);
        QVERIFY2(
            w.messages[0].startsWith(QLatin1String("Error reading GPIB response: stopped after 0 bytes")),
            qPrintable(w.messages[0]));
        w.messages.clear();
        QCOMPARE(Send(w, QStringLiteral("*IDN?")), QStringLiteral("KORVANE,TALLIX-SIM,SN0001,1.0\n"));
        qunsetenv("TALLIX_SIM_GPIB_TIMEOUT_MS");
        QCOMPARE(w.messages, QStringList());
    }

    // Closing the window during a batch stops the batch and then closes as
    // ever: the settings written, the log whole.
    void closeDuringABatch()
    {
        const QString address = tcptest::NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, "--port", "5025", "--scpi", "--pieces", "2", "--pause-ms", "20");
        auto w = ScpiWindow(address, 5025);
        (*w)->show(); // the close box closes a window that is shown
        const QString log = OpenBatch(*w, 1000);
        CWatcher watcher(
            *w, [](const QString &text) { return text.startsWith(QLatin1String("Line ")); },
            CWatcher::CloseWindow);
        w->control<QPushButton>(IDC_SEND_FILE)->click();
        QVERIFY(watcher.acted);
        QVERIFY(!(*w)->isVisible());
        QCOMPARE(Stored(QStringLiteral("GPIB/Connect")).toInt(), 4);
        const QByteArray logged = tcptest::ReadFile(log);
        QVERIFY(!logged.isEmpty());
        QCOMPARE(logged.size() % QByteArray("*IDN?\r\n>" + IDENTITY).size(), 0);
    }

    // Time stamps in the log: a line before each record with the moment the
    // command went (local time with its offset) and how long its reply took,
    // or that none was read.
    void timeStamps()
    {
        const QString address = tcptest::NextAddress(ADDRESS_RANGE);
        CServer server;
        START_SERVER(server, address, "--port", "5025", "--scpi");
        ClearSettings();
        Store(QStringLiteral("TCPIP/Port"), 5025);
        Store(QStringLiteral("TCPIP/RequestLine"), 0);
        Store(QStringLiteral("Log/TimeStamps"), 1);
        Window stamped;
        stamped.control<QRadioButton>(IDC_LINK_TCPIP)->click();
        stamped.control<CIpAddressCtrl>(IDC_IP_ADDRESS)->SetAddress(tcptest::AddressNumber(address));
        const QString log = m_dir.filePath(QStringLiteral("stamped.log"));
        QFile::remove(log);
        QVERIFY(stamped->Files().Log().Open(log));
        Send(stamped, QStringLiteral("*IDN?"));
        Send(stamped, QStringLiteral("*RST"));
        stamped->Files().Log().Close();
        const QRegularExpression record(QStringLiteral(
            "^# \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d reply \\d+\\.\\d ms\r\n"
            "\\*IDN\\?\r\n>KORVANE,TALLIX-SIM,SN0001,1\\.0\n"
            "# \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d no reply read\r\n"
            "\\*RST\r\n$"));
        const QString logged = QString::fromLatin1(tcptest::ReadFile(log));
        QVERIFY2(record.match(logged).hasMatch(), qPrintable(logged));
        QCOMPARE(stamped.messages, QStringList());

        // A query whose reply never comes (the instrument hangs up): no
        // reply was read, whatever the time the read took.
        const QString other = tcptest::NextAddress(ADDRESS_RANGE);
        CServer hangsUp;
        START_SERVER(hangsUp, other, "--port", "5025", "--scpi", "--never-answer", "--close-after", "1",
                     "--hang-up");
        stamped.control<CIpAddressCtrl>(IDC_IP_ADDRESS)->SetAddress(tcptest::AddressNumber(other));
        QFile::remove(log);
        QVERIFY(stamped->Files().Log().Open(log));
        Send(stamped, QStringLiteral("*IDN?"));
        stamped->Files().Log().Close();
        QCOMPARE(stamped.messages.size(), 1);
        const QByteArray failed = tcptest::ReadFile(log);
        QVERIFY2(failed.endsWith(" no reply read\r\n*IDN?\r\n") && failed.count('\n') == 2,
                 failed.constData());
    }
};

QTEST_MAIN(TestConsoleDlgWork)
#include "tst_consoledlg_work.moc"
