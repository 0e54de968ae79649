// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/LinkSettingsDlg.h"
#include "tests/console/ConsoleTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace consoletest;

namespace {

// Every key that Link Settings writes.
QStringList Keys()
{
    QStringList keys;
    for (const CLinkSettingsGroup &group : CConsoleSettings::Groups())
        for (const CLinkSetting &setting : group.settings)
            keys << setting.Name();
    keys << QStringLiteral("Console/ShowControlCharacters") << QStringLiteral("Log/TimeStamps");
    return keys;
}

// The value of `key` as the settings hold it.
QVariant ValueOf(const CConsoleSettings &s, const QString &key)
{
    if (key == QLatin1String("Console/ShowControlCharacters"))
        return s.showControlCharacters ? 1 : 0;
    if (key == QLatin1String("Log/TimeStamps"))
        return s.logTimeStamps ? 1 : 0;
    const CLinkSetting *setting = CConsoleSettings::Find(key);
    return setting ? setting->get(s.links) : QVariant();
}

} // namespace

// The settings of the Link Settings dialog: how they are read, and what the
// dialog, opened from the window's menu, writes.
class TestLinkSettings : public QObject
{
    Q_OBJECT

private:
    // Opens the dialog from the window menu and, once it is up, lets `act`
    // work it (it must close it); a dialog that stays up fails the test.
    void WithDialog(Window &w, const std::function<void(CLinkSettingsDlg *)> &act)
    {
        bool seen = false;
        QTimer::singleShot(0, [&]() {
            auto *dialog = qobject_cast<CLinkSettingsDlg *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen = true;
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Link Settings"));
            act(dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        w->OnSysCommand(IDM_LINKSETTINGS);
        QVERIFY(seen);
    }

    static void Click(CLinkSettingsDlg *dialog, QDialogButtonBox::StandardButton which)
    {
        dialog->findChild<QDialogButtonBox *>()->button(which)->click();
    }

private slots:
    void initTestCase() { UseTestSettings(); }
    void init() { ClearSettings(); }

    void nothingStoredGivesTheDefaults()
    {
        const CConsoleSettings loaded = CConsoleSettings::Load();
        QCOMPARE(loaded, CConsoleSettings());
        const CLinkOptions &links = loaded.links;
        QCOMPARE(links.tcpPort, 700);
        QCOMPARE(links.connectTimeoutMs, 25000);
        QCOMPARE(links.replyTimeoutMs, 10000);
        QVERIFY(links.askForReply);
        QCOMPARE(links.gpibTimeout, -1);
        QCOMPARE(links.maxReplyBytes, std::int64_t{64} << 20);
        QCOMPARE(links.visaLibrary, QString());
        QCOMPARE(links.visaOpenTimeoutMs, 5000);
        QCOMPARE(links.visaTimeoutMs, 10000);
        QVERIFY(!loaded.showControlCharacters);
    }

    void storedValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("read");
        QTest::newRow("port 5025") << "TCPIP/Port" << QVariant(5025) << QVariant(5025);
        QTest::newRow("port 0") << "TCPIP/Port" << QVariant(0) << QVariant(700);
        QTest::newRow("port 65536") << "TCPIP/Port" << QVariant(65536) << QVariant(700);
        QTest::newRow("port not a number") << "TCPIP/Port" << QVariant("fifty") << QVariant(700);
        QTest::newRow("connect 2.5 s") << "TCPIP/ConnectTimeoutMs" << QVariant(2500) << QVariant(2500);
        QTest::newRow("connect under 1 s") << "TCPIP/ConnectTimeoutMs" << QVariant(999) << QVariant(25000);
        QTest::newRow("connect over 600 s")
            << "TCPIP/ConnectTimeoutMs" << QVariant(600001) << QVariant(25000);
        QTest::newRow("reply 0.1 s") << "TCPIP/ReplyTimeoutMs" << QVariant(100) << QVariant(100);
        QTest::newRow("reply under 0.1 s") << "TCPIP/ReplyTimeoutMs" << QVariant(99) << QVariant(10000);
        QTest::newRow("request line off") << "TCPIP/RequestLine" << QVariant(0) << QVariant(0);
        QTest::newRow("request line 2") << "TCPIP/RequestLine" << QVariant(2) << QVariant(1);
        QTest::newRow("GPIB no limit") << "GPIB/Timeout" << QVariant(0) << QVariant(0);
        QTest::newRow("GPIB 1000 s") << "GPIB/Timeout" << QVariant(17) << QVariant(17);
        QTest::newRow("GPIB 18") << "GPIB/Timeout" << QVariant(18) << QVariant(-1);
        QTest::newRow("GPIB -2") << "GPIB/Timeout" << QVariant(-2) << QVariant(-1);
        QTest::newRow("control characters on")
            << "Console/ShowControlCharacters" << QVariant(1) << QVariant(1);
        QTest::newRow("control characters 2")
            << "Console/ShowControlCharacters" << QVariant(2) << QVariant(0);
        QTest::newRow("largest reply 1 MiB")
            << "Replies/MaxBytes" << QVariant(1 << 20) << QVariant(qlonglong(1 << 20));
        QTest::newRow("largest reply 1.5 MiB")
            << "Replies/MaxBytes" << QVariant(3 << 19) << QVariant(qlonglong(3 << 19));
        QTest::newRow("largest reply under 1 MiB")
            << "Replies/MaxBytes" << QVariant(1000) << QVariant(qlonglong(64) << 20);
        QTest::newRow("largest reply over 1 GiB")
            << "Replies/MaxBytes" << QVariant(qlonglong(1) << 31) << QVariant(qlonglong(64) << 20);
        QTest::newRow("VISA library")
            << "VISA/Library" << QVariant("/opt/visa/libvisa.so") << QVariant("/opt/visa/libvisa.so");
        QTest::newRow("VISA open 0.1 s") << "VISA/OpenTimeoutMs" << QVariant(100) << QVariant(100);
        QTest::newRow("VISA open 0") << "VISA/OpenTimeoutMs" << QVariant(0) << QVariant(5000);
        QTest::newRow("VISA time-out 600 s") << "VISA/TimeoutMs" << QVariant(600000) << QVariant(600000);
        QTest::newRow("VISA time-out garbage") << "VISA/TimeoutMs" << QVariant("soon") << QVariant(10000);
        QTest::newRow("time stamps on") << "Log/TimeStamps" << QVariant(1) << QVariant(1);
        QTest::newRow("time stamps 2") << "Log/TimeStamps" << QVariant(2) << QVariant(0);
        QTest::newRow("baud typed") << "Serial/Baud" << QVariant(250000) << QVariant(250000);
        QTest::newRow("baud too high") << "Serial/Baud" << QVariant(5000000) << QVariant(9600);
        QTest::newRow("4 data bits") << "Serial/DataBits" << QVariant(4) << QVariant(8);
        QTest::newRow("mark parity") << "Serial/Parity" << QVariant(4) << QVariant(4);
        QTest::newRow("parity 5") << "Serial/Parity" << QVariant(5) << QVariant(0);
        QTest::newRow("stop bits 0") << "Serial/StopBits" << QVariant(0) << QVariant(1);
        QTest::newRow("reply ends in silence") << "Serial/ReplyEnd" << QVariant(3) << QVariant(3);
        QTest::newRow("DTR low") << "Serial/Dtr" << QVariant(0) << QVariant(0);
        QTest::newRow("Prologix on TCP") << "GPIB/Board" << QVariant("prologix:tcp:gpib.lab:1234")
                                         << QVariant("prologix:tcp:gpib.lab:1234");
    }

    // Read at start-up; then OK in the dialog, untouched, writes back what
    // was read, and the window uses it from then on.
    void storedValues()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, read);
        Store(key, stored);
        Window w;
        QCOMPARE(ValueOf(w->Settings(), key).toString(), read.toString());
        WithDialog(w, [](CLinkSettingsDlg *dialog) { Click(dialog, QDialogButtonBox::Ok); });
        QCOMPARE(Stored(key).toString(), read.toString());
        const CConsoleSettings defaults;
        for (const QString &other : Keys())
            if (other != key)
                QCOMPARE(Stored(other).toString(), ValueOf(defaults, other).toString());
        QCOMPARE(ValueOf(w->Settings(), key).toString(), read.toString()); // the links' own options
    }

