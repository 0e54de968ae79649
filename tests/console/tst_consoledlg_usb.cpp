// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/FindDlg.h"
#include "tests/console/ConsoleTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using namespace consoletest;

namespace {
const QString USB = QStringLiteral("USB0::0x1AB1::0x04CE::TLX0001::INSTR");
} // namespace

// A USB instrument through the whole program, as a user reaches it: the
// simulated usbtmc driver preloaded in place of the kernel's, Find listing
// the instrument, and the VISA Resource link reading its replies whole
// however short the driver's pieces.
class TestConsoleDlgUsb : public QObject
{
    Q_OBJECT

private:
    static QString Send(Window &w, const QString &command)
    {
        w.control<QComboBox>(IDC_COMMAND)->setEditText(command);
        w.control<QPushButton>(IDC_SEND)->click();
        return w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText();
    }

private slots:
    void initTestCase()
    {
        UseTestSettings();
        if (qEnvironmentVariableIsEmpty("LD_PRELOAD"))
            QSKIP("the simulated usbtmc driver is not preloaded in this build");
    }
    void init() { ClearSettings(); }

    void findsAndReads()
    {
        QString found;
        {
            CFindDlg dialog(CConsoleSettings::Load().links);
            auto *list = dialog.findChild<QTreeWidget *>(QStringLiteral("instruments"));
            QTRY_VERIFY_WITH_TIMEOUT(!list->findItems(USB, Qt::MatchExactly).isEmpty(), 10000);
            QTreeWidgetItem *row = list->findItems(USB, Qt::MatchExactly).first();
            QTRY_COMPARE_WITH_TIMEOUT(row->text(CFindDlg::IDENTITY),
                                      QStringLiteral("KORVANE,TALLIX-SIM,SN0001,1.0"), 10000);
            list->setCurrentItem(row);
            dialog.accept();
            found = dialog.ChosenResource();
        }
        QCOMPARE(found, USB);

        // Short pieces from the driver: the reply is whole all the same.
        qputenv("TALLIX_SIM_USBTMC_MAX_PIECE", "7");
        Window w;
        w->StartWithResource(found);
        w.control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        QCOMPARE(Send(w, QStringLiteral("*IDN?")), QStringLiteral("KORVANE,TALLIX-SIM,SN0001,1.0\n"));
        QCOMPARE(Send(w, QStringLiteral("CURV?")), QStringLiteral("Block of 1,048,576 bytes (data)"));
        QCOMPARE(w->LastReply().bytes.size(), 9 + 1048576 + 1);
        QCOMPARE(Send(w, QStringLiteral("MEAS:VOLT?")), QStringLiteral("1.250\n"));
        w->OnSerialPoll();
        QCOMPARE(w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText(),
                 QStringLiteral("Serial poll status byte: 0"));
        qunsetenv("TALLIX_SIM_USBTMC_MAX_PIECE");
        QCOMPARE(w.messages, QStringList());
    }

    // The device file not the user's: the message names it and the fix.
    void permissionDenied()
    {
        qputenv("TALLIX_SIM_USBTMC_DENY", "1");
        Window w;
        w->StartWithResource(USB);
        Send(w, QStringLiteral("*IDN?"));
        qunsetenv("TALLIX_SIM_USBTMC_DENY");
        QCOMPARE(w.messages.size(), 1);
        QVERIFY2(w.messages[0].contains(QLatin1String("/dev/usbtmc0")) &&
                     w.messages[0].contains(QLatin1String("plugdev")),
                 qPrintable(w.messages[0]));
    }
};

QTEST_MAIN(TestConsoleDlgUsb)
#include "tst_consoledlg_usb.moc"
