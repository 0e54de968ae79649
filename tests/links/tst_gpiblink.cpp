// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFiles.h"
#include "cmdfile/ResponseLog.h"
#include "common/UiHooks.h"
#include "links/GpibLink.h"
#include "links/LinkDispatch.h"
#include "tests/links/LinkAccess.h"
#include "tests/sim/InstrumentReplies.h"
#include "timing/Delay.h"
#include "work/CommandSender.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <dlfcn.h>

// The GPIB link against the simulated library: the real dynamic loader, the
// real library calls, and a trace of every call the library received.
class TestGpibLink : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tracePath;
    QStringList m_messages;
    CUiHooks m_hooks;
    CLinkContext m_context = [this] {
        CLinkContext context;
        context.hooks = &m_hooks;
        return context;
    }();

    static QString simLibrary() { return QStringLiteral(TALLIX_SIM_LIBDIR "/libgpib-32.so"); }
    static QString variant(const QString &name)
    {
        return QStringLiteral(TALLIX_SIM_VARIANTDIR "/") + name + QStringLiteral("/libgpib-32.so");
    }

    QStringList trace() const
    {
        QFile file(m_tracePath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    void clearTrace() { QFile::remove(m_tracePath); }

    static bool simOnLoaderPath()
    {
        return qEnvironmentVariable("LD_LIBRARY_PATH")
            .split(QLatin1Char(':'))
            .contains(QStringLiteral(TALLIX_SIM_LIBDIR));
    }

    static bool isLoaded(const QString &path)
    {
        void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_LAZY | RTLD_NOLOAD);
        if (!handle)
            return false;
        dlclose(handle);
        return true;
    }

    static QByteArray readLog(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A dispatch on the GPIB link whose library is `library`.
    void prepare(CLinkDispatch &links, const QString &library, int address = 14)
    {
        links.Choose(LINK_GPIB);
        links.SetGpibAddress(address);
        Gpib(links).SetLibraryName(library);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(simLibrary()), "the simulated library is built with the tests");
        m_tracePath = m_dir.filePath(QStringLiteral("trace.txt"));
        qunsetenv("TALLIX_SIM_GPIB_ADDRESS");
        qunsetenv("TALLIX_SIM_GPIB_STATUS");
        m_hooks.showMessage = [this](const QString &text) { m_messages << text; };
    }

    void init()
    {
        m_messages.clear();
        clearTrace();
        qputenv("TALLIX_SIM_GPIB_TRACE", QFile::encodeName(m_tracePath));
    }

    void cleanup()
    {
        qunsetenv("TALLIX_SIM_GPIB_TRACE");
        qunsetenv("TALLIX_SIM_GPIB_STATUS");
        qunsetenv("TALLIX_SIM_GPIB_ADDRESS");
    }

    void offlineWithoutLibrary()
    {
        CGpibLink link(m_context, m_dir.filePath(QStringLiteral("absent/libgpib-32.so")));
        short poll = 0x1234;
        QCOMPARE(link.SerialPoll(&poll), 0);
        QCOMPARE(poll, short(0x1234));

        QCOMPARE(link.Initialize(0), 1);
        QVERIFY(link.IsOffline());
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(link.WriteString("*IDN?\r\n"), 1);

        char buffer[8];
        std::memset(buffer, 'x', sizeof buffer);
        g_spinTotal = -1;
        QCOMPARE(link.Read(buffer, 8, 1, 0x100), 0);
        QCOMPARE(QByteArray(buffer, 5), QByteArray("\x1A\r\n\0x", 5));
        QCOMPARE(int(g_spinTotal), -1); // no pause offline
        QCOMPARE(link.LastCount(), 0u);

        QCOMPARE(link.SetAddress(65550), 1);
        QCOMPARE(link.DeviceAddress(), Addr4882_t(14));
        QCOMPARE(link.SerialPoll(&poll), 0);
        QCOMPARE(poll, short(0x1234));
    }

    void offlineFlagLoadsNothing()
    {
        {
            CGpibLink link(m_context, simLibrary());
            QCOMPARE(link.Initialize(1), 1);
            QVERIFY(link.IsOffline());
            QVERIFY(!isLoaded(simLibrary()));
        }
        QVERIFY(trace().isEmpty());
    }

    // Without the library, a command counts as sent, the display read is
    // empty, the log read logs the offline text, and every command tries the
    // load again: once the library turns up, the link comes online.
    void absentLibraryThroughDispatch()
    {
        const QString folder = m_dir.filePath(QStringLiteral("later"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/libgpib-32.so");
        const QString logPath = m_dir.filePath(QStringLiteral("absent.log"));
        QFile::remove(path);
        QFile::remove(logPath);

        CLinkDispatch links(&m_hooks);
        prepare(links, path);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(Gpib(links).IsOffline());
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        QCOMPARE(text, QByteArray());

        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(logPath));
        CCommandSender sender(links, files, &m_hooks);
        QVERIFY(sender.SendCommand("*IDN?\r\n").Ok());
        log.Close();
        QCOMPARE(readLog(logPath), QByteArray("*IDN?\r\n>\x1A\r\n"));

        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(Gpib(links).IsOffline());
        QVERIFY(trace().isEmpty());

        QVERIFY(QFile::copy(simLibrary(), path));
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(!Gpib(links).IsOffline());
        // The failed attempts stored the address, so both enable it.
        QCOMPARE(trace(), QStringList({"SendIFC 0", "EnableRemote 0 14", "EnableRemote 0 14"}));
        QVERIFY(m_messages.isEmpty());
    }

    // The first command loads the library, clears the interface and enables
    // remote twice (the list as it stood, then the stored address); later
    // commands do neither again.
    void firstCommand_data()
    {
        QTest::addColumn<int>("linkKind");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("sent");
        QTest::newRow("gpib chosen, address 14") << ToInt(LINK_GPIB) << 14 << "14" << 1;
        QTest::newRow("address 65550 keeps its low 16 bits") << ToInt(LINK_GPIB) << 65550 << "14" << 1;
        QTest::newRow("address 0 (no number in the box)") << ToInt(LINK_GPIB) << 0 << "0" << 0;
        QTest::newRow("no link chosen still loads") << -1 << 14 << "14" << -1;
    }

    void firstCommand()
    {
        QFETCH(int, linkKind);
        QFETCH(int, address);
        QFETCH(QString, device);
        QFETCH(int, sent);

        CLinkDispatch links(&m_hooks);
        prepare(links, simLibrary(), address);
        links.Choose(LinkKind{linkKind});
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(!Gpib(links).IsOffline());
        QCOMPARE(Gpib(links).DeviceAddress(), Addr4882_t(device.toUInt()));
        const QStringList connect = {"SendIFC 0", "EnableRemote 0", "EnableRemote 0 " + device};
        QCOMPARE(trace(), connect);

        QVERIFY(links.ConnectLinks().Ok());
        QCOMPARE(trace(), connect);

        const int result = links.Send("*IDN?\r\n").Ok() ? 1 : 0;
        if (sent < 0) {
            QCOMPARE(result, 1);
            QCOMPARE(trace(), connect);
            return;
        }
        QCOMPARE(trace(), connect + QStringList{"Send 0 " + device + " 7 2"});
        QCOMPARE(result, sent);
        QCOMPARE(m_messages, sent ? QStringList() : QStringList{"Error sending GPIB command"});
    }

    // The I/O time-out of the settings: set on the board once the library is
    // up, again when it changes, and never while it is "Library default",
    // which gives the library back its own.
    void ioTimeout_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("then");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("library default never sets one") << -1 << -1 << QStringList();
        QTest::newRow("chosen, then changed")
            << 11 << 14 << QStringList{"ibask 0 3", "ibtmo 0 11", "|", "ibtmo 0 14"};
        QTest::newRow("chosen, then library default again")
            << 0 << -1 << QStringList{"ibask 0 3", "ibtmo 0 0", "|", "ibtmo 0 13"};
    }

    void ioTimeout()
    {
        QFETCH(int, first);
        QFETCH(int, then);
        QFETCH(QStringList, calls);
        const auto timeoutCalls = [this]() {
            QStringList found;
            for (const QString &line : trace())
                if (line.startsWith(QLatin1String("ibtmo")) || line.startsWith(QLatin1String("ibask")))
                    found << line;
            return found;
        };
        CLinkDispatch links(&m_hooks);
        prepare(links, simLibrary());
        CLinkOptions options = links.Context().options;
        options.gpibTimeout = first;
        links.SetOptions(options);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.ConnectLinks().Ok());
        QStringList seen = timeoutCalls();
        // After the interface clear and the remote state, never before.
        if (!seen.isEmpty())
            QCOMPARE(trace().indexOf(seen.first()), 3);
        options = links.Context().options;
        options.gpibTimeout = then;
        links.SetOptions(options);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.ConnectLinks().Ok());
        const QStringList after = timeoutCalls().mid(seen.size());
        if (!after.isEmpty())
            seen << "|" << after;
        QCOMPARE(seen, calls);
        QVERIFY(m_messages.isEmpty());
    }

    void addressBeforeLoadIsEnabledByInitialize()
    {
        CGpibLink link(m_context, simLibrary());
        QCOMPARE(link.SetAddress(14), 1);
        QVERIFY(trace().isEmpty());
        QCOMPARE(link.Initialize(0), 0);
        QCOMPARE(trace(), QStringList({"SendIFC 0", "EnableRemote 0 14"}));
        QVERIFY(g_spinLoopsPerMillisecond > 0);

        // Online, a new address is put in remote state at once, on board 0.
        QCOMPARE(link.SetAddress(0x10005), 1);
        QCOMPARE(trace().last(), QString("EnableRemote 0 5"));
    }

    void libraryByBareName()
    {
        // A bad build of the library in the current directory must not be the
        // one that loads: only the loader's search path counts.
        const QString here = m_dir.filePath(QStringLiteral("cwd"));
        QVERIFY(QDir().mkpath(here));
        QFile::remove(here + QStringLiteral("/libgpib-32.so"));
        QVERIFY(QFile::copy(variant(QStringLiteral("gpib-no-ibconfig")),
                            here + QStringLiteral("/libgpib-32.so")));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(here));

        const bool onPath = simOnLoaderPath();
        {
            CGpibLink link(m_context);
            link.SetAddress(14);
            link.Initialize(0);
            QDir::setCurrent(before);
            QVERIFY(m_messages.isEmpty());
            QCOMPARE(link.IsOffline(), !onPath);
            if (onPath) {
                QCOMPARE(link.WriteString("*IDN?\r\n"), 1);
                QCOMPARE(trace().last(), QString("Send 0 14 7 2"));
            }
        }
    }

    // Send and Receive fail on ERR or TIMO and on nothing else.
    void statusWord_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("ok");
        QTest::newRow("TIMO alone") << 0x4000 << 0;
        QTest::newRow("ERR alone") << 0x8000 << 0;
        QTest::newRow("ERR and TIMO") << 0xC000 << 0;
        QTest::newRow("END and CMPL") << 0x2100 << 1;
        QTest::newRow("every other bit") << 0x3FFF << 1;
        QTest::newRow("nothing") << 0 << 1;
    }

    void statusWord()
    {
        QFETCH(int, status);
        QFETCH(int, ok);
        CGpibLink link(m_context, simLibrary());
        link.SetAddress(14);
        QCOMPARE(link.Initialize(0), 0);
        qputenv("TALLIX_SIM_GPIB_STATUS", QByteArray::number(status));
        QCOMPARE(link.WriteString("*IDN?\r\n"), ok);
        char buffer[RESPONSE_BUFFER_SIZE + 1];
        QCOMPARE(link.Read(buffer, RESPONSE_BUFFER_SIZE, 1, 0x100), ok);
        QVERIFY(QByteArray(buffer).startsWith("KORVANE,"));
    }

    void realFailures_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("writeOk");
        QTest::addColumn<int>("readOk");
        QTest::addColumn<QByteArray>("instrumentAt");
        QTest::newRow("no listener") << simLibrary() << 15 << 0 << 0 << QByteArray();
        QTest::newRow("Send sets ERR") << variant("gpib-send-err") << 14 << 0 << 0 << QByteArray();
        QTest::newRow("Receive times out") << variant("gpib-receive-timo") << 14 << 1 << 0 << QByteArray();
        QTest::newRow("all well") << simLibrary() << 14 << 1 << 1 << QByteArray();
        QTest::newRow("instrument moved to 15") << simLibrary() << 15 << 1 << 1 << QByteArray("15");
        QTest::newRow("instrument moved away from 14") << simLibrary() << 14 << 0 << 0 << QByteArray("15");
    }

    void realFailures()
    {
        QFETCH(QString, library);
        QFETCH(int, address);
        QFETCH(int, writeOk);
        QFETCH(int, readOk);
        QFETCH(QByteArray, instrumentAt);
        if (!instrumentAt.isEmpty())
            qputenv("TALLIX_SIM_GPIB_ADDRESS", instrumentAt);
        CGpibLink link(m_context, library);
        link.SetAddress(address);
        QCOMPARE(link.Initialize(0), 0);
        QCOMPARE(link.WriteString("MEAS:VOLT?\r\n"), writeOk);
        char buffer[RESPONSE_BUFFER_SIZE + 1];
        QCOMPARE(link.Read(buffer, RESPONSE_BUFFER_SIZE, 1, 0x100), readOk);
        QCOMPARE(QByteArray(buffer), readOk ? QByteArray("1.250\r\n") : QByteArray());
        QVERIFY(m_messages.isEmpty());
    }

    // A failed send shows its message and ends the command: nothing is read
    // and nothing reaches the log.
    void sendErrorLogsNothing()
    {
        const QString logPath = m_dir.filePath(QStringLiteral("senderr.log"));
        QFile::remove(logPath);
        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(logPath));
        CLinkDispatch links(&m_hooks);
        prepare(links, variant(QStringLiteral("gpib-send-err")));
        CCommandSender sender(links, files, &m_hooks);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(!sender.SendCommand("*IDN?\r\n").Ok());
        QCOMPARE(m_messages, QStringList{"Error sending GPIB command"});
        QVERIFY(!trace().join('\n').contains("Receive"));
        log.Close();
        QCOMPARE(readLog(logPath), QByteArray());
    }

    // A library that lacks any name: one message, the link online, and what
    // is there still works.
    void missingName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("writeOk");
        QTest::addColumn<QByteArray>("readText");
        QTest::addColumn<int>("pollOk");
        QTest::addColumn<int>("noListenerWriteOk");
        for (const char *name : CGpibLink::LOOKUP_NAMES) {
            const QString n = QString::fromLatin1(name);
            int writeOk = 1, pollOk = 1, noListener = 0;
            QByteArray text = "KORVANE,TALLIX-SIM,SN0001,1.0\r\n";
            if (n == "Send")
                writeOk = noListener = 0;
            if (n == "Receive" || n == "user_ibcnt" || n == "Send")
                text.clear();
            if (n == "ReadStatusByte")
                pollOk = 0;
            if (n == "user_ibsta")
                noListener = 1; // no status word: every call succeeds
            QTest::newRow(name) << n << writeOk << text << pollOk << noListener;
        }
    }

    void missingName()
    {
        QFETCH(QString, name);
        QFETCH(int, writeOk);
        QFETCH(QByteArray, readText);
        QFETCH(int, pollOk);
        QFETCH(int, noListenerWriteOk);

        CLinkDispatch links(&m_hooks);
        prepare(links, variant("gpib-no-" + name));
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(!Gpib(links).IsOffline());
        QVERIFY(links.ConnectLinks().Ok());
        QCOMPARE(Gpib(links).Initialize(0), 0);
        QCOMPARE(m_messages, QStringList{"Bad GPIB.dll file."});

        QStringList connect;
        if (name != "SendIFC")
            connect << "SendIFC 0";
        if (name != "EnableRemote")
            connect << "EnableRemote 0"
                    << "EnableRemote 0 14";
        QCOMPARE(trace().mid(0, connect.size()), connect);

        CGpibLink &link = Gpib(links);
        QCOMPARE(link.WriteString("*IDN?\r\n"), writeOk);
        char buffer[RESPONSE_BUFFER_SIZE + 1];
        std::memset(buffer, 'x', sizeof buffer);
        link.Read(buffer, RESPONSE_BUFFER_SIZE, 1, 0x100);
        QCOMPARE(QByteArray(buffer), readText);

        short poll = 0x77;
        QCOMPARE(link.SerialPoll(&poll), pollOk);
        if (!pollOk)
            QCOMPARE(poll, short(0x77));

        link.SetAddress(15);
        QCOMPARE(link.WriteString("*IDN?\r\n"), noListenerWriteOk);
        QCOMPARE(m_messages.size(), 1);
    }

    // A clamped read keeps at most count - 1 bytes and ends them with a NUL;
    // the termination goes out as its low 16 bits.
    void clampedRead_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("termination");
        QTest::newRow("short response") << 12 << 12 << 0x100;
        QTest::newRow("count - 1 bytes") << 4047 << 4047 << 0x100;
        QTest::newRow("fills all 4048") << 4048 << 4047 << 0x100;
        QTest::newRow("longer than the buffer") << 10000 << 4047 << 0x100;
        QTest::newRow("termination above 16 bits") << 12 << 12 << 0x30100;
    }

    void clampedRead()
    {
        QFETCH(int, length);
        QFETCH(int, kept);
        QFETCH(int, termination);
        CGpibLink link(m_context, simLibrary());
        link.SetAddress(14);
        QCOMPARE(link.Initialize(0), 0);
        QCOMPARE(link.WriteString(QByteArray("DATA? " + QByteArray::number(length) + "\r\n").constData()), 1);

        char buffer[RESPONSE_BUFFER_SIZE + 1];
        std::memset(buffer, 'x', sizeof buffer);
        g_spinTotal = -1;
        QCOMPARE(link.Read(buffer, RESPONSE_BUFFER_SIZE, 1, termination), 1);
        // The pause before the transfer ran its spin loop (timed by the
        // clock, in slices of the calibrated loop).
        const std::int32_t spun = g_spinTotal;
        QVERIFY(spun > 0);
        QCOMPARE(QByteArray(buffer), DataReply(length).left(kept));
        QCOMPARE(trace().last(), QString("Receive 0 14 4048 256"));
    }

    // The display read chains 4048-byte reads until the device's END, and
    // shows every byte; a reply that ends with END on a full buffer is not
    // read again (which would wait out the time-out, and make a real device
    // queue "Query UNTERMINATED").
    void displayRead_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QStringList>("counts");
        QTest::newRow("short") << 7 << QStringList{"7"};
        QTest::newRow("4047 bytes") << 4047 << QStringList{"4047"};
        QTest::newRow("exactly 4048, ended by END") << 4048 << QStringList{"4048"};
        QTest::newRow("10000 bytes") << 10000 << QStringList{"4048", "4048", "1904"};
    }

    void displayRead()
    {
        QFETCH(int, length);
        QFETCH(QStringList, counts);
        CLinkDispatch links(&m_hooks);
        prepare(links, simLibrary());
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.Send(QByteArray("DATA? " + QByteArray::number(length) + "\r\n").constData()).Ok());
        clearTrace();

        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        QCOMPARE(text, DataReply(length));
        QStringList receives;
        for (int i = 0; i < counts.size(); ++i)
            receives << "Receive 0 14 4048 256";
        QCOMPARE(trace(), receives);
        QCOMPARE(QString::number(Gpib(links).LastCount()), counts.last());
    }

    // The view of the raw bytes takes every byte the library counted; as
    // text the response ends at its NUL.
    void displayReadOfNuls()
    {
        CLinkDispatch links(&m_hooks);
        prepare(links, simLibrary());
        QVERIFY(links.ConnectLinks().Ok());
        QByteArray text;
        CReply reply;
        QVERIFY(links.Send("BYTES 41000D0A\r\n").Ok());
        QVERIFY(links.ReadResponse(text).Ok());
        QVERIFY(links.Send("BYTES 41000D0A\r\n").Ok());
        links.ReadResponse(reply);
        QCOMPARE(text, QByteArray("A"));
        QCOMPARE(reply.bytes, QByteArray("A\0\r\n", 4));
    }

    // A library whose count exceeds the buffer neither overruns it nor makes
    // the display read chain for ever.
    void countLargerThanBuffer()
    {
        CLinkDispatch links(&m_hooks);
        prepare(links, variant(QStringLiteral("gpib-big-count")));
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        char buffer[RESPONSE_BUFFER_SIZE + 1];
        QCOMPARE(Gpib(links).Read(buffer, RESPONSE_BUFFER_SIZE, 1, 0x100), 1);
        QCOMPARE(int(std::strlen(buffer)), RESPONSE_BUFFER_SIZE - 1);
        QVERIFY(Gpib(links).LastCount() > unsigned(RESPONSE_BUFFER_SIZE));

        QVERIFY(links.Send("*IDN?\r\n").Ok());
        clearTrace();
        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        QCOMPARE(text.size(), RESPONSE_BUFFER_SIZE);
        QVERIFY(text.startsWith("KORVANE,"));
        QCOMPARE(trace().size(), 1);
    }

    // The count that the library reports decides the text: only its low 16
    // bits count.
    void reportedCount()
    {
        CLinkDispatch links(&m_hooks);
        prepare(links, simLibrary());
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        qputenv("TALLIX_SIM_GPIB_COUNT", "0x10005");
        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        qunsetenv("TALLIX_SIM_GPIB_COUNT");
        QCOMPARE(Gpib(links).LastCount(), 5u);
        QCOMPARE(text, QByteArray("AAAAA"));
    }

    // A library that reports a full buffer and no END for ever: past the
    // bound the reply is thrown away for as much again, then the device is
    // cleared and the user told; nothing of it is shown.
    void neverEndingReply()
    {
        CLinkDispatch links(&m_hooks);
        prepare(links, simLibrary());
        CLinkOptions options = links.Context().options;
        options.maxReplyBytes = MIN_MAX_REPLY_BYTES;
        links.SetOptions(options);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        qunsetenv("TALLIX_SIM_GPIB_TRACE");
        qputenv("TALLIX_SIM_GPIB_COUNT", "4048");
        qputenv("TALLIX_SIM_GPIB_STATUS", "0x100");
        qputenv("TALLIX_SIM_GPIB_TIMEOUT_MS", "0");
        const std::int32_t pause = g_gpibReadPauseMs;
        g_gpibReadPauseMs = 0;
        QByteArray text;
        const CResult read = links.ReadResponse(text);
        g_gpibReadPauseMs = pause;
        qunsetenv("TALLIX_SIM_GPIB_COUNT");
        qunsetenv("TALLIX_SIM_GPIB_STATUS");
        qunsetenv("TALLIX_SIM_GPIB_TIMEOUT_MS");
        // Told by the link, so that the command goes on with an empty reply.
        QVERIFY(!read.Ok());
        QVERIFY(!read.ToTell());
        QCOMPARE(text, QByteArray());
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].startsWith("Error reading GPIB response: the reply did not end after 2,"),
                 qPrintable(m_messages[0]));
    }

    // The log read takes the whole reply, and logs every byte of it; the
    // device is read once, and the reply is the window's to show.
    void logReadTakesTheWholeReply()
    {
        const QString logPath = m_dir.filePath(QStringLiteral("long.log"));
        QFile::remove(logPath);
        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(logPath));
        CLinkDispatch links(&m_hooks);
        prepare(links, simLibrary());
        CCommandSender sender(links, files, &m_hooks);
        QVERIFY(links.ConnectLinks().Ok());
        clearTrace();
        QVERIFY(sender.SendCommand("DATA? 5000\r\n").Ok());
        QCOMPARE(trace(), QStringList({"Send 0 14 12 2", "Receive 0 14 4048 256", "Receive 0 14 4048 256"}));
        log.Close();
        QCOMPARE(readLog(logPath), "DATA? 5000\r\n>" + DataReply(5000));
        CReply reply;
        QVERIFY(sender.TakeLoggedReply(reply));
        QCOMPARE(reply.bytes, DataReply(5000));
        QVERIFY(!sender.TakeLoggedReply(reply));
    }

    void serialPoll_data()
    {
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("after");
        QTest::newRow("nothing waiting") << QByteArray("*RST\r\n") << 0 << 0;
        QTest::newRow("response waiting: MAV") << QByteArray("*IDN?\r\n") << 0x10 << 0x10;
        QTest::newRow("service requested: RQS") << QByteArray("SRQ\r\n") << 0x40 << 0;
        QTest::newRow("MAV and RQS") << QByteArray("SRQ\r\n*IDN?\r\n") << 0x50 << 0x10;
    }

    void serialPoll()
    {
        QFETCH(QByteArray, commands);
        QFETCH(int, status);
        QFETCH(int, after);
        CLinkDispatch links(&m_hooks);
        prepare(links, simLibrary());
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.Send("*RST\r\n").Ok());
        QVERIFY(links.Send(commands.constData()).Ok());
        short result = 0;
        Gpib(links).SerialPoll(&result);
        QCOMPARE(int(result), status);
        QCOMPARE(trace().last(), QString("ReadStatusByte 0 14"));
        // The poll clears RQS; MAV stays until the response is read.
        Gpib(links).SerialPoll(&result);
        QCOMPARE(int(result), after);
    }

    void destructionUnloads()
    {
        const QString path = variant(QStringLiteral("gpib-no-ibwait"));
        {
            CGpibLink link(m_context, path);
            QCOMPARE(link.Initialize(0), 0);
            QVERIFY(isLoaded(path));
            const int calls = trace().size();
            link.SetLibraryName(simLibrary()); // ignored while loaded
            QCOMPARE(link.Initialize(0), 0);
            QCOMPARE(m_messages.size(), 1);
            QCOMPARE(trace().size(), calls + 2); // cleared and enabled again
        }
        QVERIFY(!isLoaded(path));
        // Nothing goes over the bus at the end.
        QVERIFY(!trace().join('\n').contains("ibonl"));
    }
};

QTEST_GUILESS_MAIN(TestGpibLink)
#include "tst_gpiblink.moc"
