// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConsoleTestSupport.h"
#include "tests/links/LinkAccess.h"

#include "console/AboutDlg.h"
#include "console/DialogUnitsWidget.h"
#include "console/IpAddressCtrl.h"
#include "console/WarningDialog.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace consoletest;

// The window driven as a user drives it: keys, clicks and closes, with the
// GPIB library absent (its offline behaviour is fixed) and the message boxes
// recorded.
class TestConsoleDlg : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;

    QByteArray logOf(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll();
    }

    // A log that records what SendCommand sends, whatever the link.
    QString openLog(Window &w, const QString &name)
    {
        const QString path = m_tmp.filePath(name);
        QFile::remove(path);
        if (!w->Files().Log().Open(path))
            return {};
        return path;
    }

    void show(Window &w)
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.dlg.get()));
    }

    // The window shown on the ordal link, whose library is absent so that
    // sending is silent, with a log that records every command sent.
    QString shownOnOrdalWithLog(Window &w, const QString &logName)
    {
        show(w);
        w.control<QRadioButton>(IDC_LINK_ORDAL)->click();
        return openLog(w, logName);
    }

    // `text` in the command box, sent with Send.
    static void send(Window &w, const QString &text)
    {
        w.control<QComboBox>(IDC_COMMAND)->setEditText(text);
        w->OnSend();
    }

