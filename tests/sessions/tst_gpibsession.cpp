// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/GpibLink.h"
#include "sessions/ResourceParser.h"
#include "sessions/gpib/GpibFinder.h"
#include "sessions/gpib/GpibSession.h"
#include "tests/sessions/PulseClock.h"
#include "tests/sessions/StopHooks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

#include <optional>
#include <thread>

// GPIB INSTR resources through the library "gpib-32": the simulated one, and
// Tallix's own over each simulated GPIB library of the machine (linux-gpib's
// and NI's). Every row works on fresh copies, so that each gpib-32 opens its
// backend anew.
class TestGpibSession : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_rows = 0;

    // The library the session loads for `backend` ("" for the simulated
    // gpib-32 itself).
    QString Library(const QString &backend)
    {
        if (backend.isEmpty())
            return QStringLiteral(TALLIX_SIM_LIBDIR "/libgpib-32.so");
        const QString folder = m_dir.filePath(QStringLiteral("row%1").arg(++m_rows));
        QDir().mkpath(folder);
        const QString gpib32 = folder + QStringLiteral("/libgpib-32.so");
        const QString copy = folder + QLatin1Char('/') + QFileInfo(backend).fileName();
        if (!QFile::copy(QStringLiteral(TALLIX_GPIB32_LIBRARY), gpib32) || !QFile::copy(backend, copy))
            return QString();
        qputenv("TALLIX_GPIB_BACKEND", QFile::encodeName(copy));
        return gpib32;
    }

    static CResource Resource(const QString &text)
    {
        CResource resource;
        QString error;
        ParseResource(text, resource, error);
        return resource;
    }

    static QByteArray Query(CGpibSession &session, const char *command, QString &error)
    {
        CReply reply;
        if (!session.Write(command, error) || !session.Read(reply, error))
            return QByteArray("(failed)");
        return reply.bytes;
    }

    // The simulated gpib-32 under a path of its own: no other row has it.
    QString FreshLibrary()
    {
        const QString folder = m_dir.filePath(QStringLiteral("row%1").arg(++m_rows));
        QDir().mkpath(folder);
        const QString copy = folder + QStringLiteral("/libgpib-32.so");
        return QFile::copy(QStringLiteral(TALLIX_SIM_LIBDIR "/libgpib-32.so"), copy) ? copy : QString();
    }

    static bool IsLoaded(const QString &path)
    {
        void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_LAZY | RTLD_NOLOAD);
        if (!handle)
            return false;
        dlclose(handle);
        return true;
    }

