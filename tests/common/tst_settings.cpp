// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;

    static QString path()
    {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Korvane"),
                         QStringLiteral("Tallix"))
            .fileName();
    }

    static void writeRaw(const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(path()).path());
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        // A file of the same size written within the file system's clock
        // tick would look unchanged to QSettings' cache of what it read:
        // each raw file gets a time of its own.
        static int written = 0;
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-100000 + ++written),
                              QFileDevice::FileModificationTime));
    }

private slots:
    // A configuration folder of this test's own, not shared with the test
    // programs that run beside it.
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }
    void init() { QFile::remove(path()); }
    void cleanup()
    {
        QDir().rmdir(path());
        QFile::remove(path());
    }

    void storeLivesUnderTheCompanyKey()
    {
        QVERIFY(path().endsWith(QStringLiteral("/Korvane/Tallix.conf")));
        WriteProfileInt(QStringLiteral("GPIB"), QStringLiteral("Address"), 9);
        QVERIFY(QFile::exists(path()));
    }

    void roundTrip_data()
    {
        QTest::addColumn<int>("value");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -1;
        QTest::newRow("smallest") << int(INT32_MIN);
        QTest::newRow("largest") << int(INT32_MAX);
        QTest::newRow("address 192.168.10.1") << int(0xC0A80A01);
    }

    void roundTrip()
    {
        QFETCH(int, value);
        WriteProfileInt(QStringLiteral("TCPIP"), QStringLiteral("IPAddress"), value);
        QCOMPARE(GetProfileInt(QStringLiteral("TCPIP"), QStringLiteral("IPAddress"), 77), value);
    }

    void unreadableValuesGiveTheDefault_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("expected");
        QTest::newRow("missing") << QByteArray("[GPIB]\nAddress=3\n") << 3;
        QTest::newRow("letters") << QByteArray("[GPIB]\nConnect=lumec\n") << 3;
        QTest::newRow("beyond 32 bits") << QByteArray("[GPIB]\nConnect=4294967296\n") << 3;
        QTest::newRow("not validated") << QByteArray("[GPIB]\nConnect=42\n") << 42;
        QTest::newRow("binary garbage") << QByteArray("\x01\xff[GPIB\nConnect==\x00\n", 20) << 3;
    }

    void unreadableValuesGiveTheDefault()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, expected);
        writeRaw(file);
        QCOMPARE(GetProfileInt(QStringLiteral("GPIB"), QStringLiteral("Connect"), 3), expected);
    }

    void unwritableStoreIsIgnored()
    {
        // A folder where the file should be: no write can succeed, even as root.
        QVERIFY(QDir().mkpath(path()));
        WriteProfileInt(QStringLiteral("GPIB"), QStringLiteral("Address"), 6); // must not crash
        QCOMPARE(GetProfileInt(QStringLiteral("GPIB"), QStringLiteral("Address"), 14), 14);
        QVERIFY(QDir().rmdir(path()));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
