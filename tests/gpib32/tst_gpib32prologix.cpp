// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/UiHooks.h"
#include "links/GpibLink.h"
#include "sessions/gpib/GpibSession.h"
#include "sessions/ResourceParser.h"
#include "tests/gpib32/Gpib32Calls.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Ends the test program when what it guards hangs, rather than after the
// suite's time-out.
class CWatchdog
{
public:
    explicit CWatchdog(std::chrono::seconds limit)
        : m_thread([this, limit]() {
              std::unique_lock lock(m_lock);
              if (!m_ended.wait_for(lock, limit, [this]() { return m_done; }))
                  qFatal("hung for %d s", int(limit.count()));
          })
    {
    }
    ~CWatchdog()
    {
        {
            std::lock_guard lock(m_lock);
            m_done = true;
        }
        m_ended.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_ended;
    bool m_done = false;
    std::thread m_thread;
};

} // namespace

// libgpib-32.so over a Prologix adapter, the simulated one
// (tallix-prologix-adapter) reached through its serial side and through TCP:
// the exact "++" lines each call sends, as the adapter's trace records them,
// and what gpib-32 then publishes. Every row loads a fresh copy of gpib-32,
// so that it reaches the adapter anew.
class TestGpib32Prologix : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_trace;
    QProcess m_adapter;
    QString m_pty;
    QString m_tcp;
    int m_rows = 0;

    // What gpib-32 sends when it first reaches the adapter.
    static QStringList openLines(int timeoutMs = 3000)
    {
        return {"++savecfg 0",  "++mode 1",
                "++auto 0",     "++eoi 1",
                "++eos 3",      "++eot_enable 1",
                "++eot_char 4", QStringLiteral("++read_tmo_ms %1").arg(timeoutMs),
                "++ver"};
    }

    QStringList trace(const QString &kind) const
    {
        QFile file(m_trace);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines;
        for (const QString &line : QString::fromLatin1(file.readAll()).split(u'\n', Qt::SkipEmptyParts))
            if (line.startsWith(kind + u' '))
                lines << line.mid(kind.size() + 1);
        return lines;
    }

    QString backendFor(const QString &transport) const
    {
        return transport == QLatin1String("serial") ? QStringLiteral("prologix:serial:") + m_pty
                                                    : QStringLiteral("prologix:tcp:") + m_tcp;
    }

    // A copy of gpib-32 of the row's own, pointed at `backend`.
    QString freshLibrary(const QString &backend)
    {
        const QString folder = m_dir.filePath(QStringLiteral("row%1").arg(++m_rows));
        QDir().mkpath(folder);
        const QString copy = folder + QStringLiteral("/libgpib-32.so");
        QFile::copy(QStringLiteral(TALLIX_GPIB32_LIBRARY), copy);
        qputenv("TALLIX_GPIB_BACKEND", backend.toLocal8Bit());
        return copy;
    }

    struct Gpib32 : Gpib32Calls
    {
        void send(const QByteArray &data) { Send(0, 14, data.constData(), long(data.size()), 2); }

        QByteArray receive(long size = 4096)
        {
            QByteArray buffer(int(size), '\0');
            Receive(0, 14, buffer.data(), size, 0x100);
            return buffer.left(*ibcnt);
        }
    };

    static void addTransportRows(const char *what = "")
    {
        QTest::addColumn<QString>("transport");
        QTest::addRow("serial%s", what) << QStringLiteral("serial");
        QTest::addRow("tcp%s", what) << QStringLiteral("tcp");
    }

    bool openRow(Gpib32 &gpib, const QString &transport)
    {
        QFile::remove(m_trace);
        return gpib.open(freshLibrary(backendFor(transport)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_trace = m_dir.filePath(QStringLiteral("adapter.txt"));
        qunsetenv("TALLIX_SIM_GPIB_ADDRESS");
        m_adapter.start(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-prologix-adapter"),
                        {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--trace"), m_trace});
        QVERIFY(m_adapter.waitForStarted(5000));
        QByteArray out;
        while (!out.contains("ready\n") && m_adapter.waitForReadyRead(5000))
            out += m_adapter.readAllStandardOutput();
        for (const QByteArray &line : out.split('\n')) {
            if (line.startsWith("pty "))
                m_pty = QString::fromLocal8Bit(line.mid(4));
            if (line.startsWith("tcp 127.0.0.1:"))
                m_tcp = QString::fromLocal8Bit(line.mid(4));
        }
        QVERIFY2(!m_pty.isEmpty() && !m_tcp.isEmpty(), out.constData());
    }

    void cleanupTestCase()
    {
        m_adapter.terminate();
        if (!m_adapter.waitForFinished(5000))
            m_adapter.kill();
        m_adapter.waitForFinished(5000);
        qunsetenv("TALLIX_GPIB_BACKEND");
    }

    // A query as the console makes it: the command escaped, EOI with its last
    // byte; the reply read to the adapter's mark of EOI, with END.
    void query_data() { addTransportRows(); }
    void query()
    {
        QFETCH(QString, transport);
        Gpib32 gpib;
        QVERIFY(openRow(gpib, transport));
        gpib.send("*IDN?\r\n");
        QCOMPARE(*gpib.ibsta & 0xC000, 0);
        QCOMPARE(gpib.receive(), QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
        QCOMPARE(*gpib.ibsta & 0xE000, 0x2000);
        QCOMPARE(*gpib.ibcntl, 31L);
        const QStringList sent{"++addr 14", "*IDN?\\x1B\\r\\x1B\\n", "++addr 14", "++read eoi"};
        QCOMPARE(trace(QStringLiteral("host")), openLines() + sent);
        QCOMPARE(trace(QStringLiteral("bus")), (QStringList{"write 14 *IDN?\\r\\n eoi", "read 14 31 eoi"}));
    }

    // The console reads 4048 bytes at a time: one "++read eoi" for the whole
    // reply, END only with its last byte.
    void chunkedRead_data() { addTransportRows(); }
    void chunkedRead()
    {
        QFETCH(QString, transport);
        Gpib32 gpib;
        QVERIFY(openRow(gpib, transport));
        gpib.send("DATA? 10000\r\n");
        QByteArray all;
        QList<int> counts;
        QList<bool> ends;
        do {
            all += gpib.receive(4048);
            counts << *gpib.ibcnt;
            ends << ((*gpib.ibsta & 0x2000) != 0);
        } while (*gpib.ibcnt == 4048 && counts.size() < 10);
        QCOMPARE(counts, (QList<int>{4048, 4048, 1904}));
        QCOMPARE(ends, (QList<bool>{false, false, true}));
        QCOMPARE(all.size(), 10000);
        QVERIFY(all.endsWith("\r\n"));
        QCOMPARE(trace(QStringLiteral("host")).count(QStringLiteral("++read eoi")), 1);
    }

    // The byte the adapter adds after EOI (EOT) inside a definite block's
    // payload, each followed by a pause of the instrument, is data: the
    // block is read whole, its end at the mark after its LF, also when the
    // caller takes it a few bytes a call.
    void eotInsideBlock_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<int>("piece");
        for (const QString &transport : {QStringLiteral("serial"), QStringLiteral("tcp")})
            for (const int piece : {4096, 1, 3})
                QTest::addRow("%s, %d bytes a call", qPrintable(transport), piece) << transport << piece;
    }
    void eotInsideBlock()
    {
        QFETCH(QString, transport);
        QFETCH(int, piece);
        Gpib32 gpib;
        QVERIFY(openRow(gpib, transport));
        gpib.send("TEST:EOTBLOCK?\r\n");
        QByteArray all;
        int calls = 0;
        do {
            all += gpib.receive(piece);
        } while ((*gpib.ibsta & 0xE000) == 0 && ++calls < 20);
        QCOMPARE(all, QByteArray("#16AB\x04"
                                 "CD\x04\n"));
        QCOMPARE(*gpib.ibsta & 0xE000, 0x2000);
    }

    // Data bytes that the adapter would take as its own: CR, LF, ESC and '+'
    // each go out behind an ESC, and reach the device as they were.
    void escaping_data() { addTransportRows(); }
    void escaping()
    {
        QFETCH(QString, transport);
        Gpib32 gpib;
        QVERIFY(openRow(gpib, transport));
        const QByteArray data("++ECHO\x1B+\r\x01\xFF\n", 12);
        gpib.Send(0, 14, data.constData(), long(data.size()), 0);
        QCOMPARE(*gpib.ibsta & 0xC000, 0);
        QCOMPARE(*gpib.ibcntl, 12L);
        // A serial poll's answer means the adapter has taken the data.
        short status = 0;
        gpib.ReadStatusByte(0, 14, &status);
        const QStringList host = trace(QStringLiteral("host")).mid(openLines().size());
        QCOMPARE(host,
                 (QStringList{"++addr 14", "++eoi 0",
                              "\\x1B+\\x1B+ECHO\\x1B\\x1B\\x1B+\\x1B\\r\\x01\\xFF\\x1B\\n", "++spoll 14"}));
        QCOMPARE(trace(QStringLiteral("bus")).first(),
                 QStringLiteral("write 14 ++ECHO\\x1B+\\r\\x01\\xFF\\n"));
    }

    // Serial poll, device clear and interface clear, each as its command.
    void busCommands_data() { addTransportRows(); }
    void busCommands()
    {
        QFETCH(QString, transport);
        Gpib32 gpib;
        QVERIFY(openRow(gpib, transport));
        gpib.SendIFC(0);
        gpib.send("SRQ\r\n");
        gpib.send("*IDN?\r\n");
        short status = 0;
        gpib.ReadStatusByte(0, 14, &status);
        QCOMPARE(*gpib.ibsta & 0xC000, 0);
        QCOMPARE(int(status), 0x50);
        gpib.DevClear(0, 14);
        QCOMPARE(*gpib.ibsta & 0xC000, 0);
        // The clear dropped the reply.
        gpib.ibtmo(0, 10);
        gpib.receive();
        QCOMPARE(*gpib.ibsta & 0xC000, 0xC000);
        QCOMPARE(trace(QStringLiteral("host")).mid(openLines().size()),
                 (QStringList{"++ifc", "++addr 14", "SRQ\\x1B\\r\\x1B\\n", "++addr 14",
                              "*IDN?\\x1B\\r\\x1B\\n", "++spoll 14", "++addr 14", "++clr",
                              "++read_tmo_ms 300", "++addr 14", "++read eoi"}));
        QVERIFY(trace(QStringLiteral("bus")).contains(QStringLiteral("clear 14")));
    }

    // Nothing to read, or a device that stops in the middle: ERR and TIMO,
    // EABO, the bytes that came counted; the adapter told the time-out.
    void timeOuts_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("came");
        for (const char *transport : {"serial", "tcp"}) {
            QTest::addRow("%s, nothing to read", transport)
                << QString::fromLatin1(transport) << QByteArray() << 0;
            QTest::addRow("%s, stops after 100 bytes", transport)
                << QString::fromLatin1(transport) << QByteArray("TEST:STALL? 100\r\n") << 100;
        }
    }
    void timeOuts()
    {
        QFETCH(QString, transport);
        QFETCH(QByteArray, command);
        QFETCH(int, came);
        Gpib32 gpib;
        QVERIFY(openRow(gpib, transport));
        QCOMPARE(gpib.ibtmo(0, 10) & 0x8000, 0); // T300ms
        if (!command.isEmpty())
            gpib.send(command);
        const QByteArray got = gpib.receive();
        QCOMPARE(*gpib.ibsta & 0xE000, 0xC000);
        QCOMPARE(*gpib.iberr, 6);
        QCOMPARE(*gpib.ibcnt, came);
        QCOMPARE(got, QByteArray(came, '5'));
        QVERIFY(trace(QStringLiteral("host")).contains(QStringLiteral("++read_tmo_ms 300")));
        // The next query is answered whole.
        gpib.send("MEAS:VOLT?\r\n");
        QCOMPARE(gpib.receive(), QByteArray("1.250\r\n"));
    }

    // The traditional calls through a descriptor reach the same commands.
    void descriptors_data() { addTransportRows(); }
    void descriptors()
    {
        QFETCH(QString, transport);
        Gpib32 gpib;
        QVERIFY(openRow(gpib, transport));
        const int ud = gpib.ibdev(0, 14, 0, 11, 1, 0);
        QVERIFY(ud >= 0);
        QCOMPARE(gpib.ibwrt(ud, "SRQ\n", 4) & 0x8000, 0);
        char status = 0;
        QCOMPARE(gpib.ibrsp(ud, &status) & 0x8000, 0);
        QCOMPARE(int(status), 0x40);
        QCOMPARE(gpib.ibwrt(ud, "MEAS:CURR?\n", 11) & 0x8000, 0);
        char reply[64] = {};
        QCOMPARE(gpib.ibrd(ud, reply, sizeof reply - 1) & 0xA000, 0x2000);
        QCOMPARE(QByteArray(reply), QByteArray("0.010\r\n"));
        QCOMPARE(gpib.ibclr(ud) & 0x8000, 0);
        QCOMPARE(gpib.ibrsp(ud, &status) & 0x8000, 0);
        QVERIFY(trace(QStringLiteral("host")).contains(QStringLiteral("++read_tmo_ms 1000")));
        QCOMPARE(trace(QStringLiteral("host")).count(QStringLiteral("++clr")), 1);
    }

    // Waiting for a device's service request takes its status byte with a
    // serial poll: the next ibrsp gets that byte, RQS and all, as a program
    // that waits and then asks why expects.
    void waitForService_data() { addTransportRows(); }
    void waitForService()
    {
        QFETCH(QString, transport);
        Gpib32 gpib;
        QVERIFY(openRow(gpib, transport));
        const int ud = gpib.ibdev(0, 14, 0, 11, 1, 0);
        QVERIFY(ud >= 0);
        QCOMPARE(gpib.ibwrt(ud, "SRQ\n", 4) & 0x8000, 0);
        QCOMPARE(gpib.ibwait(ud, 0x4800) & 0xC800, 0x0800);
        char status = 0;
        QCOMPARE(gpib.ibrsp(ud, &status) & 0x8000, 0);
        QCOMPARE(int(status), 0x40);
        // That byte is given once; the device's own comes after it.
        QCOMPARE(gpib.ibrsp(ud, &status) & 0x8000, 0);
        QCOMPARE(int(status), 0);
    }

    // What the adapter cannot say, or a call it cannot take, is refused
    // before the adapter is reached: nothing goes out, and the status is the
    // one each call has always ended with (the listener search, which only
    // a library has, without CIC, as a library without one refuses it).
    void refusedBeforeTheAdapter_data()
    {
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("error");
        QTest::newRow("listener search") << QByteArray("FindLstn") << 0x8000 << 11;
        QTest::newRow("clear of every device") << QByteArray("DevClear NOADDR") << 0x8020 << 11;
        QTest::newRow("parallel poll configure") << QByteArray("SendCmds PPC") << 0x8020 << 11;
        QTest::newRow("send on board 1") << QByteArray("Send board 1") << 0x8020 << 7;
        QTest::newRow("send to address 31") << QByteArray("Send 31") << 0x8020 << 4;
        QTest::newRow("unknown ibconfig option") << QByteArray("ibconfig") << 0x8020 << 11;
        QTest::newRow("ibwrt on the board") << QByteArray("ibwrt board") << 0x8020 << 11;
        QTest::newRow("ibrd of a descriptor not in use") << QByteArray("ibrd unused") << 0x8020 << 0;
    }
    void refusedBeforeTheAdapter()
    {
        QFETCH(QByteArray, call);
        QFETCH(int, status);
        QFETCH(int, error);
        Gpib32 gpib;
        QVERIFY(openRow(gpib, QStringLiteral("tcp")));
        QVERIFY(gpib.FindLstn && gpib.SendCmds && gpib.ibconfig);
        // Left over from no call: each refusal must set every one.
        *gpib.ibsta = *gpib.iberr = *gpib.ibcnt = -1;
        *gpib.ibcntl = -1;
        const unsigned short pads[] = {14, 0xFFFF};
        unsigned short found[2] = {};
        char data[4] = {};
        if (call == "FindLstn")
            gpib.FindLstn(0, pads, found, 2);
        else if (call == "DevClear NOADDR")
            gpib.DevClear(0, 0xFFFF);
        else if (call == "SendCmds PPC")
            gpib.SendCmds(0, "\x05", 1);
        else if (call == "Send board 1")
            gpib.Send(1, 14, "*IDN?\n", 6, 2);
        else if (call == "Send 31")
            gpib.Send(0, 31, "*IDN?\n", 6, 2);
        else if (call == "ibconfig")
            QCOMPARE(gpib.ibconfig(0, 0x7, 1), status);
        else if (call == "ibwrt board")
            QCOMPARE(gpib.ibwrt(0, "*IDN?\n", 6), status);
        else if (call == "ibrd unused")
            QCOMPARE(gpib.ibrd(20, data, sizeof data), status);
        else
            QFAIL(call.constData());
        QCOMPARE(*gpib.ibsta, status);
        QCOMPARE(*gpib.iberr, error);
        QCOMPARE(*gpib.ibcnt, 0);
        QCOMPARE(*gpib.ibcntl, 0L);
        QCOMPARE(trace(QStringLiteral("host")), QStringList());
    }

    // No adapter where the variable says: every call fails with EDVR and the
    // system's reason in the counts.
    void noAdapter_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<int>("code");
        QTest::newRow("serial port missing")
            << QStringLiteral("prologix:serial:/nonexistent/ttyUSB7") << ENOENT;
        QTest::newRow("nothing listens") << QStringLiteral("prologix:tcp:127.0.0.1:1") << ECONNREFUSED;
    }
    void noAdapter()
    {
        QFETCH(QString, backend);
        QFETCH(int, code);
        Gpib32 gpib;
        QVERIFY(gpib.open(freshLibrary(backend)));
        gpib.send("*IDN?\r\n");
        QCOMPARE(*gpib.ibsta & 0xC000, 0x8000);
        QCOMPARE(*gpib.iberr, 0);
        QCOMPARE(*gpib.ibcntl, long(code));
    }

    // The console's GPIB link through gpib-32 and the adapter: a batch of
    // commands, each query's reply whole, as over a GPIB library.
    void consoleBatch_data() { addTransportRows(); }
    void consoleBatch()
    {
        QFETCH(QString, transport);
        QFile::remove(m_trace);
        CLinkContext context;
        CGpibLink link(context, freshLibrary(backendFor(transport)));
        link.SetAddress(14);
        QCOMPARE(link.Initialize(0), 0);
        QVERIFY(!link.IsOffline());
        const QList<QPair<QByteArray, QByteArray>> batch{
            {"*RST\r\n", {}},          {"*IDN?\r\n", "KORVANE,TALLIX-SIM,SN0001,1.0\r\n"},
            {"SOUR:VOLT 2.5\r\n", {}}, {"MEAS:VOLT?\r\n", "2.500\r\n"},
            {"BOGUS\r\n", {}},         {"SYST:ERR?\r\n", "-113,\"Undefined header\"\r\n"},
            {"CURV?\r\n", {}},
        };
        for (const auto &[command, reply] : batch) {
            QCOMPARE(link.WriteString(command.constData()), 1);
            if (command.contains('?')) {
                CReply got;
                QVERIFY(link.ReadReply(got));
                if (command.startsWith("CURV?")) {
                    QVERIFY(got.block);
                    QCOMPARE(got.payloadLength, qint64(1048576));
                } else {
                    QCOMPARE(got.bytes, reply);
                }
            }
        }
        short status = -1;
        link.SerialPoll(&status);
        QCOMPARE(int(status), 0);
    }

    // A device that talks without end: Stop during its read gives the window
    // back at once; the device is cleared without waiting for an end that
    // never comes, and the next query gets its own reply. Over the VISA
    // Resource link's GPIB session (which keeps its gpib-32 loaded, so over
    // TCP: the serial side takes one user) and over the Remote GPIB link.
    void stopARunawayTalker_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<bool>("session");
        QTest::newRow("GPIB session, tcp") << QStringLiteral("tcp") << true;
        QTest::newRow("Remote GPIB link, serial") << QStringLiteral("serial") << false;
    }
    void stopARunawayTalker()
    {
        using namespace std::chrono_literals;
        using Clock = std::chrono::steady_clock;
        QFETCH(QString, transport);
        QFETCH(bool, session);
        const CWatchdog watchdog(60s);
        CUiHooks hooks;
        QStringList messages;
        hooks.showMessage = [&messages](const QString &text) { messages << text; };
        bool armed = false;
        bool stop = false;
        Clock::time_point started;
        Clock::time_point stopped;
        hooks.pulse = [&](const CProgress &) {
            if (armed && !stop && Clock::now() - started > 300ms) {
                stop = true;
                stopped = Clock::now();
            }
            return !stop;
        };
        const auto stopRead = [&](const std::function<bool()> &read) {
            armed = true;
            started = Clock::now();
            const bool done = read();
            const auto back = Clock::now() - stopped;
            armed = stop = false;
            return !done && back < 1500ms;
        };
        QFile::remove(m_trace);
        const QString library = freshLibrary(backendFor(transport));
        CReply reply;
        if (session) {
            CResource resource;
            QString error;
            QVERIFY(ParseResource(QStringLiteral("GPIB0::14::INSTR"), resource, error));
            CSessionOptions options;
            options.ioTimeoutMs = 1000;
            options.hooks = &hooks;
            CGpibSession gpib(resource, options, library);
            QVERIFY2(gpib.Open(error) && gpib.Write("TEST:RUNAWAY?\r\n", error), qPrintable(error));
            QVERIFY(stopRead([&]() { return gpib.Read(reply, error); }));
            QVERIFY2(
                error.startsWith(QLatin1String("Resource 'GPIB0::14::INSTR': the read was stopped after ")),
                qPrintable(error));
            QVERIFY2(gpib.Write("*IDN?\r\n", error) && gpib.Read(reply, error), qPrintable(error));
        } else {
            CLinkContext context;
            context.hooks = &hooks;
            CGpibLink link(context, library);
            link.SetAddress(14);
            QCOMPARE(link.Initialize(0), 0);
            QCOMPARE(link.WriteString("TEST:RUNAWAY?\r\n"), 1);
            QVERIFY(stopRead([&]() { return link.ReadReply(reply); }));
            QCOMPARE(messages.size(), 1);
            QVERIFY2(messages[0].startsWith(QLatin1String("Error reading GPIB response: stopped after ")),
                     qPrintable(messages[0]));
            QCOMPARE(link.WriteString("*IDN?\r\n"), 1);
            QVERIFY(link.ReadReply(reply));
            QCOMPARE(messages.size(), 1);
        }
        QCOMPARE(reply.bytes, QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
        QVERIFY(trace(QStringLiteral("bus")).contains(QStringLiteral("clear 14")));
    }

    // The probe prints the adapter's version and reaches the device; the
    // listeners it finds by serial polls, the adapter having no search.
    void probe_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("found");
        const QStringList device{QStringLiteral("--address"), QStringLiteral("14")};
        const QString reply = QStringLiteral("reply from 14: KORVANE,TALLIX-SIM,SN0001,1.0");
        QTest::newRow("serial") << QStringLiteral("serial") << device << reply;
        QTest::newRow("tcp") << QStringLiteral("tcp") << device << reply;
        QTest::newRow("tcp, listeners")
            << QStringLiteral("tcp") << QStringList()
            << QStringLiteral("board 0: listeners at 14 (serial poll of 1 to 30)");
    }
    void probe()
    {
        QFETCH(QString, transport);
        QFETCH(QStringList, arguments);
        QFETCH(QString, found);
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TALLIX_GPIB_BACKEND"), backendFor(transport));
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(TALLIX_GPIB_PROBE), arguments);
        QVERIFY(probe.waitForFinished(60000));
        QVERIFY2(probe.exitCode() == 0, probe.readAllStandardError().constData());
        QCOMPARE(
            QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed(),
            QStringLiteral("backend: %1 (Prologix adapter, version Tallix simulated Prologix GPIB adapter "
                           "version 6.107)\n%2")
                .arg(backendFor(transport), found));
    }
};

QTEST_GUILESS_MAIN(TestGpib32Prologix)
#include "tst_gpib32prologix.moc"