private slots:
    void cleanup() { qunsetenv("TALLIX_GPIB_BACKEND"); }

    void backends_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("simulated gpib-32") << QString();
        QTest::newRow("gpib-32 over linux-gpib") << QStringLiteral(TALLIX_SIM_LINUXGPIB);
        QTest::newRow("gpib-32 over NI-488.2") << QStringLiteral(TALLIX_SIM_NI4882);
    }

    // A query, a block longer than one read (whole, to its END), the status
    // byte with a reply waiting, and a device clear that drops the reply.
    void backends()
    {
        QFETCH(QString, backend);
        const QString library = Library(backend);
        QVERIFY(!library.isEmpty());
        CSessionOptions options;
        options.ioTimeoutMs = 300;
        CGpibSession session(Resource(QStringLiteral("GPIB0::14::INSTR")), options, library);
        QString error;
        QVERIFY2(session.Open(error), qPrintable(error));
        QCOMPARE(Query(session, "*IDN?\r\n", error), QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));

        CReply reply;
        QVERIFY(session.Write("CURV?\r\n", error));
        QVERIFY2(session.Read(reply, error), qPrintable(error));
        QVERIFY(reply.block);
        QCOMPARE(reply.payloadLength, 1048576);
        QCOMPARE(reply.bytes.size(), 9 + 1048576 + 1);

        QVERIFY(session.Write("*IDN?\r\n", error));
        std::uint8_t status = 0;
        QVERIFY2(session.ReadStatusByte(status, error), qPrintable(error));
        QCOMPARE(status & 0x10, 0x10); // MAV: a reply waits
        QVERIFY2(session.Clear(error), qPrintable(error));
        QVERIFY(session.ReadStatusByte(status, error));
        QCOMPARE(status & 0x10, 0); // gone with the clear
        QCOMPARE(Query(session, "MEAS:VOLT?\r\n", error), QByteArray("1.250\r\n"));
        session.Close();
        QVERIFY(!session.IsOpen());
    }

    // What goes wrong says where and how, in the library's words; a read that
    // fails leaves nothing of its reply for the next one.
    void failures_data()
    {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QByteArray>("receiveErr");
        QTest::addColumn<QString>("message");
        QTest::newRow("no listener at a secondary address")
            << "GPIB0::14::3::INSTR" << QByteArray()
            << "Resource 'GPIB0::14::3::INSTR': sending failed: ENOL (no listener on the bus)";
        QTest::newRow("no listener")
            << "GPIB0::9::INSTR" << QByteArray()
            << "Resource 'GPIB0::9::INSTR': sending failed: ENOL (no listener on the bus)";
        QTest::newRow("driver error while reading") << "GPIB0::14::INSTR" << QByteArray("0:5")
                                                    << "Resource 'GPIB0::14::INSTR': reading the reply "
                                                       "failed: EDVR (driver error: Input/output error)";
    }

    void failures()
    {
        QFETCH(QString, resource);
        QFETCH(QByteArray, receiveErr);
        QFETCH(QString, message);
        CSessionOptions options;
        options.ioTimeoutMs = 300;
        CGpibSession session(Resource(resource), options, Library(QString()));
        QString error;
        QVERIFY2(session.Open(error), qPrintable(error));
        if (!receiveErr.isEmpty())
            qputenv("TALLIX_SIM_GPIB_RECEIVE_ERR", receiveErr);
        const QByteArray got = Query(session, "*IDN?\r\n", error);
        qunsetenv("TALLIX_SIM_GPIB_RECEIVE_ERR");
        QCOMPARE(got, QByteArray("(failed)"));
        QCOMPARE(error, message);
        if (!receiveErr.isEmpty()) {
            std::uint8_t status = 0xFF;
            QVERIFY(session.ReadStatusByte(status, error));
            QCOMPARE(status & 0x10, 0); // cleared
        }
    }

    // A read that blocks inside the library: the window gets its turn all
    // the while, and the read ends as the library's time-out ends it.
    void pulsesWhileTheReadBlocks()
    {
        CPulseClock clock;
        CSessionOptions options;
        options.ioTimeoutMs = 2000;
        options.hooks = &clock.hooks;
        CGpibSession session(Resource(QStringLiteral("GPIB0::14::INSTR")), options, Library(QString()));
        QString error;
        QVERIFY2(session.Open(error), qPrintable(error));
        // Nothing was asked: the board waits out its time-out.
        qputenv("TALLIX_SIM_GPIB_TIMEOUT_MS", "600");
        clock.Start();
        CReply reply;
        const bool read = session.Read(reply, error);
        qunsetenv("TALLIX_SIM_GPIB_TIMEOUT_MS");
        QVERIFY(!read);
        QCOMPARE(error, QStringLiteral("Resource 'GPIB0::14::INSTR': reading the reply failed: EABO (I/O "
                                       "operation aborted: time-out)"));
        QVERIFY2(clock.LongestGap() < std::chrono::milliseconds(100),
                 qPrintable(QString::number(clock.LongestGap().count())));
    }

    // The library's status and count are the process's: a call of another
    // thread made while a read is inside the library (which pauses there
    // after leaving them) waits its turn, whether the read is a session's or
    // the Remote GPIB link's.
    void callsTakeTurns_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("a session reads") << false;
        QTest::newRow("the Remote GPIB link reads") << true;
    }

    void callsTakeTurns()
    {
        QFETCH(bool, link);
        const QString library = Library(QString());
        const QString trace = m_dir.filePath(QStringLiteral("turns%1.txt").arg(link));
        CPulseClock clock;
        CSessionOptions options;
        options.hooks = &clock.hooks;
        CGpibSession reader(Resource(QStringLiteral("GPIB0::14::INSTR")), options, library);
        CGpibSession poller(Resource(QStringLiteral("GPIB0::14::INSTR")), {}, library);
        CLinkContext context;
        context.hooks = &clock.hooks;
        CGpibLink gpib(context, library);
        QString error;
        QVERIFY2(reader.Open(error) && poller.Open(error), qPrintable(error));
        gpib.SetAddress(14);
        QCOMPARE(gpib.Initialize(0), 0);
        QVERIFY(link ? gpib.WriteString("*IDN?\r\n") == 1 : reader.Write("*IDN?\r\n", error));

        qputenv("TALLIX_SIM_GPIB_TRACE", QFile::encodeName(trace));
        qputenv("TALLIX_SIM_GPIB_READ_PAUSE_MS", "300");
        // The poll goes while the read is inside the library.
        bool polled = false;
        const auto inside = [&trace]() {
            QFile file(trace);
            const QByteArray calls = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            return calls.contains("Receive ") || calls.contains("ibrd ");
        };
        std::thread other([&]() {
            for (int i = 0; i < 1000 && !inside(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            QString pollError;
            std::uint8_t status = 0;
            polled = poller.ReadStatusByte(status, pollError);
        });
        CReply reply;
        const bool read = link ? gpib.ReadReply(reply) : reader.Read(reply, error);
        other.join();
        qunsetenv("TALLIX_SIM_GPIB_READ_PAUSE_MS");
        qunsetenv("TALLIX_SIM_GPIB_TRACE");
        QVERIFY2(read, qPrintable(error));
        QVERIFY(polled);
        QCOMPARE(reply.bytes, QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
    }

    // The Remote GPIB link, the sessions and the finder share one loaded
    // copy of the library: whoever lets go first leaves it to the others,
    // and it goes with the last of them. Each step is "link", "session" or
    // "find" (takes it), "-link" or "-session" (lets go); `loaded` says
    // whether the library is loaded after each.
    void oneLoadedCopy_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<bool>>("loaded");
        QTest::newRow("a session alone") << QStringList{"session", "-session"} << QList<bool>{true, false};
        QTest::newRow("a search alone") << QStringList{"find"} << QList<bool>{false};
        QTest::newRow("the link goes before the session")
            << QStringList{"link", "session", "-link", "-session"} << QList<bool>{true, true, true, false};
        QTest::newRow("the session goes before the link")
            << QStringList{"session", "link", "-session", "-link"} << QList<bool>{true, true, true, false};
        QTest::newRow("a search while the link has it")
            << QStringList{"link", "find", "-link"} << QList<bool>{true, true, false};
    }

    void oneLoadedCopy()
    {
        QFETCH(QStringList, steps);
        QFETCH(QList<bool>, loaded);
        const QString library = FreshLibrary();
        QVERIFY(!library.isEmpty());
        CLinkContext context;
        std::optional<CGpibLink> link;
        std::optional<CGpibSession> session;
        QString error;
        for (int i = 0; i < steps.size(); ++i) {
            const QString &step = steps[i];
            if (step == "link") {
                link.emplace(context, library);
                link->SetAddress(14);
                QCOMPARE(link->Initialize(0), 0);
            } else if (step == "session") {
                session.emplace(Resource(QStringLiteral("GPIB0::14::INSTR")), CSessionOptions{}, library);
                QVERIFY2(session->Open(error), qPrintable(error));
            } else if (step == "find") {
                QStringList found;
                std::atomic<bool> cancelled{false};
                CGpibFinder(library).Find([&](const CFoundResource &r) { found << r.resource; }, cancelled);
                QVERIFY2(found.contains("GPIB0::14::INSTR"), qPrintable(found.join(' ')));
            } else if (step == "-link") {
                link.reset();
            } else if (step == "-session") {
                session.reset();
            }
            QVERIFY2(IsLoaded(library) == loaded[i], qPrintable(step));
            // Whoever still has it can still use it.
            if (session)
                QCOMPARE(Query(*session, "*IDN?\r\n", error),
                         QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
            if (link) {
                CReply reply;
                QCOMPARE(link->WriteString("*IDN?\r\n"), 1);
                QVERIFY(link->ReadReply(reply));
                QCOMPARE(reply.bytes, QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
            }
        }
    }

    // A session that goes while a read it stopped still runs inside the
    // library leaves the library to that read, and it goes once the read
    // has ended.
    void aStoppedCallKeepsTheLibrary()
    {
        const QString library = FreshLibrary();
        QVERIFY(!library.isEmpty());
        CStopHooks stop;
        CSessionOptions options;
        options.ioTimeoutMs = 2000;
        options.hooks = &stop.hooks;
        QString error;
        {
            CGpibSession session(Resource(QStringLiteral("GPIB0::14::INSTR")), options, library);
            QVERIFY2(session.Open(error), qPrintable(error));
            // Nothing was asked: the read waits out the board's time-out.
            qputenv("TALLIX_SIM_GPIB_TIMEOUT_MS", "700");
            stop.Begin(std::chrono::milliseconds(50));
            CReply reply;
            QVERIFY(!session.Read(reply, error));
            qunsetenv("TALLIX_SIM_GPIB_TIMEOUT_MS");
            QVERIFY2(error.contains("stopped"), qPrintable(error));
        }
        QVERIFY(IsLoaded(library));
        QTRY_VERIFY_WITH_TIMEOUT(!IsLoaded(library), 10000);
    }

    void timeoutCodes_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<int>("code");
        QTest::newRow("1 ms") << 1 << 5;
        QTest::newRow("1.5 ms takes 3 ms") << 2 << 6;
        QTest::newRow("10 s") << 10000 << 13;
        QTest::newRow("10.001 s takes 30 s") << 10001 << 14;
        QTest::newRow("beyond 1000 s") << 2000000 << 17;
    }

    void timeoutCodes()
    {
        QFETCH(int, ms);
        QFETCH(int, code);
        QCOMPARE(CGpibSession::TimeoutCode(ms), code);
    }
};

QTEST_GUILESS_MAIN(TestGpibSession)
#include "tst_gpibsession.moc"
