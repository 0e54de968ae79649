// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/sim/ScpiServerProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>
#include <vector>

// The simulated libgpib-32.so as a program calls it: binary replies read
// whole with END on the last byte only, the instrument's -420 for a read
// with nothing to say, device clear, and the failures a test can force on
// it. Each row opens a copy of its own, so each row meets a fresh
// instrument.
class TestGpibSim : public QObject
{
    Q_OBJECT

private:
    static constexpr int ERR = 0x8000;
    static constexpr int TIMO = 0x4000;
    static constexpr int END = 0x2000;
    static constexpr int STOP_END = 0x100;
    static constexpr int NULL_END = 0;
    static constexpr int DAB_END = 2;
    static constexpr unsigned short NOADDR = 0xFFFF;
    static constexpr long BUFFER = 4048;

    struct Library
    {
        void *handle = nullptr;
        void (*Send)(int, unsigned short, const void *, long, int) = nullptr;
        void (*Receive)(int, unsigned short, void *, long, int) = nullptr;
        void (*ReadStatusByte)(int, unsigned short, short *) = nullptr;
        void (*DevClear)(int, unsigned short) = nullptr;
        int (*ibdev)(int, int, int, int, int, int) = nullptr;
        int (*ibrd)(int, void *, long) = nullptr;
        int (*ibrsp)(int, char *) = nullptr;
        int (*ibclr)(int) = nullptr;
        int *ibsta = nullptr;
        int *iberr = nullptr;
        int *ibcnt = nullptr;
        long *ibcntl = nullptr;

        ~Library()
        {
            if (handle)
                dlclose(handle);
        }

        template <typename T> void find(T &target, const char *name)
        {
            target = reinterpret_cast<T>(dlsym(handle, name));
        }

        bool open(const QString &path)
        {
            handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
            if (!handle)
                return false;
            find(Send, "Send");
            find(Receive, "Receive");
            find(ReadStatusByte, "ReadStatusByte");
            find(DevClear, "DevClear");
            find(ibdev, "ibdev");
            find(ibrd, "ibrd");
            find(ibrsp, "ibrsp");
            find(ibclr, "ibclr");
            find(ibsta, "user_ibsta");
            find(iberr, "user_iberr");
            find(ibcnt, "user_ibcnt");
            find(ibcntl, "user_ibcntl");
            return Send && Receive && ReadStatusByte && DevClear && ibdev && ibrd && ibrsp && ibclr &&
                   ibsta && iberr && ibcnt && ibcntl;
        }

        void send(const QByteArray &bytes, int end = DAB_END)
        {
            Send(0, 14, bytes.constData(), long(bytes.size()), end);
        }

        // A reply read as the console reads one: 4048 bytes at a time to
        // END. `ends` tells which reads came with END.
        QByteArray reply(QList<bool> &ends)
        {
            QByteArray bytes;
            std::vector<char> buffer(BUFFER);
            for (int reads = 0; reads < 100000; ++reads) {
                Receive(0, 14, buffer.data(), BUFFER, STOP_END);
                if (*ibsta & (ERR | TIMO))
                    break;
                bytes.append(buffer.data(), *ibcnt);
                ends << ((*ibsta & END) != 0);
                if (*ibsta & END)
                    break;
            }
            return bytes;
        }

        QByteArray query(const QByteArray &command)
        {
            send(command + "\r\n");
            QList<bool> ends;
            return reply(ends);
        }
    };

    QTemporaryDir m_dir;
    int m_rows = 0;
    QString m_tracePath;

    // A copy of the library of its own, so that its instrument starts afresh.
    bool openFresh(Library &library)
    {
        const QString copy = m_dir.filePath(QStringLiteral("row%1/libgpib-32.so").arg(++m_rows));
        QDir().mkpath(QFileInfo(copy).absolutePath());
        return QFile::copy(QStringLiteral(TALLIX_SIM_LIBDIR "/libgpib-32.so"), copy) && library.open(copy);
    }

