// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/IpAddressCtrl.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/links/LinkAccess.h"
#include "tests/links/TcpTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTemporaryDir>
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
        LinkAs<CMessageLibraryLink>(w->Links(), LINK_ORDAL)
            .SetLibraryName(QStringLiteral(TALLIX_SIM_LIBDIR "/libordal.so"));
        w.control<QRadioButton>(IDC_LINK_ORDAL)->click();
        QCOMPARE(Shown(w, bytes), shown);
        QCOMPARE(w.messages, QStringList());
    }

    // "Show control characters": every byte the TCP/IP link received, NULs
    // and what follows them too; the log of the same response is the same
    // with the view on or off.
    void controlCharacters_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("CR LF") << QByteArray("1.250\r\n") << QStringLiteral("1.250\\r\\n\n");
        QTest::newRow("bare LF") << QByteArray("1.250\n") << QStringLiteral("1.250\\n\n");
        QTest::newRow("NUL in the middle") << QByteArray("A\0B\r\n", 5) << QStringLiteral("A\\x00B\\r\\n\n");
        QTest::newRow("bytes from 0x80") << QByteArray("25.0\xB0"
                                                       "C\x7F")
                                         << QStringLiteral("25.0\\xB0C\\x7F");
        QTest::newRow("UTF-8 stays text") << QByteArray("25.0\xC2\xB0"
                                                        "C")
                                          << QStringLiteral("25.0\u00B0C");
        QTest::newRow("backslash and tab") << QByteArray("a\\b\tc\x1B") << QStringLiteral("a\\\\b\\tc\\x1B");
    }

    void controlCharacters()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString address = tcptest::NextAddress(3);
        tcptest::CServer server;
        const auto outcome = server.Start(address, {QStringLiteral("--port"), QStringLiteral("5025")});
        QVERIFY2(outcome == tcptest::CServer::Listening, qPrintable(server.Errors()));
        QTemporaryDir dir;
        QByteArray logs[2];
        for (const bool view : {false, true}) {
            ClearSettings();
            Store(QStringLiteral("TCPIP/Port"), 5025);
            Store(QStringLiteral("Console/ShowControlCharacters"), view ? 1 : 0);
            Window w;
            w.control<QRadioButton>(IDC_LINK_TCPIP)->click();
            w.control<CIpAddressCtrl>(IDC_IP_ADDRESS)->SetAddress(tcptest::AddressNumber(address));
            const QString logPath = dir.filePath(QStringLiteral("view%1.log").arg(view));
            QVERIFY(w->Files().Log().Open(logPath));
            const QString text = Shown(w, bytes);
            if (view)
                QCOMPARE(text, shown);
            QCOMPARE(w.messages, QStringList());
            w->Files().Log().Close();
            logs[view] = tcptest::ReadFile(logPath);
        }
        QVERIFY(logs[0].startsWith("BYTES "));
        QCOMPARE(logs[1], logs[0]);
    }
};

QTEST_MAIN(TestResponseView)
#include "tst_responseview.moc"
