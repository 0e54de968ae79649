// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/IpAddressCtrl.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

class TestIpAddressCtrl : public QObject
{
    Q_OBJECT

private slots:
    void addressAndText_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QString>("text");
        QTest::newRow("all blank") << QStringList{"", "", "", ""} << quint32(0) << QStringLiteral("0.0.0.0");
        QTest::newRow("blank field reads 0")
            << QStringList{"10", "", "3", "4"} << quint32(0x0A000304) << QStringLiteral("10.0.3.4");
        QTest::newRow("first octet high")
            << QStringList{"255", "1", "2", "3"} << quint32(0xFF010203) << QStringLiteral("255.1.2.3");
    }

    void addressAndText()
    {
        QFETCH(QStringList, fields);
        QFETCH(quint32, address);
        QFETCH(QString, text);
        CIpAddressCtrl ctrl;
        for (int i = 0; i < 4; ++i)
            ctrl.Field(i)->setText(fields[i]);
        QCOMPARE(ctrl.GetAddress(), address);
        QCOMPARE(ctrl.Text(), text);
        CIpAddressCtrl copy;
        copy.SetAddress(address);
        QCOMPARE(copy.Text(), text);
    }

    void fieldsRefuseAbove255()
    {
        CIpAddressCtrl ctrl;
        ctrl.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ctrl));
        ctrl.Field(0)->setFocus();
        QTest::keyClicks(ctrl.Field(0), QStringLiteral("9"));
        QTest::keyClicks(ctrl.Field(0), QStringLiteral("99"));
        QVERIFY(ctrl.Field(0)->text().toInt() <= 255);
    }

    // An address typed whole, dots included, from the control's first field
    // as Tab enters it (its text selected), over what the fields held.
    void typedWhole_data()
    {
        QTest::addColumn<quint32>("before");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("clicked");
        QTest::newRow("three digits, then a dot") << quint32(0) << QStringLiteral("192.168.1.5") << false;
        QTest::newRow("loopback") << quint32(0) << QStringLiteral("127.0.0.1") << false;
        QTest::newRow("short fields") << quint32(0) << QStringLiteral("10.1.2.3") << false;
        QTest::newRow("all full") << quint32(0x01020304) << QStringLiteral("255.255.255.255") << false;
        QTest::newRow("over another address")
            << quint32(0xC0A80105) << QStringLiteral("10.20.30.40") << false;
        // The caret after a field's lone 0, as a click leaves it: the 0 gives
        // way, it never becomes "012".
        QTest::newRow("clicked after the 0") << quint32(0) << QStringLiteral("127.0.0.1") << true;
    }

    void typedWhole()
    {
        QFETCH(quint32, before);
        QFETCH(QString, typed);
        QFETCH(bool, clicked);
        CIpAddressCtrl ctrl;
        ctrl.SetAddress(before);
        ctrl.show();
        ctrl.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&ctrl));
        ctrl.Field(0)->setFocus(Qt::TabFocusReason);
        if (clicked)
            ctrl.Field(0)->setCursorPosition(ctrl.Field(0)->text().size());
        else
            ctrl.Field(0)->selectAll(); // as Tab leaves it, also when it had the focus already
        for (const QChar c : typed)
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
        QCOMPARE(ctrl.Text(), typed);
    }

    void keysMoveBetweenFields()
    {
        CIpAddressCtrl ctrl;
        ctrl.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ctrl));
        ctrl.Field(0)->setFocus();
        QTest::keyClicks(ctrl.Field(0), QStringLiteral("127"));
        // A third digit moves on by itself; '.' moves on from a filled field.
        QCOMPARE(QApplication::focusWidget(), ctrl.Field(1));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("0."));
        QCOMPARE(QApplication::focusWidget(), ctrl.Field(2));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("0."));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("2"));
        QCOMPARE(ctrl.Text(), QStringLiteral("127.0.0.2"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left); // cursor after "2"
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left); // at the start: previous field
        QCOMPARE(QApplication::focusWidget(), ctrl.Field(2));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QCOMPARE(QApplication::focusWidget(), ctrl.Field(3));
    }
};

QTEST_MAIN(TestIpAddressCtrl)
#include "tst_ipaddressctrl.moc"