    QStringList trace() const
    {
        QFile file(m_tracePath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tracePath = m_dir.filePath(QStringLiteral("trace.txt"));
        qputenv("TALLIX_SIM_GPIB_TRACE", QFile::encodeName(m_tracePath));
        for (const char *name : {"TALLIX_SIM_GPIB_ADDRESS", "TALLIX_SIM_GPIB_STATUS", "TALLIX_SIM_GPIB_COUNT",
                                 "TALLIX_SIM_GPIB_RECEIVE_ERR", "TALLIX_SIM_GPIB_POLL_ERR"})
            qunsetenv(name);
    }

    void init() { QFile::remove(m_tracePath); }

    void cleanup()
    {
        qunsetenv("TALLIX_SIM_GPIB_RECEIVE_ERR");
        qunsetenv("TALLIX_SIM_GPIB_POLL_ERR");
    }

    // Each reply is the bytes the model gives (the server's --dump, in its
    // mode for port 700, whose text replies end in CR LF as here), read to
    // END, which comes with the last byte and with no other read.
    void replyReadWhole_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::newRow("CURV?") << QByteArray("CURV?");
        QTest::newRow(":DISP:DATA?") << QByteArray(":DISP:DATA?");
        QTest::newRow("WAV:DATA? 100000") << QByteArray("WAV:DATA? 100000");
        QTest::newRow("WAV:INDEF?") << QByteArray("WAV:INDEF?");
        QTest::newRow("DATA? 10000") << QByteArray("DATA? 10000");
    }

    void replyReadWhole()
    {
        QFETCH(QByteArray, query);
        const QByteArray expected = CScpiServerProcess::Dump(QString::fromLatin1(query), false);
        QVERIFY(!expected.isEmpty());
        Library gpib;
        QVERIFY(openFresh(gpib));
        gpib.send(query + "\r\n");
        QList<bool> ends;
        const QByteArray got = gpib.reply(ends);
        QCOMPARE(got.size(), expected.size());
        QVERIFY(got == expected);
        QCOMPARE(ends.count(true), 1);
        QVERIFY(ends.last());
        QCOMPARE(ends.size(), int((expected.size() + BUFFER - 1) / BUFFER));
    }

    // Addressed to talk with nothing to say, the instrument times the read
    // out and queues -420, which SYST:ERR? then reads once.
    void nothingToSay_data()
    {
        QTest::addColumn<bool>("deviceLevel");
        QTest::newRow("Receive") << false;
        QTest::newRow("ibrd") << true;
    }

    void nothingToSay()
    {
        QFETCH(bool, deviceLevel);
        Library gpib;
        QVERIFY(openFresh(gpib));
        char buffer[64];
        if (deviceLevel)
            gpib.ibrd(gpib.ibdev(0, 14, 0, 11, 1, 0), buffer, sizeof buffer);
        else
            gpib.Receive(0, 14, buffer, sizeof buffer, STOP_END);
        QCOMPARE(*gpib.ibsta & (ERR | TIMO), ERR | TIMO);
        QCOMPARE(*gpib.iberr, 6);
        QCOMPARE(gpib.query("SYST:ERR?"), QByteArray("-420,\"Query UNTERMINATED\"\r\n"));
        QCOMPARE(gpib.query("SYST:ERR?"), QByteArray("0,\"No error\"\r\n"));
    }

    // A device clear drops the waiting reply and a command half received,
    // keeps the settings (it is no *RST), and is traced as called.
    void deviceClear_data()
    {
        QTest::addColumn<int>("how"); // 0: DevClear at 14, 1: DevClear NOADDR, 2: ibclr
        QTest::addColumn<QString>("traced");
        QTest::newRow("DevClear") << 0 << QStringLiteral("DevClear 0 14");
        QTest::newRow("DevClear of every device") << 1 << QStringLiteral("DevClear 0 65535");
        QTest::newRow("ibclr") << 2 << QStringLiteral("ibclr %1");
    }

