// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/sim/ScpiServerProcess.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

// The server's SCPI mode against instrument clients that were written
// elsewhere, as Debian ships them (scripts/install-deps installs them): each
// must read the identity that it asks for, and leave no error behind.
class TestScpiClients : public QObject
{
    Q_OBJECT

private slots:
    void clientReadsIdentity_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray identity("KORVANE,TALLIX-SIM,SN0001,1.0\n");

        // -r: the raw socket; without it the tool speaks VXI-11.
        QTest::newRow("lxi scpi") << QStringLiteral("lxi")
                                  << QStringList{QStringLiteral("scpi"),      QStringLiteral("-a"),
                                                 QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                                 QStringLiteral("%PORT%"),    QStringLiteral("-r"),
                                                 QStringLiteral("-t"),        QStringLiteral("5"),
                                                 QStringLiteral("*IDN?")}
                                  << identity;
        // Debian's python3, not whichever python comes first on the path: the
        // Debian packages of PyVISA are installed for it alone. PyVISA ends
        // what it writes with CR LF unless told otherwise.
        const QString script = QStringLiteral(
            "import pyvisa\n"
            "rm = pyvisa.ResourceManager('@py')\n"
            "inst = rm.open_resource('TCPIP::127.0.0.1::%PORT%::SOCKET', read_termination='\\n', "
            "timeout=5000)\n"
            "print(inst.query('*IDN?'))\n"
            "print(inst.query('SYST:ERR?'))\n"
            "inst.close()\n");
        QTest::newRow("PyVISA, pyvisa-py backend")
            << QStringLiteral("/usr/bin/python3") << QStringList{QStringLiteral("-c"), script}
            << identity + "0,\"No error\"\n";
    }

    void clientReadsIdentity()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, expected);
        const QString found =
            QFileInfo(program).isAbsolute() ? program : QStandardPaths::findExecutable(program);
        QVERIFY2(QFileInfo(found).isExecutable(),
                 qPrintable(program + QStringLiteral(" is missing: scripts/install-deps installs it")));

        CScpiServerProcess server;
        const int port = server.Start();
        QVERIFY2(port > 0, qPrintable(server.Errors()));
        for (QString &argument : arguments)
            argument.replace(QStringLiteral("%PORT%"), QString::number(port));

        QProcess client;
        client.start(found, arguments);
        QVERIFY2(client.waitForFinished(30000), qPrintable(program + QStringLiteral(" did not finish")));
        const QByteArray errors = client.readAllStandardError();
        QVERIFY2(client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0, errors.constData());
        QCOMPARE(client.readAllStandardOutput(), expected);
    }
};

QTEST_GUILESS_MAIN(TestScpiClients)
#include "tst_scpiclients.moc"
