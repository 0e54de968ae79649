// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/sim/ScpiServerProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The server's SCPI mode against instrument clients that were written
// elsewhere, as Debian ships them (scripts/install-deps installs them): each
// must read the identity that it asks for, and leave no error behind, and
// the binary replies byte for byte.
class TestScpiClients : public QObject
{
    Q_OBJECT

private:
    // Runs the row's client against a server of its own and compares what it
    // printed.
    void runClient()
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

    void clientReadsIdentity() { runClient(); }

    // Binary replies as clients written elsewhere read them: byte for byte
    // what the server's --dump gives, however the client frames them.
    // PyVISA's read_raw ends each read at an LF, payload or not;
    // query_binary_values reads the block header and then exactly the
    // declared length (and the LF after it). lxi scpi takes what arrives
    // before its first wait runs dry, so it gets only replies that come in
    // one piece: its row for TEST:LATE? shows that the LF is held back.
    void clientReadsBinaryReply_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("expected");

        // A PyVISA session on the server, `options` added to open_resource.
        const auto pyvisa = [](const char *options, const QString &body) {
            return QStringList{QStringLiteral("-c"),
                               QStringLiteral("import sys, pyvisa\n"
                                              "rm = pyvisa.ResourceManager('@py')\n"
                                              "inst = rm.open_resource('TCPIP::127.0.0.1::%PORT%::SOCKET', "
                                              "timeout=4000, write_termination='\\n'%1)\n"
                                              "%2\n"
                                              "inst.close()\n")
                                   .arg(QLatin1String(options), body)};
        };
        // read_raw stops at each LF, so a block takes as many reads as its
        // header says it needs.
        const auto raw = [&pyvisa](const char *query) {
            return pyvisa(", read_termination='\\n'",
                          QStringLiteral("inst.write('%1')\n"
                                         "data = inst.read_raw()\n"
                                         "if data[:2] != b'#0':\n"
                                         "    digits = int(data[1:2])\n"
                                         "    total = 2 + digits + int(data[2:2 + digits]) + 1\n"
                                         "    while len(data) < total:\n"
                                         "        data += inst.read_raw()\n"
                                         "sys.stdout.buffer.write(data)")
                              .arg(QLatin1String(query)));
        };
        const auto values = [&pyvisa](const char *query) {
            return pyvisa(
                ", read_termination='\\n'",
                QStringLiteral("sys.stdout.buffer.write(inst.query_binary_values('%1', datatype='B', "
                               "container=bytes))")
                    .arg(QLatin1String(query)));
        };
        const auto payload = [](const QByteArray &block) {
            const int digits = block.at(1) - '0';
            return block.mid(2 + digits, block.mid(2, digits).toInt());
        };
        const auto lxi = [](const char *query) {
            return QStringList{QStringLiteral("scpi"), QStringLiteral("-a"),     QStringLiteral("127.0.0.1"),
                               QStringLiteral("-p"),   QStringLiteral("%PORT%"), QStringLiteral("-r"),
                               QStringLiteral("-t"),   QStringLiteral("5"),      QString::fromLatin1(query)};
        };
        const QString python = QStringLiteral("/usr/bin/python3");
        const QByteArray curve = CScpiServerProcess::Dump(QStringLiteral("CURV?"));
        const QByteArray screen = CScpiServerProcess::Dump(QStringLiteral(":DISP:DATA?"));
        const QByteArray indefinite = CScpiServerProcess::Dump(QStringLiteral("WAV:INDEF?"));

        QTest::newRow("PyVISA read_raw, CURV?") << python << raw("CURV?") << curve;
        QTest::newRow("PyVISA read_raw, :DISP:DATA?") << python << raw(":DISP:DATA?") << screen;
        QTest::newRow("PyVISA read_raw, WAV:INDEF?") << python << raw("WAV:INDEF?") << indefinite;
        QTest::newRow("PyVISA query_binary_values, CURV?") << python << values("CURV?") << payload(curve);
        QTest::newRow("PyVISA query_binary_values, :DISP:DATA?")
            << python << values(":DISP:DATA?") << payload(screen);
        QTest::newRow("PyVISA query, TEST:LATE? waits for the LF")
            << python
            << pyvisa(", read_termination='\\n'", QStringLiteral("print(inst.query('TEST:LATE? 500'))"))
            << QByteArray("LATE\n");
        QTest::newRow("lxi scpi, WAV:DATA? 1000")
            << QStringLiteral("lxi") << lxi("WAV:DATA? 1000")
            << CScpiServerProcess::Dump(QStringLiteral("WAV:DATA? 1000"));
        QTest::newRow("lxi scpi, WAV:INDEF?") << QStringLiteral("lxi") << lxi("WAV:INDEF?") << indefinite;
        QTest::newRow("lxi scpi, TEST:LATE? gets LATE alone")
            << QStringLiteral("lxi") << lxi("TEST:LATE? 1500") << QByteArray("LATE");
    }

    void clientReadsBinaryReply() { runClient(); }

    // The screen opens as the picture it claims to be, in a reader of
    // pictures written elsewhere: ImageMagick checks every chunk's CRC and
    // the image data's Adler-32, and fails on any.
    void screenIsAPng()
    {
        const QByteArray block = CScpiServerProcess::Dump(QStringLiteral(":DISP:DATA?"));
        QVERIFY(block.startsWith("#6"));
        QTemporaryDir dir;
        QFile png(dir.filePath(QStringLiteral("screen.png")));
        QVERIFY(png.open(QIODevice::WriteOnly));
        png.write(block.mid(8, block.mid(2, 6).toInt()));
        png.close();
        const QString identify = QStandardPaths::findExecutable(QStringLiteral("identify"));
        QVERIFY2(!identify.isEmpty(), "identify (ImageMagick) is missing: scripts/install-deps installs it");
        QProcess reader;
        reader.start(identify, {QStringLiteral("-regard-warnings"), QStringLiteral("-format"),
                                QStringLiteral("%m %w %h"), png.fileName()});
        QVERIFY(reader.waitForFinished(30000));
        QCOMPARE(reader.exitCode(), 0);
        QCOMPARE(reader.readAllStandardOutput(), QByteArray("PNG 480 272"));
    }
};

QTEST_GUILESS_MAIN(TestScpiClients)
#include "tst_scpiclients.moc"