    void deviceClear()
    {
        QFETCH(int, how);
        QFETCH(QString, traced);
        Library gpib;
        QVERIFY(openFresh(gpib));
        const int ud = gpib.ibdev(0, 14, 0, 11, 1, 0);
        QVERIFY(ud > 0);
        const auto clear = [&] {
            if (how == 2)
                gpib.ibclr(ud);
            else
                gpib.DevClear(0, how == 1 ? NOADDR : 14);
        };
        gpib.send("SOUR:VOLT 2.5\r\n*IDN?\r\n*ID", NULL_END);
        QFile::remove(m_tracePath);
        clear();
        QCOMPARE(*gpib.ibsta & ERR, 0);
        QCOMPARE(trace(), QStringList{traced.arg(ud)});
        // Without the clear, "*ID" and "N?" would make *IDN?.
        gpib.send("N?\r\n");
        char buffer[64];
        gpib.Receive(0, 14, buffer, sizeof buffer, STOP_END);
        QCOMPARE(*gpib.ibsta & (ERR | TIMO), ERR | TIMO);
        QCOMPARE(gpib.query("MEAS:VOLT?"), QByteArray("2.500\r\n"));
    }

    void deviceClearWithNoListener()
    {
        Library gpib;
        QVERIFY(openFresh(gpib));
        gpib.DevClear(0, 15);
        QCOMPARE(*gpib.ibsta & ERR, ERR);
        QCOMPARE(*gpib.iberr, 2); // ENOL
    }

    // What the environment forces: the error and count it names, TIMO with
    // EABO alone, the caller's buffer spoilt by a read and a poll's result
    // untouched; the instrument keeps its reply for the next read.
    void forcedFailure_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("count");
        QTest::newRow("driver error on Receive")
            << QByteArray("TALLIX_SIM_GPIB_RECEIVE_ERR") << QByteArray("0:5") << "Receive" << ERR << 0 << 5;
        QTest::newRow("aborted ibrd") << QByteArray("TALLIX_SIM_GPIB_RECEIVE_ERR") << QByteArray("6")
                                      << "ibrd" << (ERR | TIMO) << 6 << 0;
        QTest::newRow("aborted ReadStatusByte") << QByteArray("TALLIX_SIM_GPIB_POLL_ERR") << QByteArray("6")
                                                << "ReadStatusByte" << (ERR | TIMO) << 6 << 0;
        QTest::newRow("no listener on ibrsp")
            << QByteArray("TALLIX_SIM_GPIB_POLL_ERR") << QByteArray("2") << "ibrsp" << ERR << 2 << 0;
    }

    void forcedFailure()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        QFETCH(QString, call);
        QFETCH(int, status);
        QFETCH(int, error);
        QFETCH(int, count);
        Library gpib;
        QVERIFY(openFresh(gpib));
        const int ud = gpib.ibdev(0, 14, 0, 11, 1, 0);
        gpib.send("*IDN?\r\n");
        qputenv(variable.constData(), value);
        QByteArray buffer(64, 'x');
        short result = 0x1234;
        char byte = 'x';
        if (call == QLatin1String("Receive"))
            gpib.Receive(0, 14, buffer.data(), long(buffer.size()), STOP_END);
        else if (call == QLatin1String("ibrd"))
            gpib.ibrd(ud, buffer.data(), long(buffer.size()));
        else if (call == QLatin1String("ReadStatusByte"))
            gpib.ReadStatusByte(0, 14, &result);
        else
            gpib.ibrsp(ud, &byte);
        QCOMPARE(*gpib.ibsta & (ERR | TIMO), status);
        QCOMPARE(*gpib.iberr, error);
        QCOMPARE(*gpib.ibcnt, count);
        QCOMPARE(*gpib.ibcntl, long(count));
        if (variable.endsWith("RECEIVE_ERR")) {
            QCOMPARE(buffer, QByteArray(64, '\xEE'));
        } else {
            QCOMPARE(result, short(0x1234));
            QCOMPARE(byte, 'x');
        }
        qunsetenv(variable.constData());
        QList<bool> ends;
        QCOMPARE(gpib.reply(ends), QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestGpibSim)
#include "tst_gpibsim.moc"
