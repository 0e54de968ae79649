// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <dlfcn.h>

// tallix-gpib-probe against each simulated GPIB library, chosen by
// TALLIX_GPIB_BACKEND or found by name on the loader's path, and against none:
// what it prints and its exit status.
class TestGpib32Probe : public QObject
{
    Q_OBJECT

private:
    static QString linuxGpib() { return QStringLiteral(TALLIX_SIM_LINUXGPIB); }
    static QString ni() { return QStringLiteral(TALLIX_SIM_NI4882); }
    static QString folder(const QString &library) { return QFileInfo(library).absolutePath(); }

    static QString lines(const QByteArray &output) { return QString::fromLocal8Bit(output).trimmed(); }

    static bool gpibLibraryInstalled()
    {
        for (const char *name :
             {"libgpib.so.0", "libni4882.so.1", "libni4882.so", "libgpibapi.so.2", "libgpibapi.so"}) {
            if (void *library = dlopen(name, RTLD_LAZY)) {
                dlclose(library);
                return true;
            }
        }
        return false;
    }

private slots:
    void probe_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");

        const QString lgBackend = "backend: " + linuxGpib() + " (linux-gpib, version 0.0-tallix-sim)";
        const QString niBackend = "backend: " + ni() + " (NI-488.2)";
        const QString lgChosen = "TALLIX_GPIB_BACKEND=" + linuxGpib();
        const QString niChosen = "TALLIX_GPIB_BACKEND=" + ni();
        const QString bothOnPath = "LD_LIBRARY_PATH=" + folder(ni()) + ':' + folder(linuxGpib());

