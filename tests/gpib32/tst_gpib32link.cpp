// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/GpibLink.h"
#include "tests/gpib32/Gpib32Calls.h"
#include "tests/sim/InstrumentReplies.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

// The console's GPIB link over libgpib-32.so and each simulated GPIB library
// (linux-gpib's and NI's for Linux), with what reached the simulated bus.
// Every row works on fresh copies of both libraries, so that each row's
// gpib-32 opens its backend anew.
class TestGpib32Link : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tracePath;
    CLinkContext m_context;
    int m_rows = 0;

    // Copies gpib-32 and `backend` (when not empty) into a folder of their
    // own and points gpib-32 at that copy of the backend; returns the copy
    // of gpib-32.
    QString freshLibraries(const QString &backend)
    {
        const QString folder = m_dir.filePath(QStringLiteral("row%1").arg(++m_rows));
        if (!QDir().mkpath(folder))
            return {};
        const QString compat = folder + QStringLiteral("/libgpib-32.so");
        QFile::copy(QStringLiteral(TALLIX_GPIB32_LIBRARY), compat);
        QString chosen = folder + QStringLiteral("/absent/libgpib.so.0");
        if (!backend.isEmpty()) {
            chosen = folder + QLatin1Char('/') + QFileInfo(backend).fileName();
            QFile::copy(backend, chosen);
        }
        qputenv("TALLIX_GPIB_BACKEND", QFile::encodeName(chosen));
        return compat;
    }

    // An online link at address 14 over fresh libraries.
    bool bringOnline(CGpibLink &link)
    {
        link.SetAddress(14);
        return link.Initialize(0) == 0 && !link.IsOffline();
    }

    // One of gpib-32's variables in the copy a link has loaded.
    template <typename T> static T *variable(const QString &library, const char *name)
    {
        void *handle = dlopen(QFile::encodeName(library).constData(), RTLD_LAZY | RTLD_NOLOAD);
        if (!handle)
            return nullptr;
        void *address = dlsym(handle, name);
        dlclose(handle);
        return static_cast<T *>(address);
    }

    QStringList busTrace(const QString &kind = QString()) const
    {
        QFile file(m_tracePath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (!kind.isEmpty())
            lines = lines.filter(QRegularExpression(QLatin1Char('^') + kind + QLatin1Char(' ')));
        return lines;
    }

    // The console's display read: 4048-byte reads, each ended at LastCount(),
    // while a read fills the buffer.
    static QByteArray displayRead(CGpibLink &link, QList<unsigned> &counts)
    {
        QByteArray text;
        std::vector<char> buffer(RESPONSE_BUFFER_SIZE + 1);
        unsigned n;
        do {
            link.Read(buffer.data(), RESPONSE_BUFFER_SIZE, 0, 0x100);
            n = link.LastCount();
            counts << n;
            text.append(buffer.data(), static_cast<int>(qMin(n, unsigned(RESPONSE_BUFFER_SIZE))));
        } while (n >= unsigned(RESPONSE_BUFFER_SIZE) && counts.size() < 100);
        return text;
    }

    static void addBackendColumn() { QTest::addColumn<QString>("backend"); }

    struct Gpib32 : Gpib32Calls
    {
        QByteArray query(const QByteArray &command)
        {
            const QByteArray line = command + "\r\n";
            Send(0, 14, line.constData(), long(line.size()), 2);
            char reply[256];
            Receive(0, 14, reply, sizeof reply, 0x100);
            return (*ibsta & 0xC000) != 0 ? QByteArray() : QByteArray(reply, *ibcnt);
        }
    };

    static void addBackendRows(const std::function<void(const char *, const QString &)> &rows)
    {
        rows("linux-gpib", QStringLiteral(TALLIX_SIM_LINUXGPIB));
        rows("NI-488.2", QStringLiteral(TALLIX_SIM_NI4882));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tracePath = m_dir.filePath(QStringLiteral("bus.txt"));
        qunsetenv("TALLIX_SIM_GPIB_ADDRESS");
    }

    void init()
    {
        QFile::remove(m_tracePath);
        qputenv("TALLIX_SIM_BUS_TRACE", QFile::encodeName(m_tracePath));
    }

    void cleanup()
    {
        for (const char *name : {"TALLIX_GPIB_BACKEND", "TALLIX_SIM_BUS_BOARD", "TALLIX_SIM_GPIB_RECEIVE_ERR",
                                 "TALLIX_SIM_GPIB_POLL_ERR"})
            qunsetenv(name);
    }

    // Without a backend every call fails with ERR and EDVR, so that the
    // console reports its send as failed; one line on standard error says
    // what was tried.
    void noBackend()
    {
        // First of all, while no simulated backend is loaded: the names it
        // tries must find nothing.
        for (const char *name :
             {"libgpib.so.0", "libni4882.so.1", "libni4882.so", "libgpibapi.so.2", "libgpibapi.so"}) {
            if (void *installed = dlopen(name, RTLD_LAZY)) {
                dlclose(installed);
                QSKIP("a GPIB library is installed on this machine");
            }
        }
        const QString library = freshLibraries(QString());
        const QString missing = QString::fromLocal8Bit(qgetenv("TALLIX_GPIB_BACKEND"));
        const QString errPath = m_dir.filePath(QStringLiteral("stderr.txt"));

        std::fflush(stderr);
        const int saved = dup(2);
        const int file = open(QFile::encodeName(errPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(saved >= 0 && file >= 0);
        dup2(file, 2);
        close(file);
        int sent = -1;
        int read = -1;
        int error = -1;
        int status = 0;
        {
            CGpibLink link(m_context, library);
            const bool online = bringOnline(link);
            int *iberr = variable<int>(library, "user_iberr");
            if (online && iberr) {
                *iberr = 99;
                sent = link.WriteString("*IDN?\r\n");
                error = *iberr;
                char buffer[RESPONSE_BUFFER_SIZE + 1];
                read = link.Read(buffer, RESPONSE_BUFFER_SIZE, 1, 0x100);
                status = *variable<int>(library, "user_ibsta");
            }
        }
        std::fflush(stderr);
        dup2(saved, 2);
        close(saved);

        QCOMPARE(sent, 0);
        QCOMPARE(read, 0);
        QCOMPARE(status, 0x8000);
        QCOMPARE(error, 0);
        QFile err(errPath);
        QVERIFY(err.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromLocal8Bit(err.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        const QString line = lines.first();
        QVERIFY2(line.startsWith(
                     QStringLiteral("gpib-32: no GPIB library could be loaded; tried TALLIX_GPIB_BACKEND: ") +
                     missing + QStringLiteral(": ")),
                 qPrintable(line));
        for (const char *name : {"libgpib.so.0: ", "libni4882.so: ", "libgpibapi.so: "})
            QVERIFY2(line.contains(QLatin1String(name)), name);
        QVERIFY(busTrace().isEmpty());
    }

    // The console's Send passes NI's DABend (2); linux-gpib's 2 is NLend,
    // which would add a second LF with EOI.
    void commandGoesOutOnce_data()
    {
        addBackendColumn();
        QTest::newRow("linux-gpib") << QStringLiteral(TALLIX_SIM_LINUXGPIB);
        QTest::newRow("NI-488.2") << QStringLiteral(TALLIX_SIM_NI4882);
    }

    void commandGoesOutOnce()
    {
        QFETCH(QString, backend);
        CGpibLink link(m_context, freshLibraries(backend));
        QVERIFY(bringOnline(link));
        QCOMPARE(link.WriteString("*IDN?\r\n"), 1);
        QCOMPARE(busTrace(QStringLiteral("write")), QStringList{"write 14 7 *IDN?\\r\\n eoi=6"});
    }

    // The reply comes back whole, also when it takes chained reads.
    void replyWhole_data()
    {
        addBackendColumn();
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QList<unsigned>>("counts");
        for (const char *name : {"linux-gpib", "NI-488.2"}) {
            const QString backend = QString::fromLatin1(name) == QLatin1String("linux-gpib")
                                        ? QStringLiteral(TALLIX_SIM_LINUXGPIB)
                                        : QStringLiteral(TALLIX_SIM_NI4882);
            QTest::addRow("%s, identity", name)
                << backend << QByteArray("*IDN?\r\n") << QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n")
                << QList<unsigned>{31};
            QTest::addRow("%s, 10000 bytes", name) << backend << QByteArray("DATA? 10000\r\n")
                                                   << DataReply(10000) << QList<unsigned>{4048, 4048, 1904};
        }
    }

    void replyWhole()
    {
        QFETCH(QString, backend);
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, reply);
        QFETCH(QList<unsigned>, counts);
        CGpibLink link(m_context, freshLibraries(backend));
        QVERIFY(bringOnline(link));
        QCOMPARE(link.WriteString(query.constData()), 1);
        QList<unsigned> got;
        QCOMPARE(displayRead(link, got), reply);
        QCOMPARE(got, counts);
        // EOI came with the last byte of the reply, and only there.
        const QStringList reads = busTrace(QStringLiteral("read"));
        QCOMPARE(reads.size(), counts.size());
        QVERIFY2(reads.last().endsWith(QStringLiteral(" eoi=%1").arg(counts.last() - 1)),
                 qPrintable(reads.last()));
    }

    void serialPollByte_data() { commandGoesOutOnce_data(); }

    void serialPollByte()
    {
        QFETCH(QString, backend);
        CGpibLink link(m_context, freshLibraries(backend));
        QVERIFY(bringOnline(link));
        QCOMPARE(link.WriteString("SRQ\r\n"), 1);
        QCOMPARE(link.WriteString("*IDN?\r\n"), 1);
        short status = 0;
        link.SerialPoll(&status);
        QCOMPARE(int(status), 0x50); // RQS and MAV
    }

    // The backend's ERR and TIMO are the console's failures; its error code
    // comes along.
    void backendFailures_data()
    {
        addBackendColumn();
        QTest::addColumn<bool>("readNothing");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("error");
        for (const char *name : {"linux-gpib", "NI-488.2"}) {
            const QString backend = QString::fromLatin1(name) == QLatin1String("linux-gpib")
                                        ? QStringLiteral(TALLIX_SIM_LINUXGPIB)
                                        : QStringLiteral(TALLIX_SIM_NI4882);
            QTest::addRow("%s, no listener: ERR, ENOL", name) << backend << false << 0x8000 << 2;
            QTest::addRow("%s, nothing to read: ERR and TIMO, EABO", name) << backend << true << 0xC000 << 6;
        }
    }

    void backendFailures()
    {
        QFETCH(QString, backend);
        QFETCH(bool, readNothing);
        QFETCH(int, status);
        QFETCH(int, error);
        const QString library = freshLibraries(backend);
        CGpibLink link(m_context, library);
        QVERIFY(bringOnline(link));
        int *ibsta = variable<int>(library, "user_ibsta");
        int *iberr = variable<int>(library, "user_iberr");
        QVERIFY(ibsta && iberr);
        if (readNothing) {
            char buffer[RESPONSE_BUFFER_SIZE + 1];
            QCOMPARE(link.Read(buffer, RESPONSE_BUFFER_SIZE, 1, 0x100), 0);
        } else {
            link.SetAddress(15);
            QCOMPARE(link.WriteString("*IDN?\r\n"), 0);
        }
        QCOMPARE(*ibsta & 0xC000, status);
        QCOMPARE(*iberr, error);
    }

    // A long count beyond 16 bits: the count and the long count agree, and
    // the console's 16-bit view of it is the same as any library would give.
    void longCount_data() { commandGoesOutOnce_data(); }

    void longCount()
    {
        QFETCH(QString, backend);
        const QString library = freshLibraries(backend);
        CGpibLink link(m_context, library);
        QVERIFY(bringOnline(link));
        constexpr int LENGTH = 70000;
        QCOMPARE(link.WriteString("DATA? 70000\r\n"), 1);
        std::vector<char> buffer(LENGTH + 1);
        QCOMPARE(link.Read(buffer.data(), LENGTH, 0, 0x100), 1);
        QCOMPARE(QByteArray(buffer.data(), LENGTH), DataReply(LENGTH));
        QCOMPARE(*variable<int>(library, "user_ibcnt"), LENGTH);
        QCOMPARE(*variable<long>(library, "user_ibcntl"), long(LENGTH));
        QCOMPARE(link.LastCount(), unsigned(LENGTH) & 0xFFFFu);
    }

    // Names the backends spell otherwise (ibfindA, ibwrtfA), and ibtmo,
    // which NI's library has only as ibconfig(ud, IbcTMO, v).
    void mappedNames_data() { commandGoesOutOnce_data(); }

    void mappedNames()
    {
        QFETCH(QString, backend);
        const QString library = freshLibraries(backend);
        void *gpib32 = dlopen(QFile::encodeName(library).constData(), RTLD_NOW | RTLD_LOCAL);
        QVERIFY(gpib32);
        // Unloaded also when a check fails.
        const std::unique_ptr<void, int (*)(void *)> unload(gpib32, dlclose);
        auto ibfindA = reinterpret_cast<int (*)(const char *)>(dlsym(gpib32, "ibfindA"));
        auto ibdev = reinterpret_cast<int (*)(int, int, int, int, int, int)>(dlsym(gpib32, "ibdev"));
        auto ibtmo = reinterpret_cast<int (*)(int, int)>(dlsym(gpib32, "ibtmo"));
        auto ibask = reinterpret_cast<int (*)(int, int, int *)>(dlsym(gpib32, "ibask"));
        auto ibwrtfA = reinterpret_cast<int (*)(int, const char *)>(dlsym(gpib32, "ibwrtfA"));
        auto ibrd = reinterpret_cast<int (*)(int, void *, long)>(dlsym(gpib32, "ibrd"));
        QVERIFY(ibfindA && ibdev && ibtmo && ibask && ibwrtfA && ibrd);

        QVERIFY(ibfindA("gpib0") >= 0);
        // The time-out of board 0 by its index, as the console sets it.
        QCOMPARE(ibtmo(0, 12) & 0x8000, 0);
        int timeout = -1;
        QCOMPARE(ibask(0, 0x3, &timeout) & 0x8000, 0);
        QCOMPARE(timeout, 12);
        const int device = ibdev(0, 14, 0, 11, 1, 0);
        QVERIFY(device >= 0);

        const QString command = m_dir.filePath(QStringLiteral("idn.txt"));
        QFile file(command);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("*IDN?\r\n");
        file.close();
        QCOMPARE(ibwrtfA(device, QFile::encodeName(command).constData()) & 0x8000, 0);
        QCOMPARE(busTrace(QStringLiteral("write")), QStringList{"write 14 7 *IDN?\\r\\n eoi=6"});
        char reply[64] = {};
        QCOMPARE(ibrd(device, reply, sizeof reply - 1) & 0x8000, 0);
        QCOMPARE(QByteArray(reply), QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
    }

    // DevClear and ibclr reach the backend's device clear: the waiting reply
    // is gone, so the next read has nothing, which the instrument notes as
    // -420; what each call left is published as for every other.
    void deviceClear_data()
    {
        addBackendColumn();
        QTest::addColumn<bool>("byDescriptor");
        addBackendRows([](const char *name, const QString &backend) {
            QTest::addRow("%s, DevClear", name) << backend << false;
            QTest::addRow("%s, ibclr", name) << backend << true;
        });
    }

    void deviceClear()
    {
        QFETCH(QString, backend);
        QFETCH(bool, byDescriptor);
        Gpib32 gpib;
        QVERIFY(gpib.open(freshLibraries(backend)));
        const int ud = gpib.ibdev(0, 14, 0, 11, 1, 0);
        QVERIFY(ud >= 0);
        gpib.Send(0, 14, "*IDN?\r\n", 7, 2);
        *gpib.ibsta = 0x8000;
        if (byDescriptor)
            QCOMPARE(gpib.ibclr(ud) & 0x8000, 0);
        else
            gpib.DevClear(0, 14);
        QCOMPARE(*gpib.ibsta & 0x8000, 0);
        QCOMPARE(busTrace(QStringLiteral("clear")), QStringList{"clear 14"});
        char reply[64];
        gpib.Receive(0, 14, reply, sizeof reply, 0x100);
        QCOMPARE(*gpib.ibsta & 0xC000, 0xC000);
        QCOMPARE(gpib.query("SYST:ERR?"), QByteArray("-420,\"Query UNTERMINATED\"\r\n"));
        gpib.DevClear(0, 15);
        QCOMPARE(*gpib.ibsta & 0x8000, 0x8000);
        QCOMPARE(*gpib.iberr, 2); // ENOL
    }

    // A failure the backend reports comes through gpib-32 whole: status,
    // error, count and long count, and the buffer as the backend left it.
    void forcedFailure_data()
    {
        addBackendColumn();
        QTest::addColumn<bool>("poll");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("count");
        addBackendRows([](const char *name, const QString &backend) {
            QTest::addRow("%s, driver error on Receive", name)
                << backend << false << QByteArray("0:5") << 0x8000 << 0 << 5;
            QTest::addRow("%s, aborted serial poll", name)
                << backend << true << QByteArray("6") << 0xC000 << 6 << 0;
        });
    }

    void forcedFailure()
    {
        QFETCH(QString, backend);
        QFETCH(bool, poll);
        QFETCH(QByteArray, value);
        QFETCH(int, status);
        QFETCH(int, error);
        QFETCH(int, count);
        Gpib32 gpib;
        QVERIFY(gpib.open(freshLibraries(backend)));
        qputenv(poll ? "TALLIX_SIM_GPIB_POLL_ERR" : "TALLIX_SIM_GPIB_RECEIVE_ERR", value);
        QByteArray buffer(32, 'x');
        short result = 0x1234;
        if (poll)
            gpib.ReadStatusByte(0, 14, &result);
        else
            gpib.Receive(0, 14, buffer.data(), long(buffer.size()), 0x100);
        QCOMPARE(*gpib.ibsta & 0xC000, status);
        QCOMPARE(*gpib.iberr, error);
        QCOMPARE(*gpib.ibcnt, count);
        QCOMPARE(*gpib.ibcntl, long(count));
        QCOMPARE(result, short(0x1234));
        QCOMPARE(buffer, poll ? QByteArray(32, 'x') : QByteArray(32, '\xEE'));
    }

    // linux-gpib with its board not set up, as gpib-32 publishes it: ERR
    // alone (the call never reached a board), EDVR with the errno in the
    // count, or for a gpib.conf it cannot parse EARG on the board and ECNF
    // where a descriptor is opened; never ENEB.
    void linuxGpibBoardUnusable_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("boardError");
        QTest::addColumn<int>("openError");
        QTest::addColumn<int>("count");
        QTest::newRow("/dev/gpib0 missing") << QByteArray("missing") << 0 << 0 << 2;
        QTest::newRow("board not configured") << QByteArray("unconfigured") << 0 << 0 << 22;
        QTest::newRow("gpib.conf unusable") << QByteArray("badconf") << 4 << 17 << 0;
    }

    void linuxGpibBoardUnusable()
    {
        QFETCH(QByteArray, mode);
        QFETCH(int, boardError);
        QFETCH(int, openError);
        QFETCH(int, count);
        Gpib32 gpib;
        QVERIFY(gpib.open(freshLibraries(QStringLiteral(TALLIX_SIM_LINUXGPIB))));
        qputenv("TALLIX_SIM_BUS_BOARD", mode);
        gpib.SendIFC(0);
        QCOMPARE(*gpib.ibsta, 0x8000);
        QCOMPARE(*gpib.iberr, boardError);
        QCOMPARE(*gpib.ibcnt, count);
        QCOMPARE(gpib.ibdev(0, 14, 0, 11, 1, 0), -1);
        QCOMPARE(*gpib.ibsta, 0x8000);
        QCOMPARE(*gpib.iberr, openError);
        QVERIFY(busTrace().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGpib32Link)
#include "tst_gpib32link.moc"
