// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// An X display that nobody serves here: no socket for it (in the folder or
// in the abstract namespace) and no server's lock file.
QString FreeDisplay()
{
    QFile sockets(QStringLiteral("/proc/net/unix"));
    const QByteArray listening = sockets.open(QIODevice::ReadOnly) ? sockets.readAll() : QByteArray();
    for (int n = 77; n < 1000; ++n) {
        const QByteArray socket = "/tmp/.X11-unix/X" + QByteArray::number(n);
        const bool used = QFile::exists(QString::fromLatin1(socket)) ||
                          QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
                          listening.contains(socket + '\n');
        if (!used)
            return QStringLiteral(":%1").arg(n);
    }
    return QString();
}

} // namespace

// Installs the build into a throw-away prefix and runs what was installed.
class TestInstall : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_prefix;

    QProcessEnvironment cleanEnvironment(const QString &config) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LD_LIBRARY_PATH"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        return env;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_prefix.isValid());
        QProcess install;
        install.start(QStringLiteral("cmake"),
                      {QStringLiteral("--install"), QStringLiteral(TALLIX_BINARY_DIR),
                       QStringLiteral("--prefix"), m_prefix.path()});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    }

    void layout_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("program") << QStringLiteral("bin/tallix");
        QTest::newRow("demo launcher") << QStringLiteral("bin/tallix-demo");
        QTest::newRow("gpib simulator") << QStringLiteral("lib/tallix/sim/libgpib-32.so");
        QTest::newRow("ordal simulator") << QStringLiteral("lib/tallix/sim/libordal.so");
        QTest::newRow("lumec simulator") << QStringLiteral("lib/tallix/sim/liblumec.so");
        QTest::newRow("instrument server") << QStringLiteral("lib/tallix/sim/tallix-instrument-server");
        QTest::newRow("automation server") << QStringLiteral("lib/tallix/sim/tallix-automation-server");
        QTest::newRow("usbtmc simulator") << QStringLiteral("lib/tallix/sim/libtallix-usbtmc-sim.so");
        QTest::newRow("udev rule for USB instruments")
            << QStringLiteral("lib/udev/rules.d/70-tallix-usbtmc.rules");
        QTest::newRow("desktop entry") << QStringLiteral("share/applications/tallix.desktop");
        QTest::newRow("icon") << QStringLiteral("share/icons/hicolor/64x64/apps/tallix.png");
        QTest::newRow("man page") << QStringLiteral("share/man/man1/tallix.1");
        QTest::newRow("demo man page") << QStringLiteral("share/man/man1/tallix-demo.1");
        QTest::newRow("gpib-32 over the machine's GPIB library") << QStringLiteral("lib/libgpib-32.so");
        QTest::newRow("gpib probe") << QStringLiteral("bin/tallix-gpib-probe");
        QTest::newRow("gpib probe man page") << QStringLiteral("share/man/man1/tallix-gpib-probe.1");
        QTest::newRow("metainfo") << QStringLiteral("share/metainfo/com.korvane.tallix.metainfo.xml");
        QTest::newRow("bus service file")
            << QStringLiteral("share/tallix/dbus-1/services/Zemra.Application2.service");
    }

    void layout()
    {
        QFETCH(QString, path);
        QVERIFY2(QFile::exists(m_prefix.filePath(path)), qPrintable(path));
    }

    void simulatorsNeverOnTheLibraryPath()
    {
        // A simulated vendor library in lib/ itself would shadow the real one.
        for (const char *name : {"libordal.so", "liblumec.so"})
            QVERIFY2(!QFile::exists(m_prefix.filePath(QStringLiteral("lib/") + QLatin1String(name))), name);
        // lib/libgpib-32.so is the compatibility library over the machine's
        // GPIB library, never the simulator.
        QFile compat(m_prefix.filePath(QStringLiteral("lib/libgpib-32.so")));
        QFile simulator(m_prefix.filePath(QStringLiteral("lib/tallix/sim/libgpib-32.so")));
        QVERIFY(compat.open(QIODevice::ReadOnly) && simulator.open(QIODevice::ReadOnly));
        QVERIFY(compat.readAll() != simulator.readAll());
    }

    void installedProgramRunsOffscreen()
    {
        QTemporaryDir config;
        QProcess tallix;
        QProcessEnvironment env = cleanEnvironment(config.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        tallix.setProcessEnvironment(env);
        tallix.start(m_prefix.filePath(QStringLiteral("bin/tallix")), {});
        QVERIFY(tallix.waitForStarted());
        // The window's set-up writes the GPIB address at once: proof that it
        // came up, read from the settings file the installed program wrote.
        const QString conf = config.filePath(QStringLiteral("Korvane/Tallix.conf"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(conf), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(QSettings(conf, QSettings::IniFormat).value("GPIB/Address").toInt(), 14,
                                  5000);
        QCOMPARE(tallix.state(), QProcess::Running);
        tallix.terminate();
        QVERIFY(tallix.waitForFinished(10000));
    }

    void withoutDisplaySaysWhatToDo_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("platform");
        QTest::newRow("none set") << QString() << QString();
        // Set, but nobody listens there (a stale remote session): Qt's own
        // failure must not become a crash.
        QTest::newRow("X display not there") << FreeDisplay() << QString();
        QTest::newRow("xcb asked for, no display") << QString() << QStringLiteral("xcb");
    }

    void withoutDisplaySaysWhatToDo()
    {
        QFETCH(QString, display);
        QFETCH(QString, platform);
        if (QTest::currentDataTag() == QLatin1String("X display not there") && display.isEmpty())
            QSKIP("every display number is served here");
        QTemporaryDir config;
        QProcess tallix;
        QProcessEnvironment env = cleanEnvironment(config.path());
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), display);
        if (!platform.isEmpty())
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        tallix.setProcessEnvironment(env);
        tallix.start(m_prefix.filePath(QStringLiteral("bin/tallix")), {});
        QVERIFY(tallix.waitForFinished(10000));
        const QByteArray err = tallix.readAllStandardError();
        QVERIFY2(tallix.exitStatus() == QProcess::NormalExit, err.constData());
        QCOMPARE(tallix.exitCode(), 1);
        QVERIFY2(err.contains("needs a graphical display"), err.constData());
        QVERIFY(err.contains("xvfb-run"));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
