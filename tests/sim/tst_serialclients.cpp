// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/ResourceParser.h"
#include "sessions/serial/SerialLock.h"
#include "sessions/serial/SerialSession.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The simulated serial instrument against a serial client written elsewhere:
// PyVISA with pyvisa-py (and its pyserial) opening ASRL/dev/pts/N::INSTR as
// a serial port, with its own line settings and read termination; and socat
// keeping a port's lock file as serial programs do.
class TestSerialClients : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static QString StartSim(QProcess &sim, const QStringList &arguments)
    {
        sim.start(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-serial-instrument"), arguments);
        QByteArray out;
        while (sim.waitForStarted(5000) && !out.contains('\n') && sim.waitForReadyRead(5000))
            out += sim.readAllStandardOutput();
        return out.startsWith("pty ") ? QString::fromLocal8Bit(out.mid(4).trimmed()) : QString();
    }

private slots:
    // One program's lock keeps the other off the port, whichever came first.
    void socatLocks_data()
    {
        QTest::addColumn<bool>("socatFirst");
        QTest::newRow("socat holds the port: Tallix names it") << true;
        QTest::newRow("Tallix holds the port: socat keeps off") << false;
    }
    void socatLocks()
    {
        QFETCH(bool, socatFirst);
        const QTemporaryDir locks;
        qputenv("TALLIX_LOCK_DIR", QFile::encodeName(locks.path()));
        QProcess sim;
        const QString port = StartSim(sim, {});
        QVERIFY(!port.isEmpty());
        const QString lock = CSerialLock::PathFor(port);
        CResource resource;
        QString error;
        QVERIFY(ParseResource(QStringLiteral("ASRL%1::INSTR").arg(port), resource, error));
        CSerialSession session(resource, CSessionOptions());
        if (!socatFirst)
            QVERIFY2(session.Open(error), qPrintable(error));
        QProcess socat;
        socat.start(QStringLiteral("socat"),
                    {QStringLiteral("-u"), QStringLiteral("OPEN:%1,lockfile=%2").arg(port, lock),
                     QStringLiteral("-")});
        if (!socat.waitForStarted())
            QSKIP("needs socat (scripts/install-deps)");
        if (socatFirst) {
            QTRY_VERIFY(QFileInfo::exists(lock));
            QVERIFY(!session.Open(error));
            QVERIFY2(error.contains(QStringLiteral("(socat, process %1): close it, then try again. If it no "
                                                   "longer uses the port, remove its lock file %2.")
                                        .arg(socat.processId())
                                        .arg(lock)),
                     qPrintable(error));
        } else {
            QVERIFY(socat.waitForFinished(5000));
            QVERIFY(socat.exitCode() != 0);
            QVERIFY(socat.readAllStandardError().contains("could not obtain lock"));
        }
        socat.kill();
        socat.waitForFinished();
        sim.terminate();
        sim.waitForFinished(5000);
    }

    void pyvisa_data()
    {
        QTest::addColumn<QString>("lineEnd");
        QTest::addColumn<QString>("openArguments");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("printed");
        QTest::addColumn<QString>("settings");
        QTest::newRow("LF, 9600 8N1") << "lf"
                                      << "read_termination='\\n'"
                                      << "print(inst.query('*IDN?'))"
                                      << "KORVANE,TALLIX-SIM,SN0001,1.0"
                                      << "baud=9600 data=8 parity=none stop=1 flow=none";
        QTest::newRow("CR, 19200, 2 stop bits")
            << "cr"
            << "baud_rate=19200, stop_bits=constants.StopBits.two, read_termination='\\r'"
            << "print(inst.query('MEAS:VOLT?'))"
            << "1.250"
            << "baud=19200 data=8 parity=none stop=2 flow=none";
        QTest::newRow("CR LF, RTS/CTS")
            << "crlf"
            << "baud_rate=115200, flow_control=constants.ControlFlow.rts_cts, read_termination='\\r\\n'"
            << "inst.write('SOUR:VOLT 3.5'); print(inst.query('MEAS:VOLT?'))"
            << "3.500"
            << "baud=115200 data=8 parity=none stop=1 flow=rtscts";
        QTest::newRow("LF, a binary block read by its header")
            << "lf"
            << "read_termination='\\n'"
            << "print(len(inst.query_binary_values('CURV?', datatype='B')))"
            << "1048576"
            << "baud=9600 data=8 parity=none stop=1 flow=none";
    }

    void pyvisa()
    {
        QFETCH(QString, lineEnd);
        QFETCH(QString, openArguments);
        QFETCH(QString, calls);
        QFETCH(QString, printed);
        QFETCH(QString, settings);
        static int row = 0;
        const QString report = m_dir.filePath(QStringLiteral("settings%1.txt").arg(++row));
        QProcess sim;
        sim.start(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-serial-instrument"),
                  {QStringLiteral("--line-end"), lineEnd, QStringLiteral("--report"), report});
        QVERIFY(sim.waitForStarted(5000));
        QByteArray out;
        while (!out.contains('\n') && sim.waitForReadyRead(5000))
            out += sim.readAllStandardOutput();
        QVERIFY(out.startsWith("pty "));
        const QString port = QString::fromLocal8Bit(out.mid(4).trimmed());

        // Debian's python3, whose PyVISA and pyvisa-py the packages installed.
        const QString script = QStringLiteral("import pyvisa\n"
                                              "from pyvisa import constants\n"
                                              "rm = pyvisa.ResourceManager('@py')\n"
                                              "inst = rm.open_resource('ASRL%1::INSTR', timeout=5000, "
                                              "write_termination='\\r\\n', %2)\n"
                                              "%3\n"
                                              "inst.close()\n")
                                   .arg(port, openArguments, calls);
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script});
        QVERIFY(python.waitForFinished(60000));
        const QString errors = QString::fromLocal8Bit(python.readAllStandardError());
        if (errors.contains(QLatin1String("No module named")))
            QSKIP("needs python3-pyvisa, python3-pyvisa-py and python3-serial (scripts/install-deps)");
        QVERIFY2(python.exitCode() == 0, qPrintable(errors));
        QCOMPARE(QString::fromLocal8Bit(python.readAllStandardOutput()).trimmed(), printed);
        QFile file(report);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(QString::fromLatin1(file.readAll()).startsWith(settings), qPrintable(report));

        sim.terminate();
        if (!sim.waitForFinished(5000))
            sim.kill();
        sim.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestSerialClients)
#include "tst_serialclients.moc"
