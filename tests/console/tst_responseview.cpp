// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/console/ConsoleTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>

using namespace consoletest;

// What the response box shows for the bytes an instrument sent, read through
// the window from the simulated ordal library.
class TestResponseView : public QObject
{
    Q_OBJECT

private:
    // The response box after sending "BYTES <hex of bytes>" with Read ticked.
    static QString Shown(Window &w, const QByteArray &bytes)
    {
        w.control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        w.control<QComboBox>(IDC_COMMAND)
            ->setEditText(QStringLiteral("BYTES ") + QString::fromLatin1(bytes.toHex()));
        w->OnSend();
        return w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText();
    }

private slots:
    void initTestCase() { UseTestSettings(); }

    // Valid UTF-8 shows as UTF-8; anything else byte for byte as Latin-1,
    // never as replacement characters.
    void encodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ASCII") << QByteArray("1.250") << QStringLiteral("1.250");
        QTest::newRow("UTF-8 degree sign") << QByteArray("25.0\xC2\xB0"
                                                         "C")
                                           << QStringLiteral("25.0\u00B0C");
        QTest::newRow("Latin-1 degree sign") << QByteArray("25.0\xB0"
                                                           "C")
                                             << QStringLiteral("25.0\u00B0C");
        QTest::newRow("Latin-1 micro sign") << QByteArray("5\xB5"
                                                          "A")
                                            << QStringLiteral("5\u00B5A");
        QTest::newRow("UTF-8 cut short") << QByteArray("x\xE2\x82") << QStringLiteral("x\u00E2\u0082");
    }

    void encodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        ClearSettings();
        Window w;
        w->Links()
            .LinkAs<CMessageLibraryLink>(LINK_ORDAL)
            .SetLibraryName(QStringLiteral(TALLIX_SIM_LIBDIR "/libordal.so"));
        w.control<QRadioButton>(IDC_LINK_ORDAL)->click();
        QCOMPARE(Shown(w, bytes), shown);
        QCOMPARE(w.messages, QStringList());
    }
};

QTEST_MAIN(TestResponseView)
#include "tst_responseview.moc"
