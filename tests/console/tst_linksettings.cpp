// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/LinkSettingsDlg.h"
#include "tests/console/ConsoleTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace consoletest;

namespace {

const QStringList KEYS{"TCPIP/Port",        "TCPIP/ConnectTimeoutMs", "TCPIP/ReplyTimeoutMs",
                       "TCPIP/RequestLine", "GPIB/Timeout",           "Console/ShowControlCharacters"};

// The value of `key` as the settings hold it.
int ValueOf(const CConsoleSettings &s, const QString &key)
{
    const int values[] = {s.links.tcpPort,        s.links.connectTimeoutMs,
                          s.links.replyTimeoutMs, s.links.askForReply ? 1 : 0,
                          s.links.gpibTimeout,    s.showControlCharacters ? 1 : 0};
    return values[KEYS.indexOf(key)];
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
        QCOMPARE(loaded.links, (CLinkOptions{700, 25000, 10000, true, -1}));
        QVERIFY(!loaded.showControlCharacters);
    }

    void storedValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("read");
        QTest::newRow("port 5025") << "TCPIP/Port" << QVariant(5025) << 5025;
        QTest::newRow("port 0") << "TCPIP/Port" << QVariant(0) << 700;
        QTest::newRow("port 65536") << "TCPIP/Port" << QVariant(65536) << 700;
        QTest::newRow("port not a number") << "TCPIP/Port" << QVariant("fifty") << 700;
        QTest::newRow("connect 2.5 s") << "TCPIP/ConnectTimeoutMs" << QVariant(2500) << 2500;
        QTest::newRow("connect under 1 s") << "TCPIP/ConnectTimeoutMs" << QVariant(999) << 25000;
        QTest::newRow("connect over 600 s") << "TCPIP/ConnectTimeoutMs" << QVariant(600001) << 25000;
        QTest::newRow("reply 0.1 s") << "TCPIP/ReplyTimeoutMs" << QVariant(100) << 100;
        QTest::newRow("reply under 0.1 s") << "TCPIP/ReplyTimeoutMs" << QVariant(99) << 10000;
        QTest::newRow("request line off") << "TCPIP/RequestLine" << QVariant(0) << 0;
        QTest::newRow("request line 2") << "TCPIP/RequestLine" << QVariant(2) << 1;
        QTest::newRow("GPIB no limit") << "GPIB/Timeout" << QVariant(0) << 0;
        QTest::newRow("GPIB 1000 s") << "GPIB/Timeout" << QVariant(17) << 17;
        QTest::newRow("GPIB 18") << "GPIB/Timeout" << QVariant(18) << -1;
        QTest::newRow("GPIB -2") << "GPIB/Timeout" << QVariant(-2) << -1;
        QTest::newRow("control characters on") << "Console/ShowControlCharacters" << QVariant(1) << 1;
        QTest::newRow("control characters 2") << "Console/ShowControlCharacters" << QVariant(2) << 0;
    }

    // Read at start-up; then OK in the dialog, untouched, writes back what
    // was read, and the window uses it from then on.
    void storedValues()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(int, read);
        Store(key, stored);
        Window w;
        QCOMPARE(ValueOf(w->Settings(), key), read);
        WithDialog(w, [](CLinkSettingsDlg *dialog) { Click(dialog, QDialogButtonBox::Ok); });
        QCOMPARE(Stored(key).toInt(), read);
        const CConsoleSettings defaults;
        for (const QString &other : KEYS)
            if (other != key)
                QCOMPARE(Stored(other).toInt(), ValueOf(defaults, other));
        QCOMPARE(ValueOf(w->Settings(), key), read); // the links' own options
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
            dialog->findChild<QSpinBox *>(QStringLiteral("tcpPort"))->setValue(5025);
            dialog->findChild<QCheckBox *>(QStringLiteral("askForReply"))->setChecked(false);
            Click(dialog, ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        });
        if (!ok) {
            for (const QString &key : KEYS)
                QVERIFY2(!Stored(key).isValid(), qPrintable(key));
            QCOMPARE(w->Settings(), CConsoleSettings());
            return;
        }
        QCOMPARE(Stored(QStringLiteral("TCPIP/Port")).toInt(), 5025);
        QCOMPARE(Stored(QStringLiteral("TCPIP/RequestLine")).toInt(), 0);
        QCOMPARE(w->Links().m_context.options.tcpPort, 5025);
        QVERIFY(!w->Links().m_context.options.askForReply);
    }
};

QTEST_MAIN(TestLinkSettings)
#include "tst_linksettings.moc"