private slots:
    void initTestCase()
    {
        UseTestSettings();
        QVERIFY(m_tmp.isValid());
    }

    void init() { ClearSettings(); }

    void firstRunWithEmptyStore()
    {
        Window w;
        QVERIFY(w.control<QRadioButton>(IDC_LINK_LUMEC)->isChecked());
        QCOMPARE(w->Links().ChosenKind(), LINK_LUMEC);
        QCOMPARE(w.control<QLineEdit>(IDC_GPIB_ADDRESS)->text(), QStringLiteral("14"));
        // The set-up's filling of the box is a change: applied and saved at once.
        QCOMPARE(Stored(QStringLiteral("GPIB/Address")).toInt(), 14);
        QCOMPARE(Gpib(w->Links()).DeviceAddress(), Addr4882_t(14));
        QCOMPARE(w.control<CIpAddressCtrl>(IDC_IP_ADDRESS)->Text(), QStringLiteral("0.0.0.0"));
        QCOMPARE(w.control<QLineEdit>(IDC_DELAY)->text(), QStringLiteral("0"));
        QVERIFY(!Stored(QStringLiteral("GPIB/Connect")).isValid());
        QVERIFY(!Stored(QStringLiteral("TCPIP/IPAddress")).isValid());
        QVERIFY(w.messages.isEmpty());
    }

    // The program icon reaches the window and the About box.
    void programIcon()
    {
        Window w;
        QVERIFY(!w->windowIcon().isNull());
        QVERIFY(!w->windowIcon().pixmap(32, 32).isNull());
        CAboutDlg about;
        auto *icon = about.findChild<QLabel *>(QStringLiteral("IDR_MAINFRAME"));
        QVERIFY(icon);
        QVERIFY(!icon->pixmap().isNull());
    }

    // The real box behind the window's message seam: title, icon, one OK,
    // and wide enough for its title however short the text.
    void warningDialog_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("short") << QStringLiteral("Blank file");
        QTest::newRow("long") << QStringLiteral("Error waiting for response: Connection reset by peer");
        // A server's own words: shown as they are, never taken as markup.
        QTest::newRow("markup") << QStringLiteral("<b>overload</b>");
        QTest::newRow("a lone bracket") << QStringLiteral("a<b");
    }

    void warningDialog()
    {
        QFETCH(QString, text);
        QString title, shown;
        bool literal = false;
        int width = 0;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton *> buttons;
        QTimer::singleShot(0, [&]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            shown = box->text();
            // What the label draws: its text as it stands, or rendered markup.
            const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            literal = label && label->text() == text &&
                      (label->textFormat() == Qt::PlainText ||
                       (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(text)));
            icon = box->icon();
            buttons = box->buttons();
            width = box->width();
            box->button(QMessageBox::Ok)->click();
        });
        ShowWarningDialog(nullptr, text);
        QCOMPARE(title, QStringLiteral("Tallix"));
        QCOMPARE(shown, text);
        QVERIFY(literal);
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(buttons.size(), 1);
        QVERIFY2(width >= WARNING_DIALOG_MIN_WIDTH, qPrintable(QString::number(width)));
    }

    void storedValues_data()
    {
        QTest::addColumn<QVariant>("connect");
        QTest::addColumn<int>("checkedId");
        QTest::addColumn<int>("writtenAtClose");
        QTest::newRow("automation") << QVariant(0) << IDC_LINK_AUTOMATION << 0;
        QTest::newRow("tcpip") << QVariant(4) << IDC_LINK_TCPIP << 4;
        QTest::newRow("VISA Resource") << QVariant(5) << IDC_LINK_VISA << 5;
        QTest::newRow("7 checks none, -1 written") << QVariant(7) << 0 << -1;
        QTest::newRow("-2 checks none") << QVariant(-2) << 0 << -1;
        QTest::newRow("garbage reads as default") << QVariant(QStringLiteral("lumec")) << IDC_LINK_LUMEC << 3;
        QTest::newRow("out of 32 bits reads as default")
            << QVariant(QStringLiteral("99999999999")) << IDC_LINK_LUMEC << 3;
    }

    void storedValues()
    {
        QFETCH(QVariant, connect);
        QFETCH(int, checkedId);
        QFETCH(int, writtenAtClose);
        Store(QStringLiteral("GPIB/Connect"), connect);
        Window w;
        for (int id : {IDC_LINK_AUTOMATION, IDC_LINK_ORDAL, IDC_LINK_GPIB, IDC_LINK_LUMEC, IDC_LINK_TCPIP,
                       IDC_LINK_VISA})
            QCOMPARE(w.control<QRadioButton>(id)->isChecked(), id == checkedId);
        w->OnCancel();
        QCOMPARE(Stored(QStringLiteral("GPIB/Connect")).toInt(), writtenAtClose);
    }

    void ipAddressRoundTrip_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QString>("text");
        QTest::newRow("loopback") << quint32(0x7F000001) << QStringLiteral("127.0.0.1");
        QTest::newRow("above 127.255.255.255") << quint32(0xC0A80A01) << QStringLiteral("192.168.10.1");
        QTest::newRow("all ones") << quint32(0xFFFFFFFF) << QStringLiteral("255.255.255.255");
    }

    void ipAddressRoundTrip()
    {
        QFETCH(quint32, address);
        QFETCH(QString, text);
        {
            Window w;
            w.control<CIpAddressCtrl>(IDC_IP_ADDRESS)->SetAddress(address);
            w->OnCancel();
        }
        // Stored as its signed 32-bit value, read back as the same address.
        QCOMPARE(Stored(QStringLiteral("TCPIP/IPAddress")).toLongLong(), qint64(qint32(address)));
        Window again;
        QCOMPARE(again.control<CIpAddressCtrl>(IDC_IP_ADDRESS)->Text(), text);
        QCOMPARE(Tcp(again->Links()).m_ipAddress, address);
    }

    void storedAddressNotPositive_data()
    {
        QTest::addColumn<int>("address");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -3;
    }

    void storedAddressNotPositive()
    {
        QFETCH(int, address);
        Store(QStringLiteral("GPIB/Address"), address);
        Window w;
        QCOMPARE(w.control<QLineEdit>(IDC_GPIB_ADDRESS)->text(), QString::number(address));
        QCOMPARE(w->Links().Context().gpibAddress, address);
        QCOMPARE(Gpib(w->Links()).DeviceAddress(), NOADDR);                // not applied
        QCOMPARE(Stored(QStringLiteral("GPIB/Address")).toInt(), address); // not rewritten
    }

    void typingIntoAddressBox()
    {
        Window w;
        show(w);
        auto *edit = w.control<QLineEdit>(IDC_GPIB_ADDRESS);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        // Cleared: the member reads 0, the link and the store keep 14.
        QCOMPARE(w->Links().Context().gpibAddress, 0);
        QCOMPARE(Stored(QStringLiteral("GPIB/Address")).toInt(), 14);
        QCOMPARE(Gpib(w->Links()).DeviceAddress(), Addr4882_t(14));
        QTest::keyClick(edit, Qt::Key_1);
        QCOMPARE(Stored(QStringLiteral("GPIB/Address")).toInt(), 1);
        QTest::keyClick(edit, Qt::Key_2);
        QCOMPARE(Stored(QStringLiteral("GPIB/Address")).toInt(), 12);
        QCOMPARE(Gpib(w->Links()).DeviceAddress(), Addr4882_t(12));
        QTest::keyClick(edit, Qt::Key_X); // "12x" is no number: 0, nothing written
        QCOMPARE(w->Links().Context().gpibAddress, 0);
        QCOMPARE(Stored(QStringLiteral("GPIB/Address")).toInt(), 12);
    }

    void closePaths_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("delay");
        QTest::newRow("Exit button") << QStringLiteral("exit") << QStringLiteral("0");
        QTest::newRow("close box") << QStringLiteral("close") << QStringLiteral("0");
        QTest::newRow("menu Close") << QStringLiteral("menu") << QStringLiteral("0");
        QTest::newRow("Exit with letters in delay") << QStringLiteral("exit") << QStringLiteral("abc");
        QTest::newRow("close box with letters in delay") << QStringLiteral("close") << QStringLiteral("12a");
    }

    void closePaths()
    {
        QFETCH(QString, how);
        QFETCH(QString, delay);
        Window w;
        show(w);
        w.control<QRadioButton>(IDC_LINK_GPIB)->click();
        w.control<CIpAddressCtrl>(IDC_IP_ADDRESS)->SetAddress(0x7F000002);
        w.control<QLineEdit>(IDC_DELAY)->setText(delay);
        if (how == QLatin1String("exit"))
            QTest::mouseClick(w.control<QPushButton>(IDCANCEL), Qt::LeftButton);
        else if (how == QLatin1String("close"))
            w->close();
        else
            w->OnSysCommand(SC_CLOSE);
        QVERIFY(!w->isVisible());
        QCOMPARE(Stored(QStringLiteral("GPIB/Connect")).toInt(), ToInt(LINK_GPIB));
        if (delay == QLatin1String("0")) {
            QVERIFY(w.messages.isEmpty());
            QCOMPARE(Stored(QStringLiteral("TCPIP/IPAddress")).toInt(), 0x7F000002);
        } else {
            // The exchange failed before the address was read: the address of
            // the last exchange that ran to its end (here the stored one).
            QCOMPARE(w.messages.size(), 1);
            QCOMPARE(Stored(QStringLiteral("TCPIP/IPAddress")).toInt(), 0);
        }
    }

    void escapeDoesNothing()
    {
        Window w;
        show(w);
        for (int id : {IDC_SEND, IDC_DELAY, IDCANCEL, IDC_GPIB_ADDRESS})
            QTest::keyClick(w->Control(id), Qt::Key_Escape);
        QTest::keyClick(w.control<QComboBox>(IDC_COMMAND)->lineEdit(), Qt::Key_Escape);
        QVERIFY(w->isVisible());
        QVERIFY(!Stored(QStringLiteral("GPIB/Connect")).isValid());
    }

    void enterSendsFromAnyControl_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("key");
        QTest::newRow("delay box") << IDC_DELAY << int(Qt::Key_Return);
        QTest::newRow("address box") << IDC_GPIB_ADDRESS << int(Qt::Key_Return);
        QTest::newRow("Exit button") << IDCANCEL << int(Qt::Key_Return);
        QTest::newRow("keypad Enter on Read") << IDC_READ << int(Qt::Key_Enter);
        QTest::newRow("IP address field") << IDC_IP_ADDRESS << int(Qt::Key_Return);
        QTest::newRow("command box") << IDC_COMMAND << int(Qt::Key_Return);
    }

    void enterSendsFromAnyControl()
    {
        QFETCH(int, id);
        QFETCH(int, key);
        Window w;
        const QString log = shownOnOrdalWithLog(w, QStringLiteral("enter.log"));
        QVERIFY(!log.isEmpty());
        w.control<QComboBox>(IDC_COMMAND)->setEditText(QStringLiteral("*idn?"));
        QWidget *target = w->Control(id);
        if (id == IDC_COMMAND)
            target = w.control<QComboBox>(IDC_COMMAND)->lineEdit();
        else if (id == IDC_IP_ADDRESS)
            target = w.control<CIpAddressCtrl>(IDC_IP_ADDRESS)->Field(2);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        QVERIFY(w->isVisible()); // Enter never closes the window
        QCOMPARE(logOf(log), QByteArray("*idn?\r\n"));
        QCOMPARE(w.control<QComboBox>(IDC_COMMAND)->count(), 1);
        QVERIFY(w.messages.isEmpty());
    }

    // What is typed is what is sent: a prefix of an earlier command is not
    // filled in from the history.
    void typedPrefixOfHistorySentAsTyped()
    {
        Window w;
        const QString log = shownOnOrdalWithLog(w, QStringLiteral("prefix.log"));
        auto *combo = w.control<QComboBox>(IDC_COMMAND);
        send(w, QStringLiteral("MEAS:VOLT?"));
        combo->setEditText(QString());
        combo->lineEdit()->setFocus();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("me"));
        QCOMPARE(combo->currentText(), QStringLiteral("me"));
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(logOf(log), QByteArray("MEAS:VOLT?\r\nme\r\n"));
    }

    // Enter in the command box's open list sends the highlighted entry.
    void enterInTheOpenListSends()
    {
        Window w;
        const QString log = shownOnOrdalWithLog(w, QStringLiteral("list.log"));
        auto *combo = w.control<QComboBox>(IDC_COMMAND);
        send(w, QStringLiteral("*idn?"));
        send(w, QStringLiteral("meas:volt?"));
        combo->setEditText(QStringLiteral("typed"));
        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        combo->view()->setCurrentIndex(combo->model()->index(combo->findText(QStringLiteral("*idn?")), 0));
        QTest::keyClick(combo->view(), Qt::Key_Return);
        QTRY_VERIFY(!combo->view()->isVisible());
        QVERIFY(w->isVisible());
        QCOMPARE(logOf(log), QByteArray("*idn?\r\nmeas:volt?\r\n*idn?\r\n"));
        QVERIFY(w.messages.isEmpty());
    }

    // A right-click on the background or a label opens the window's menu;
    // one on a control does not.
    void rightClickMenu_data()
    {
        QTest::addColumn<QString>("under");
        QTest::addColumn<bool>("menu");
        QTest::newRow("background") << QString() << true;
        QTest::newRow("address label") << QStringLiteral("IDC_STATIC_1005") << true;
        QTest::newRow("empty path label") << QStringLiteral("IDC_INPUT_PATH") << true;
        QTest::newRow("radio button") << QStringLiteral("IDC_LINK_TCPIP") << false;
    }

    void rightClickMenu()
    {
        QFETCH(QString, under);
        QFETCH(bool, menu);
        Window w;
        show(w);
        QPoint at(w->width() - 3, w->height() - 3);
        if (!under.isEmpty()) {
            QWidget *child = w->findChild<QWidget *>(under);
            QVERIFY2(child, qPrintable(under));
            at = child->geometry().center();
        }
        QCOMPARE(w->childAt(at) == nullptr, under.isEmpty());
        QStringList entries;
        QTimer::singleShot(0, [&entries]() {
            if (QWidget *popup = QApplication::activePopupWidget()) {
                for (QAction *action : popup->actions())
                    entries << action->text();
                popup->close();
            }
        });
        // To the widget under the mouse, in its own coordinates, as a click
        // comes; what it leaves goes on to the window.
        QWidget *target = w->childAt(at) ? w->childAt(at) : w.dlg.get();
        QContextMenuEvent event(QContextMenuEvent::Mouse, target->mapFrom(w.dlg.get(), at),
                                w->mapToGlobal(at));
        QApplication::sendEvent(target, &event);
        QCoreApplication::processEvents();
        const QStringList expected{QStringLiteral("Mi&nimise"),
                                   QStringLiteral("&Close"),
                                   QString(),
                                   QStringLiteral("Link &Settings..."),
                                   QStringLiteral("Save &Reply As..."),
                                   QStringLiteral("Show &Transcript"),
                                   QStringLiteral("&About Tallix...")};
        QCOMPARE(entries, menu ? expected : QStringList());
    }

    void history()
    {
        Window w;
        auto *combo = w.control<QComboBox>(IDC_COMMAND);
        w->Links().Choose(LINK_ORDAL);
        w.control<QRadioButton>(IDC_LINK_ORDAL)->click();
        const QStringList typed = {QStringLiteral("meas:volt?"),
                                   QStringLiteral("MEAS:VOLT?"),
                                   QString(),
                                   QStringLiteral("*idn?"),
                                   QString(),
                                   QStringLiteral("Meas:Volt?")};
        for (const QString &t : typed) {
            combo->setEditText(t);
            w->OnSend();
        }
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        // Case ignored, the first form kept, the empty text entered once.
        QCOMPARE(items, (QStringList{QStringLiteral("meas:volt?"), QString(), QStringLiteral("*idn?")}));
    }

    void historyIgnoresCaseOfAsciiOnly()
    {
        Window w;
        auto *combo = w.control<QComboBox>(IDC_COMMAND);
        w.control<QRadioButton>(IDC_LINK_ORDAL)->click();
        combo->setEditText(QStringLiteral("\u00e9t\u00e9"));
        w->OnSend();
        combo->setEditText(QStringLiteral("\u00c9T\u00c9"));
        w->OnSend();
        QCOMPARE(combo->count(), 2);
    }

    // The box holds what is pasted whole: how much a link sends is the
    // link's to say when it sends.
    void commandBoxLimit()
    {
        Window w;
        auto *combo = w.control<QComboBox>(IDC_COMMAND);
        combo->lineEdit()->insert(QString(40000, u'A'));
        QCOMPARE(combo->currentText().size(), 40000);
    }

    void sentLines_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("empty command is CR LF") << QString() << QByteArray("\r\n");
        QTest::newRow("typed as typed") << QStringLiteral("Meas:Volt?") << QByteArray("Meas:Volt?\r\n");
        QTest::newRow("blanks kept") << QStringLiteral("  a b ") << QByteArray("  a b \r\n");
    }

    void sentLines()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, logged);
        Window w;
        w.control<QRadioButton>(IDC_LINK_ORDAL)->click();
        const QString log = openLog(w, QStringLiteral("sent.log"));
        send(w, typed);
        QCOMPARE(logOf(log), logged);
    }

    void serialPollFirstThing()
    {
        Window w;
        auto *response = w.control<QPlainTextEdit>(IDC_RESPONSE);
        response->setPlainText(QStringLiteral("old"));
        QTest::mouseClick(w.control<QPushButton>(IDC_SERIAL_POLL), Qt::LeftButton);
        QCOMPARE(response->toPlainText(), QStringLiteral("Serial poll status byte: 0"));
    }

    void offlineGpib()
    {
        Window w;
        w.control<QRadioButton>(IDC_LINK_GPIB)->click();
        const QString log = openLog(w, QStringLiteral("status.log"));
        auto *response = w.control<QPlainTextEdit>(IDC_RESPONSE);
        response->setPlainText(QStringLiteral("old"));
        QVERIFY(!w.control<QCheckBox>(IDC_READ_AFTER_SEND)->isChecked());
        QTest::mouseClick(w.control<QPushButton>(IDC_STATUS), Qt::LeftButton);
        // Status reads whatever the Read box says; offline the log read gets the
        // three bytes 0x1A CR LF and the display read an empty text.
        QCOMPARE(logOf(log), QByteArray("STATUS\r\n>\x1A\r\n"));
        QCOMPARE(response->toPlainText(), QString());
        QVERIFY(Gpib(w->Links()).IsOffline());
        QVERIFY(w.messages.isEmpty());
    }

    void badDelayIsReportedAtEachExchange()
    {
        Window w;
        show(w);
        w.control<QRadioButton>(IDC_LINK_ORDAL)->click();
        w->Files().SetDelay(5);
        auto *delay = w.control<QLineEdit>(IDC_DELAY);
        delay->setText(QStringLiteral("-1"));
        w.control<QPushButton>(IDC_SEND)->setFocus();
        w->OnSend();
        // Once in ConnectLinks and once in SendCommand; the send goes on.
        QCOMPARE(w.messages.size(), 2);
        QCOMPARE(w.messages.first(), QStringLiteral("Enter a whole number of microseconds (0 or more)."));
        QCOMPARE(w->Files().Delay(), 5u);
        QCOMPARE(w.control<QComboBox>(IDC_COMMAND)->count(), 1);
        QVERIFY(delay->hasFocus());
        QCOMPARE(delay->selectedText(), QStringLiteral("-1"));
    }

    void delayParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<uint>("value");
        QTest::newRow("blanks around") << QStringLiteral("  1000 ") << true << 1000u;
        QTest::newRow("largest") << QStringLiteral("4294967295") << true << 4294967295u;
        QTest::newRow("too large") << QStringLiteral("4294967296") << false << 0u;
        QTest::newRow("empty") << QString() << false << 0u;
        QTest::newRow("plus sign") << QStringLiteral("+5") << false << 0u;
        QTest::newRow("inner blank") << QStringLiteral("1 0") << false << 0u;
    }

    void delayParsing()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(uint, value);
        Window w;
        w.control<QLineEdit>(IDC_DELAY)->setText(text);
        QCOMPARE(w->UpdateData(true), ok);
        QCOMPARE(w->Files().Delay(), ok ? value : 0u);
        QCOMPARE(w.messages.size(), ok ? 0 : 1);
    }

    // Clicked, or chosen from the keyboard with Alt and the radio's place in
    // the group, which its tooltip names.
    void linkKindFollowsRadios_data()
    {
        QTest::addColumn<bool>("keyboard");
        QTest::newRow("mouse") << false;
        QTest::newRow("Alt+digit") << true;
    }

    void linkKindFollowsRadios()
    {
        QFETCH(bool, keyboard);
        Window w;
        show(w);
        QVERIFY(QTest::qWaitForWindowActive(w.dlg.get()));
        const int ids[] = {IDC_LINK_AUTOMATION, IDC_LINK_ORDAL, IDC_LINK_GPIB,
                           IDC_LINK_LUMEC,      IDC_LINK_TCPIP, IDC_LINK_VISA};
        for (int kind = 5; kind >= 0; --kind) {
            auto *radio = w.control<QRadioButton>(ids[kind]);
            QCOMPARE(radio->toolTip(), QStringLiteral("Alt+%1").arg(kind + 1));
            if (keyboard)
                QTest::keyClick(w.control<QLineEdit>(IDC_DELAY), static_cast<Qt::Key>(Qt::Key_1 + kind),
                                Qt::AltModifier);
            else
                radio->click();
            QVERIFY(radio->isChecked());
            QCOMPARE(w->Links().ChosenKind(), LINK_LUMEC); // read at the next exchange only
            w->Links().Choose(LINK_LUMEC);
            QVERIFY(w->UpdateData(true));
            QCOMPARE(ToInt(w->Links().ChosenKind()), kind);
            w->Links().Choose(LINK_LUMEC);
        }
    }

    void systemMenuCommands()
    {
        Window w;
        int abouts = 0;
        w->SetPrompts({.runAboutBox = [&abouts]() { ++abouts; }});
        w->OnSysCommand(IDM_ABOUTBOX);
        w->OnSysCommand(IDM_ABOUTBOX | 0x0003); // the low four bits do not count
        QCOMPARE(abouts, 2);
    }

    void controls_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Send") << IDC_SEND << QStringLiteral("Send") << true;
        QTest::newRow("Read check box") << IDC_READ_AFTER_SEND << QStringLiteral("Read") << true;
        QTest::newRow("Read") << IDC_READ << QStringLiteral("Read") << true;
        QTest::newRow("Status") << IDC_STATUS << QStringLiteral("Status") << true;
        QTest::newRow("Serial Poll") << IDC_SERIAL_POLL << QStringLiteral("Serial Poll") << true;
        QTest::newRow("Open File") << IDC_OPEN_FILE << QStringLiteral("Open File") << true;
        QTest::newRow("Exit") << IDCANCEL << QStringLiteral("Exit") << true;
        QTest::newRow("Send File") << IDC_SEND_FILE << QStringLiteral("Send File") << false;
        QTest::newRow("automation") << IDC_LINK_AUTOMATION << QStringLiteral("Zemra Automation") << true;
        QTest::newRow("ordal") << IDC_LINK_ORDAL << QStringLiteral("Ordal.dll") << true;
        QTest::newRow("gpib") << IDC_LINK_GPIB << QStringLiteral("Remote GPIB") << true;
        QTest::newRow("lumec") << IDC_LINK_LUMEC << QStringLiteral("Lumec.dll") << true;
        QTest::newRow("tcpip") << IDC_LINK_TCPIP << QStringLiteral("TCP/IP") << true;
        QTest::newRow("visa") << IDC_LINK_VISA << QStringLiteral("VISA Resource") << true;
        QTest::newRow("Find") << IDC_FIND << QStringLiteral("&Find...") << true;
    }

    // The controls of old keep their places in dialog units; the row of the
    // VISA Resource link lies below them, the window grown by that row
    // alone; and no two controls overlap.
    void places_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QRect>("place");
        QTest::newRow("Send") << IDC_SEND << QRect(7, 7, 50, 14);
        QTest::newRow("response") << IDC_RESPONSE << QRect(69, 30, 243, 111);
        QTest::newRow("Exit") << IDCANCEL << QRect(262, 171, 50, 14);
        QTest::newRow("address") << IDC_GPIB_ADDRESS << QRect(139, 204, 40, 14);
        QTest::newRow("delay") << IDC_DELAY << QRect(244, 204, 40, 14);
        QTest::newRow("IP") << IDC_IP_ADDRESS << QRect(141, 185, 70, 12);
        QTest::newRow("automation") << IDC_LINK_AUTOMATION << QRect(7, 169, 75, 10);
        QTest::newRow("ordal") << IDC_LINK_ORDAL << QRect(7, 188, 42, 10);
        QTest::newRow("gpib") << IDC_LINK_GPIB << QRect(7, 207, 59, 10);
        QTest::newRow("lumec") << IDC_LINK_LUMEC << QRect(95, 169, 40, 10);
        QTest::newRow("tcpip") << IDC_LINK_TCPIP << QRect(95, 188, 40, 10);
    }

    void places()
    {
        QFETCH(int, id);
        QFETCH(QRect, place);
        Window w;
        const CDialogUnits units(w->font());
        const QRect expected = units.Rect(place.x(), place.y(), place.width(), place.height());
        const QRect actual = w->Control(id)->geometry();
        // Where a text needs more room its control only grows to the right.
        QCOMPARE(actual.topLeft(), expected.topLeft());
        QVERIFY(actual.width() >= expected.width());
        QCOMPARE(w->size(), units.Size(320, 244));
        for (int row : {IDC_LINK_VISA, IDC_RESOURCE_LABEL, IDC_RESOURCE, IDC_FIND})
            QVERIFY2(w->Control(row)->geometry().top() >= units.Y(222),
                     qPrintable(w->Control(row)->objectName()));
    }

    void noControlsOverlap()
    {
        Window w;
        QList<QWidget *> controls;
        // The progress of long work takes the path labels' place only while
        // the labels are hidden.
        for (QObject *child : w->children())
            if (auto *widget = qobject_cast<QWidget *>(child);
                widget && !widget->isWindow() && !widget->isHidden())
                controls << widget;
        QVERIFY(controls.size() > 20);
        for (qsizetype i = 0; i < controls.size(); ++i) {
            QVERIFY2(w->rect().contains(controls[i]->geometry()), qPrintable(controls[i]->objectName()));
            for (qsizetype j = i + 1; j < controls.size(); ++j)
                QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                         qPrintable(controls[i]->objectName() + QStringLiteral(" and ") +
                                    controls[j]->objectName()));
        }
    }

    void controls()
    {
        QFETCH(int, id);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        Window w;
        auto *button = w.control<QAbstractButton>(id);
        QVERIFY(button);
        QCOMPARE(button->text(), text);
        QCOMPARE(button->isEnabled(), enabled);
        QCOMPARE(w->windowTitle(), QStringLiteral("Tallix"));
        QVERIFY(w.control<QPlainTextEdit>(IDC_RESPONSE)->isReadOnly());
        QVERIFY(w.control<QLabel>(IDC_INPUT_PATH)->text().isEmpty());
        QVERIFY(w.control<QLabel>(IDC_OUTPUT_PATH)->text().isEmpty());
        // The boxes without a text of their own are named by their labels.
        QCOMPARE(w->Control(IDC_GPIB_ADDRESS)->accessibleName(), QStringLiteral("GPIB Address:"));
        QCOMPARE(w->Control(IDC_DELAY)->accessibleName(), QStringLiteral("Delay:"));
        QCOMPARE(w->Control(IDC_IP_ADDRESS)->accessibleName(), QStringLiteral("IP Address:"));
    }

    void textsFitTheirPlaces()
    {
        Window w;
        for (QAbstractButton *b : w->findChildren<QAbstractButton *>())
            QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(b->objectName()));
        for (QLabel *l : w->findChildren<QLabel *>())
            if (!l->text().isEmpty())
                QVERIFY2(l->width() >= l->sizeHint().width(), qPrintable(l->objectName()));
    }

    void tabOrder()
    {
        Window w;
        show(w);
        QCOMPARE(QApplication::focusWidget(), w->Control(IDC_SEND));
        const int order[] = {IDC_COMMAND,   IDC_READ_AFTER_SEND, IDC_READ,     IDC_STATUS,   IDC_SERIAL_POLL,
                             IDC_OPEN_FILE, IDC_GPIB_ADDRESS,    IDCANCEL,     IDC_RESPONSE, IDC_SEND_FILE,
                             IDC_DELAY,     IDC_IP_ADDRESS,      IDC_RESOURCE, IDC_FIND,     IDC_SEND};
        // Send File starts disabled and is skipped.
        for (int id : order) {
            if (id == IDC_SEND_FILE)
                continue;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *focus = QApplication::focusWidget();
            QWidget *expected = w->Control(id);
            QVERIFY2(focus == expected || expected->isAncestorOf(focus),
                     qPrintable(QStringLiteral("expected %1, focus on %2")
                                    .arg(expected->objectName(), focus ? focus->objectName() : QString())));
        }
    }

    void ipAddressIsOneTabStop()
    {
        Window w;
        show(w);
        auto *ip = w.control<CIpAddressCtrl>(IDC_IP_ADDRESS);
        ip->Field(2)->setFocus();
        QTest::keyClick(ip->Field(2), Qt::Key_Tab);
        QVERIFY(w->Control(IDC_RESOURCE)->isAncestorOf(QApplication::focusWidget()) ||
                QApplication::focusWidget() == w->Control(IDC_RESOURCE));
        ip->Field(1)->setFocus();
        QTest::keyClick(ip->Field(1), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), w->Control(IDC_DELAY));
    }
};

QTEST_MAIN(TestConsoleDlg)
#include "tst_consoledlg.moc"