    // What the user sets goes to the store and to the links; Cancel writes
    // nothing and changes nothing.
    void okAndCancel_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }

    void okAndCancel()
    {
        QFETCH(bool, ok);
        Window w;
        WithDialog(w, [ok](CLinkSettingsDlg *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("TCPIP/Port"))->setValue(5025);
            dialog->findChild<QCheckBox *>(QStringLiteral("TCPIP/RequestLine"))->setChecked(false);
            dialog->findChild<QComboBox *>(QStringLiteral("VISA/Library"))
                ->setEditText(QStringLiteral("/x/libvisa.so"));
            Click(dialog, ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        });
        if (!ok) {
            for (const QString &key : Keys())
                QVERIFY2(!Stored(key).isValid(), qPrintable(key));
            QCOMPARE(w->Settings(), CConsoleSettings());
            return;
        }
        QCOMPARE(Stored(QStringLiteral("TCPIP/Port")).toInt(), 5025);
        QCOMPARE(Stored(QStringLiteral("TCPIP/RequestLine")).toInt(), 0);
        QCOMPARE(Stored(QStringLiteral("VISA/Library")).toString(), QStringLiteral("/x/libvisa.so"));
        QCOMPARE(w->Links().Context().options.tcpPort, 5025);
        QVERIFY(!w->Links().Context().options.askForReply);
        QCOMPARE(w->Links().Context().options.visaLibrary, QStringLiteral("/x/libvisa.so"));
    }
};

QTEST_MAIN(TestLinkSettings)
#include "tst_linksettings.moc"
