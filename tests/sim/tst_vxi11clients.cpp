// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/sim/PrivateNetwork.h"
#include "tests/sim/Vxi11ServerProcess.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

// The simulated VXI-11 instrument against clients that were written
// elsewhere, as Debian ships them: each reaches it through the portmapper on
// port 111 and must get what the instrument model answers.
class TestVxi11Clients : public QObject
{
    Q_OBJECT

private slots:
    void client_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("expected");

        // Without -r the tool speaks VXI-11.
        QTest::newRow("lxi scpi") << QStringLiteral("lxi")
                                  << QStringList{QStringLiteral("scpi"),      QStringLiteral("-a"),
                                                 QStringLiteral("127.0.0.1"), QStringLiteral("-t"),
                                                 QStringLiteral("5"),         QStringLiteral("*IDN?")}
                                  << QStringList() << 0 << QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n");
        // A portmapper that takes the call and never answers: the tool gives
        // up after its own time-out, as against a host that hangs.
        QTest::newRow("lxi scpi, portmapper never answers")
            << QStringLiteral("lxi")
            << QStringList{QStringLiteral("scpi"), QStringLiteral("-a"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("-t"),   QStringLiteral("2"),  QStringLiteral("*IDN?")}
            << QStringList{QStringLiteral("--silent-portmapper")} << 1 << QByteArray();
        // Debian's python3, for which the Debian packages of PyVISA are
        // installed: the identity, a mebibyte block read raw to its END, the
        // status byte with and without a reply waiting, and a device clear
        // that drops the reply.
        const QString script =
            QStringLiteral("import pyvisa\n"
                           "rm = pyvisa.ResourceManager('@py')\n"
                           "inst = rm.open_resource('TCPIP::127.0.0.1::INSTR', timeout=5000)\n"
                           "print(inst.query('*IDN?').strip())\n"
                           "inst.write('DATA? 1048576')\n"
                           "data = inst.read_raw()\n"
                           "print(len(data), data[:12].decode(), data[-2:] == b'\\r\\n')\n"
                           "print(inst.read_stb())\n"
                           "inst.write('*IDN?')\n"
                           "print(inst.read_stb())\n"
                           "inst.clear()\n"
                           "print(inst.read_stb())\n"
                           "inst.close()\n");
        QTest::newRow("PyVISA, pyvisa-py backend")
            << QStringLiteral("/usr/bin/python3") << QStringList{QStringLiteral("-c"), script}
            << QStringList() << 0
            << QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\n1048576 012345678901 True\n0\n16\n0\n");
    }

    void clientMeetsAHeldWrite()
    {
        // The device keeps the write past the client's time-out: PyVISA's
        // write fails with an error of its own, soon after that time-out.
        const QString script =
            QStringLiteral("import pyvisa, time\n"
                           "rm = pyvisa.ResourceManager('@py')\n"
                           "inst = rm.open_resource('TCPIP::127.0.0.1::INSTR', timeout=500)\n"
                           "start = time.monotonic()\n"
                           "try:\n"
                           "    inst.write('*IDN?')\n"
                           "    print('written')\n"
                           "except pyvisa.errors.VisaIOError:\n"
                           "    print('failed', time.monotonic() - start < 4)\n");
        CVxi11ServerProcess server;
        QVERIFY2(server.Start({QStringLiteral("--hold-write"), QStringLiteral("6000")}),
                 qPrintable(server.Errors()));
        QProcess client;
        client.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script});
        QVERIFY(client.waitForFinished(30000));
        // What pyvisa-py says of the link it closes after the failure follows.
        const QByteArray output = client.readAllStandardOutput();
        QVERIFY2(output.startsWith("failed True\n"), output.constData());
    }

    void client()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, serverArguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, expected);
        const QString found =
            QFileInfo(program).isAbsolute() ? program : QStandardPaths::findExecutable(program);
        QVERIFY2(QFileInfo(found).isExecutable(),
                 qPrintable(program + QStringLiteral(" is missing: scripts/install-deps installs it")));

        CVxi11ServerProcess server;
        QVERIFY2(server.Start(serverArguments), qPrintable(server.Errors()));
        QProcess client;
        client.start(found, arguments);
        QVERIFY2(client.waitForFinished(30000), qPrintable(program + QStringLiteral(" did not finish")));
        const QByteArray errors = client.readAllStandardError();
        QVERIFY2(client.exitStatus() == QProcess::NormalExit && client.exitCode() == exitCode,
                 errors.constData());
        QCOMPARE(client.readAllStandardOutput(), expected);
    }
};

int main(int argc, char **argv)
{
    EnterPrivateNetwork(argc, argv);
    QCoreApplication app(argc, argv);
    TestVxi11Clients test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vxi11clients.moc"
