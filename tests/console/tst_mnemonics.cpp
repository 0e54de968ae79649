// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/AboutDlg.h"
#include "console/FileDialogEx.h"
#include "console/FindDlg.h"
#include "console/LinkSettingsDlg.h"
#include "tests/console/ConsoleTestSupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMap>
#include <QShortcut>
#include <QTest>

using namespace consoletest;

namespace {

// The controls of `window` that the keyboard reaches with Alt and a key:
// "Alt+X" to the names of the controls it reaches. A label's mnemonic
// reaches its buddy; the window's own shortcuts count as well.
QMap<QString, QStringList> AltKeys(QWidget *window)
{
    QMap<QString, QStringList> keys;
    const auto add = [&](const QString &text, const QWidget *control) {
        const QKeySequence key = QKeySequence::mnemonic(text);
        if (!key.isEmpty() && control->isVisibleTo(window))
            keys[key.toString()] << QStringLiteral("%1 \"%2\"").arg(control->objectName(), text);
    };
    for (const QAbstractButton *button : window->findChildren<QAbstractButton *>())
        add(button->text(), button);
    for (const QGroupBox *group : window->findChildren<QGroupBox *>())
        add(group->title(), group);
    for (const QLabel *label : window->findChildren<QLabel *>())
        if (label->buddy() && label->textFormat() != Qt::PlainText)
            add(label->text(), label->buddy());
    for (const QShortcut *shortcut : window->findChildren<QShortcut *>())
        if (shortcut->isEnabled() && !shortcut->key().isEmpty() &&
            shortcut->key()[0].keyboardModifiers() == Qt::AltModifier)
            keys[shortcut->key().toString()] << QStringLiteral("shortcut");
    return keys;
}

} // namespace

// Every Alt key of a window reaches one control: two that share one leave
// the second unreachable from the keyboard.
class TestMnemonics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { UseTestSettings(); }

    void oneControlPerAltKey_data()
    {
        QTest::addColumn<QString>("window");
        for (const char *name : {"console", "Link Settings", "Find", "About", "Open File"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void oneControlPerAltKey()
    {
        QFETCH(QString, window);
        Window console;
        std::unique_ptr<QWidget> dialog;
        if (window == QLatin1String("Link Settings"))
            dialog = std::make_unique<CLinkSettingsDlg>(CConsoleSettings::Load());
        else if (window == QLatin1String("Find"))
            dialog = std::make_unique<CFindDlg>(CConsoleSettings::Load().links);
        else if (window == QLatin1String("About"))
            dialog = std::make_unique<CAboutDlg>();
        else if (window == QLatin1String("Open File"))
            dialog = std::make_unique<CFileDialogEx>(true, QStringLiteral("*.txt"));
        QWidget *shown = dialog ? dialog.get() : console.dlg.get();
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        const QMap<QString, QStringList> keys = AltKeys(shown);
        QVERIFY(!keys.isEmpty() || window == QLatin1String("About"));
        for (auto at = keys.cbegin(); at != keys.cend(); ++at)
            QVERIFY2(at.value().size() == 1,
                     qPrintable(at.key() + QLatin1String(": ") + at.value().join(", ")));
        if (auto *fileDialog = dynamic_cast<CFileDialogEx *>(shown))
            QVERIFY(fileDialog->LogResponsesCheck()->isVisibleTo(shown));
    }
};

QTEST_MAIN(TestMnemonics)
#include "tst_mnemonics.moc"