        QTest::newRow("linux-gpib chosen: listeners")
            << QStringList() << QStringList{lgChosen} << 0
            << lgBackend + "\nboard 0: listeners at 14 (listener search)" << QString();
        QTest::newRow("NI chosen: listeners")
            << QStringList{"--board", "0"} << QStringList{niChosen} << 0
            << niBackend + "\nboard 0: listeners at 14 (listener search)" << QString();
        QTest::newRow("linux-gpib chosen: query")
            << QStringList{"--address", "14", "--query", "MEAS:VOLT?"} << QStringList{lgChosen} << 0
            << lgBackend + "\nreply from 14: 1.250" << QString();
        QTest::newRow("NI chosen: identity by default")
            << QStringList{"--address", "14"} << QStringList{niChosen} << 0
            << niBackend + "\nreply from 14: KORVANE,TALLIX-SIM,SN0001,1.0" << QString();
        QTest::newRow("both on the path: linux-gpib first")
            << QStringList() << QStringList{bothOnPath} << 0
            << "backend: " + folder(linuxGpib()) +
                   "/libgpib.so.0 (linux-gpib, version 0.0-tallix-sim)"
                   "\nboard 0: listeners at 14 (listener search)"
            << QString();
        QTest::newRow("NI alone on the path, by its name")
            << QStringList{"--address", "14"} << QStringList{"LD_LIBRARY_PATH=" + folder(ni())} << 0
            << "backend: " + folder(ni()) +
                   "/libni4882.so (NI-488.2)"
                   "\nreply from 14: KORVANE,TALLIX-SIM,SN0001,1.0"
            << QString();
        QTest::newRow("the variable before the path")
            << QStringList() << QStringList{bothOnPath, niChosen} << 0
            << niBackend + "\nboard 0: listeners at 14 (listener search)" << QString();
        QTest::newRow("nothing at the address")
            << QStringList{"--address", "15"} << QStringList{lgChosen} << 1 << lgBackend
            << "tallix-gpib-probe: address 15: sending the query failed with ENOL (no listener at that "
               "address)";
        QTest::newRow("no device on the board")
            << QStringList() << QStringList{niChosen, "TALLIX_SIM_GPIB_ADDRESS=0"} << 1 << niBackend
            << "tallix-gpib-probe: board 0: no device answered (listener search)";
        // linux-gpib has no descriptor for a board its configuration lacks:
        // EARG, never ENEB; NI's library says ENEB.
        QTest::newRow("no board 1, linux-gpib")
            << QStringList{"--board", "1"} << QStringList{lgChosen} << 1 << lgBackend
            << "tallix-gpib-probe: board 1: interface clear failed with EARG (invalid argument); "
               "/etc/gpib.conf describes no board 1 (an interface with minor = 1)";
        QTest::newRow("no board 1, NI")
            << QStringList{"--board", "1"} << QStringList{niChosen} << 1 << niBackend
            << "tallix-gpib-probe: board 1: interface clear failed with ENEB (no such "
               "board, or it is offline)";
        // linux-gpib's board not set up: the driver's errno, or ECNF, named
        // with what to do.
        QTest::newRow("linux-gpib, /dev/gpib0 missing")
            << QStringList() << QStringList{lgChosen, "TALLIX_SIM_BUS_BOARD=missing"} << 1 << lgBackend
            << "tallix-gpib-probe: board 0: interface clear failed with EDVR (driver error: No such file or "
               "directory); /dev/gpib0 is missing: load the adapter's kernel module, then run sudo "
               "gpib_config --minor 0";
        QTest::newRow("linux-gpib, board not configured")
            << QStringList{"--address", "14"} << QStringList{lgChosen, "TALLIX_SIM_BUS_BOARD=unconfigured"}
            << 1 << lgBackend
            << "tallix-gpib-probe: board 0: interface clear failed with EDVR (driver error: Invalid "
               "argument); board 0 is not configured: run sudo gpib_config --minor 0";
        // The board-level call says EARG; the probe finds the ECNF behind it.
        QTest::newRow("linux-gpib, gpib.conf unusable")
            << QStringList() << QStringList{lgChosen, "TALLIX_SIM_BUS_BOARD=badconf"} << 1 << lgBackend
            << "tallix-gpib-probe: board 0: interface clear failed with ECNF (the GPIB configuration file "
               "cannot be used); fix /etc/gpib.conf (or the file IB_CONFIG names)";
        QTest::newRow("NI, driver error on the reply")
            << QStringList{"--address", "14"} << QStringList{niChosen, "TALLIX_SIM_GPIB_RECEIVE_ERR=0:5"} << 1
            << niBackend
            << "tallix-gpib-probe: address 14: no reply (EDVR (driver error: Input/output error))";
        QTest::newRow("bad address") << QStringList{"--address", "31"} << QStringList{lgChosen} << 2
                                     << QString()
                                     << "tallix-gpib-probe: --address needs a primary address from 0 to 30";
        QTest::newRow("query without address")
            << QStringList{"--query", "*IDN?"} << QStringList{lgChosen} << 2 << QString()
            << "tallix-gpib-probe: --query needs --address";
    }

    void probe()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"LD_LIBRARY_PATH", "TALLIX_GPIB_BACKEND", "TALLIX_SIM_GPIB_ADDRESS", "TALLIX_SIM_BUS_BOARD",
              "TALLIX_SIM_GPIB_RECEIVE_ERR", "TALLIX_SIM_GPIB_POLL_ERR"})
            env.remove(QString::fromLatin1(name));
        for (const QString &setting : environment)
            env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(TALLIX_GPIB_PROBE), arguments);
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(lines(probe.readAllStandardOutput()), out);
        QCOMPARE(lines(probe.readAllStandardError()), err);
        QCOMPARE(probe.exitCode(), exitCode);
    }

    // Without any GPIB library: one line naming each candidate with the
    // loader's reason, nothing on standard output, status 3.
    void noLibrary()
    {
        if (gpibLibraryInstalled())
            QSKIP("a GPIB library is installed on this machine");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LD_LIBRARY_PATH"));
        env.insert(QStringLiteral("TALLIX_GPIB_BACKEND"), QStringLiteral("/nonexistent/libgpib.so.0"));
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(TALLIX_GPIB_PROBE), {QStringLiteral("--address"), QStringLiteral("14")});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 3);
        QCOMPARE(probe.readAllStandardOutput(), QByteArray());
        const QString err = lines(probe.readAllStandardError());
        QVERIFY2(!err.contains(QLatin1Char('\n')), qPrintable(err));
        QVERIFY2(
            err.startsWith(QStringLiteral("tallix-gpib-probe: no GPIB library could be loaded; tried "
                                          "TALLIX_GPIB_BACKEND: /nonexistent/libgpib.so.0: cannot open")),
            qPrintable(err));
        for (const char *name : {"; libgpib.so.0: ", "; libni4882.so.1: ", "; libni4882.so: ",
                                 "; libgpibapi.so.2: ", "; libgpibapi.so: "})
            QVERIFY2(err.contains(QLatin1String(name)), name);
    }

    void help()
    {
        QProcess probe;
        probe.start(QStringLiteral(TALLIX_GPIB_PROBE), {QStringLiteral("--help")});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(probe.readAllStandardOutput());
        for (const char *option :
             {"--board N", "--address A", "--query TEXT", "--help", "TALLIX_GPIB_BACKEND", "Exit status"})
            QVERIFY2(out.contains(QLatin1String(option)), option);
    }
};

QTEST_GUILESS_MAIN(TestGpib32Probe)
#include "tst_gpib32probe.moc"
