// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConsoleTestSupport.h"
#include "tests/links/LinkAccess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace consoletest;

// A failed call on the automation server, seen from the window: the command
// ends at the call, the message box tells the server's error, and the window
// goes on with the same server.
class TestConsoleDlgAutomation : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_server;

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        UseTestSettings();
        ClearSettings();
        const QString name = QStringLiteral("Tallix.Test.Window");
        m_server.setProgram(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-automation-server"));
        m_server.setArguments({QStringLiteral("--name"), name, QStringLiteral("--error-on"),
                               QStringLiteral("MEAS:VOLT?"), QStringLiteral("--notify-ready")});
        m_server.start();
        QVERIFY(m_server.waitForReadyRead(10000));
        QCOMPARE(m_server.readLine().trimmed(), QByteArray("ready"));
        AutomationServer::SetServiceName(name);
    }

    void cleanupTestCase()
    {
        m_server.terminate();
        m_server.waitForFinished(5000);
    }

    // A reply read that fails after the command went: the log keeps the
    // command's record, with time stamps as without, the stamp saying that
    // no reply was read.
    void failedReadKeepsTheRecord_data()
    {
        QTest::addColumn<bool>("stamps");
        QTest::newRow("without time stamps") << false;
        QTest::newRow("with time stamps") << true;
    }

    void failedReadKeepsTheRecord()
    {
        QFETCH(bool, stamps);
        QProcess server;
        const QString name = QStringLiteral("Tallix.Test.NoReply");
        server.setProgram(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-automation-server"));
        server.setArguments({QStringLiteral("--name"), name, QStringLiteral("--error-on-call"),
                             QStringLiteral("ReceiveText"), QStringLiteral("--notify-ready")});
        server.start();
        QVERIFY(server.waitForReadyRead(10000));
        AutomationServer::SetServiceName(name);
        ClearSettings();
        Store(QStringLiteral("Log/TimeStamps"), stamps ? 1 : 0);
        QByteArray logged;
        {
            Window w;
            w.control<QRadioButton>(IDC_LINK_AUTOMATION)->click();
            const QString log = m_dir.filePath(QStringLiteral("noreply.log"));
            QFile::remove(log);
            QVERIFY(w->Files().Log().Open(log));
            w.control<QComboBox>(IDC_COMMAND)->setEditText(QStringLiteral("*idn?"));
            w.control<QPushButton>(IDC_SEND)->click();
            QCOMPARE(w.messages.size(), 1);
            QVERIFY2(w.messages[0].contains(QLatin1String("ReceiveText failed")), qPrintable(w.messages[0]));
            w->Files().Log().Close();
            QFile f(log);
            QVERIFY(f.open(QIODevice::ReadOnly));
            logged = f.readAll();
        }
        server.terminate();
        server.waitForFinished(5000);
        AutomationServer::SetServiceName(QStringLiteral("Tallix.Test.Window"));
        ClearSettings();
        // The stamp's form is the stamp line's own test's: here, that it says so.
        if (stamps)
            QVERIFY2(logged.startsWith("# ") && logged.count('\n') == 2 &&
                         logged.endsWith(" no reply read\r\n*idn?\r\n"),
                     logged.constData());
        else
            QCOMPARE(logged, QByteArray("*idn?\r\n"));
    }

    void failedCallEndsTheCommandOnly()
    {
        Window w;
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.dlg.get()));
        w.control<QRadioButton>(IDC_LINK_AUTOMATION)->click();
        w.control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        const QString log = m_dir.filePath(QStringLiteral("automation.log"));
        QVERIFY(w->Files().Log().Open(log));
        auto *combo = w.control<QComboBox>(IDC_COMMAND);
        auto *response = w.control<QPlainTextEdit>(IDC_RESPONSE);

        combo->setEditText(QStringLiteral("*idn?"));
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QVERIFY(w.messages.isEmpty());
        QCOMPARE(response->toPlainText(), QStringLiteral("KORVANE,TALLIX-SIM,SN0001,1.0\n"));

        combo->setEditText(QStringLiteral("meas:volt?"));
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(w.messages.size(), 1);
        QVERIFY2(w.messages.first().contains(QStringLiteral("MEAS:VOLT?")), qPrintable(w.messages.first()));
        // Nothing after the failed send ran: no log record, no display.
        QCOMPARE(response->toPlainText(), QStringLiteral("KORVANE,TALLIX-SIM,SN0001,1.0\n"));
        QVERIFY(w->isVisible());
        QVERIFY(LinkAs<CAutomationLink>(w->Links(), LINK_AUTOMATION).IsUp());

        combo->setEditText(QStringLiteral("*idn?"));
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(w.messages.size(), 1);
        w->Files().Log().Close();
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("*idn?\r\n>KORVANE,TALLIX-SIM,SN0001,1.0\r\n"
                                         "*idn?\r\n>KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
    }
};

QTEST_MAIN(TestConsoleDlgAutomation)
#include "tst_consoledlg_automation.moc"
