// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/UiHooks.h"
#include "sessions/ResourceParser.h"
#include "sessions/visa/VisaFinder.h"
#include "sessions/visa/VisaLibrary.h"
#include "sessions/visa/VisaLibrarySession.h"
#include "tests/sessions/PulseClock.h"
#include "tests/sim/InstrumentReplies.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The session over a VISA library loaded at run time, against the simulated
// VISA library: the real loader, the real calls, and a trace of every call
// the library received.
class TestVisaLibrarySession : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tracePath;

    static QString simLibrary() { return QStringLiteral(TALLIX_SIM_LIBDIR "/libtallix-visa-sim.so"); }

    QStringList trace() const
    {
        QFile file(m_tracePath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList traced(const QString &call) const
    {
        return trace().filter(QRegularExpression(QStringLiteral("^") + call + QStringLiteral("\\b")));
    }

    static CResource resource(const QString &text)
    {
        CResource r;
        QString error;
        if (!ParseResource(text, r, error))
            r.text = text; // a name only the library may judge
        return r;
    }

    static std::unique_ptr<CVisaLibrarySession> open(const QString &text, const CSessionOptions &options = {})
    {
        auto session = std::make_unique<CVisaLibrarySession>(resource(text), options, simLibrary());
        QString error;
        if (!session->Open(error))
            qWarning("open: %s", qPrintable(error));
        return session;
    }

    static bool query(CVisaLibrarySession &session, const QByteArray &command, CReply &reply, QString &error)
    {
        return session.Write(std::string_view(command.constData(), command.size()), error) &&
               session.Read(reply, error);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tracePath = m_dir.filePath(QStringLiteral("visa.trace"));
        qputenv("TALLIX_SIM_VISA_TRACE", QFile::encodeName(m_tracePath));
        qunsetenv("TALLIX_SIM_GPIB_ADDRESS");
    }

    void init()
    {
        QFile::remove(m_tracePath);
        for (const char *knob : {"TALLIX_SIM_VISA_MAX_COUNT", "TALLIX_SIM_VISA_OPEN_STATUS",
                                 "TALLIX_SIM_VISA_READ_TIMEOUT", "TALLIX_VISA_LIBRARY"})
            qunsetenv(knob);
    }

    void readsWholeReplies_data()
    {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<int>("maxCount");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("reads");
        const QByteArray identity("KORVANE,TALLIX-SIM,SN0001,1.0\r\n");
        QTest::newRow("GPIB, one read")
            << "GPIB0::14::INSTR" << 0 << QByteArray("*IDN?\r\n") << identity << 1;
        QTest::newRow("LAN, short spelling")
            << "tcpip::127.0.0.1" << 0 << QByteArray("*IDN?\r\n") << identity << 1;
        QTest::newRow("USB, lower-case ids")
            << "USB0::0x1ab1::0x04ce::SIM0001::INSTR" << 0 << QByteArray("*IDN?\r\n") << identity << 1;
        QTest::newRow("chained past a small count")
            << "GPIB0::14::INSTR" << 7 << QByteArray("DATA? 100\r\n") << DataReply(100) << 15;
        QTest::newRow("count that divides the reply")
            << "GPIB0::14::INSTR" << 10 << QByteArray("DATA? 100\r\n") << DataReply(100) << 10;
        // LFs and a NUL inside: only the instrument's END ends the reply.
        QTest::newRow("block with LFs, chained")
            << "GPIB0::14::INSTR" << 3 << QByteArray("BYTES 2331340A000D410A\r\n")
            << QByteArray("#14\n\0\rA\n", 8) << 3;
    }

    void readsWholeReplies()
    {
        QFETCH(QString, resource);
        QFETCH(int, maxCount);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(int, reads);
        if (maxCount > 0)
            qputenv("TALLIX_SIM_VISA_MAX_COUNT", QByteArray::number(maxCount));
        CSessionOptions options;
        options.openTimeoutMs = 1234;
        options.ioTimeoutMs = 4321;
        auto session = open(resource, options);
        QVERIFY(session->IsOpen());

        CReply got;
        QString error;
        QVERIFY2(query(*session, command, got, error), qPrintable(error));
        QCOMPARE(got.bytes, reply);
        QCOMPARE(got.total, reply.size());
        QVERIFY(!got.cut);
        QCOMPARE(traced(QStringLiteral("viRead")).size(), reads);
        QCOMPARE(traced(QStringLiteral("viOpen")),
                 QStringList{QStringLiteral("viOpen %1 0 1234").arg(resource)});
        QCOMPARE(traced(QStringLiteral("viSetAttribute")),
                 QStringList{QStringLiteral("viSetAttribute 0x3FFF001A 4321")});
    }

    void replyPastTheBound_data()
    {
        QTest::addColumn<int>("maxCount");
        QTest::newRow("one read") << 0;
        QTest::newRow("chained reads") << 300;
    }

    void replyPastTheBound()
    {
        QFETCH(int, maxCount);
        if (maxCount > 0)
            qputenv("TALLIX_SIM_VISA_MAX_COUNT", QByteArray::number(maxCount));
        CSessionOptions options;
        options.maxReplyBytes = 1000;
        auto session = open(QStringLiteral("GPIB0::14::INSTR"), options);
        CReply got;
        QString error;
        QVERIFY2(query(*session, "DATA? 5000\r\n", got, error), qPrintable(error));
        QVERIFY(got.cut);
        QCOMPARE(got.total, 5000);
        QCOMPARE(got.bytes, DataReply(5000).left(1000));
        // Read to its end: nothing of it comes with the next reply.
        QVERIFY2(query(*session, "*IDN?\r\n", got, error), qPrintable(error));
        QCOMPARE(got.bytes, QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
    }

    void failingOpen_data()
    {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QByteArray>("forced");
        QTest::addColumn<QString>("message");
        QTest::newRow("no such instrument") << "GPIB0::5::INSTR" << QByteArray()
                                            << "VISA error 0xBFFF0011: No resource of that name is present.";
        QTest::newRow("not a resource name")
            << "scope" << QByteArray() << "VISA error 0xBFFF0012: The resource name is not valid.";
        QTest::newRow("busy") << "GPIB0::14::INSTR" << QByteArray("0xBFFF0072")
                              << "VISA error 0xBFFF0072: The resource is in use by another session.";
        QTest::newRow("a status without a description")
            << "GPIB0::14::INSTR" << QByteArray("0xBFFF00FE")
            << "VISA error 0xBFFF00FE: Unknown status 0xBFFF00FE.";
    }

    void failingOpen()
    {
        QFETCH(QString, resource);
        QFETCH(QByteArray, forced);
        QFETCH(QString, message);
        if (!forced.isEmpty())
            qputenv("TALLIX_SIM_VISA_OPEN_STATUS", forced);
        CVisaLibrarySession session(this->resource(resource), {}, simLibrary());
        QString error;
        QVERIFY(!session.Open(error));
        QCOMPARE(error, message);
        QVERIFY(!session.IsOpen());
        // The resource manager is not left open behind the failure.
        QCOMPARE(traced(QStringLiteral("viOpenDefaultRM")).size(), 1);
        QCOMPARE(traced(QStringLiteral("viClose")).size(), 1);
        QVERIFY(!session.Write("*IDN?\r\n", error));
        QCOMPARE(error, QStringLiteral("Resource '%1': the session is not open").arg(resource));
    }

    // A read that fails part-way leaves nothing of its reply to be taken for
    // the next one.
    void timedOutRead_data()
    {
        QTest::addColumn<int>("timeoutAt");
        QTest::addColumn<int>("kept");
        QTest::newRow("first read") << 1 << 0;
        QTest::newRow("third read") << 3 << 8;
    }

    void timedOutRead()
    {
        QFETCH(int, timeoutAt);
        QFETCH(int, kept);
        qputenv("TALLIX_SIM_VISA_MAX_COUNT", "4");
        qputenv("TALLIX_SIM_VISA_READ_TIMEOUT", QByteArray::number(timeoutAt));
        auto session = open(QStringLiteral("GPIB0::14::INSTR"));
        CReply got;
        QString error;
        QVERIFY(!query(*session, "DATA? 50\r\n", got, error));
        QCOMPARE(error, QStringLiteral(
                            "VISA error 0xBFFF0015: The time-out expired before the operation completed."));
        QCOMPARE(got.bytes, DataReply(50).left(kept));
        // The next call after the failed read, its description aside, clears.
        const QStringList calls = trace().filter(QRegularExpression(QStringLiteral("^(?!viStatusDesc)")));
        const qsizetype failed = calls.indexOf(QRegularExpression(QStringLiteral("^viRead .* 0xBFFF0015$")));
        QVERIFY(failed >= 0);
        QVERIFY2(calls.value(failed + 1) == QStringLiteral("viClear"),
                 qPrintable(calls.join(QLatin1Char('|'))));

        qunsetenv("TALLIX_SIM_VISA_READ_TIMEOUT");
        QVERIFY(session->IsOpen());
        QVERIFY2(query(*session, "*IDN?\r\n", got, error), qPrintable(error));
        QCOMPARE(got.bytes, QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
    }

    void stoppedRead()
    {
        qputenv("TALLIX_SIM_VISA_MAX_COUNT", "10");
        CUiHooks hooks;
        int pulses = 0;
        hooks.pulse = [&pulses](const CProgress &progress) {
            return progress.kind == CProgress::Kind::Reply && ++pulses < 3;
        };
        CSessionOptions options;
        options.hooks = &hooks;
        auto session = open(QStringLiteral("GPIB0::14::INSTR"), options);
        CReply got;
        QString error;
        QVERIFY(!query(*session, "DATA? 100\r\n", got, error));
        QCOMPARE(error,
                 QStringLiteral("Resource 'GPIB0::14::INSTR': the read was stopped; the rest of the reply "
                                "was dropped"));
        QCOMPARE(got.bytes, DataReply(100).left(30));
        QCOMPARE(trace().last(), QStringLiteral("viClear"));
        hooks.pulse = nullptr;
        QVERIFY2(query(*session, "*IDN?\r\n", got, error), qPrintable(error));
        QCOMPARE(got.bytes, QByteArray("KORVANE,TALLIX-SIM,SN0001,1.0\r\n"));
    }

    // A viRead that blocks until its time-out: the window gets its turn
    // all the while.
    void pulsesWhileTheReadBlocks()
    {
        CPulseClock clock;
        CSessionOptions options;
        options.ioTimeoutMs = 2000;
        options.hooks = &clock.hooks;
        auto session = open(QStringLiteral("GPIB0::14::INSTR"), options);
        QVERIFY(session->IsOpen());
        qputenv("TALLIX_SIM_VISA_WAIT_MS", "600");
        clock.Start();
        CReply got;
        QString error;
        const bool read = session->Read(got, error);
        qunsetenv("TALLIX_SIM_VISA_WAIT_MS");
        QVERIFY(!read);
        QCOMPARE(error, QStringLiteral(
                            "VISA error 0xBFFF0015: The time-out expired before the operation completed."));
        QVERIFY2(clock.LongestGap() < std::chrono::milliseconds(100),
                 qPrintable(QString::number(clock.LongestGap().count())));
    }

    void statusByte_data()
    {
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<int>("status");
        QTest::newRow("idle") << QByteArray() << 0x00;
        QTest::newRow("reply waiting") << QByteArray("*IDN?\n") << 0x10;
        QTest::newRow("service request") << QByteArray("SRQ\n") << 0x40;
        QTest::newRow("both") << QByteArray("SRQ\n*IDN?\n") << 0x50;
    }

    void statusByte()
    {
        QFETCH(QByteArray, commands);
        QFETCH(int, status);
        auto session = open(QStringLiteral("USB0::0x1AB1::0x04CE::SIM0001::INSTR"));
        QString error;
        QVERIFY(session->Clear(error)); // what earlier rows left behind
        if (!commands.isEmpty())
            QVERIFY2(session->Write(std::string_view(commands.constData(), commands.size()), error),
                     qPrintable(error));
        std::uint8_t stb = 0xFF;
        QVERIFY2(session->ReadStatusByte(stb, error), qPrintable(error));
        QCOMPARE(int(stb), status);
    }

    void clearDropsTheReply()
    {
        auto session = open(QStringLiteral("GPIB0::14::INSTR"));
        QString error;
        QVERIFY(session->Write("*IDN?\r\n", error));
        QVERIFY2(session->Clear(error), qPrintable(error));
        QCOMPARE(traced(QStringLiteral("viClear")).size(), 1);
        CReply got;
        QVERIFY(!session->Read(got, error));
        QCOMPARE(error, QStringLiteral(
                            "VISA error 0xBFFF0015: The time-out expired before the operation completed."));
        QVERIFY(got.IsEmpty());
    }

    void timeoutFollowsTheOptions()
    {
        auto session = open(QStringLiteral("GPIB0::14::INSTR"));
        CSessionOptions options = session->Options();
        options.ioTimeoutMs = 777;
        session->SetOptions(options);
        QString error;
        QVERIFY(session->Write("*IDN?\r\n", error));
        QVERIFY(session->Write("*IDN?\r\n", error));
        QCOMPARE(traced(QStringLiteral("viSetAttribute")),
                 (QStringList{QStringLiteral("viSetAttribute 0x3FFF001A 10000"),
                              QStringLiteral("viSetAttribute 0x3FFF001A 777")}));
    }

    void libraryThatDoesNotServe_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        const QString gpib = QStringLiteral(TALLIX_SIM_LIBDIR "/libgpib-32.so");
        QTest::newRow("missing") << "/nonexistent/libvisa.so"
                                 << "The VISA library '/nonexistent/libvisa.so' could not be loaded: ";
        QTest::newRow("not a VISA library")
            << gpib
            << gpib + "' is not a VISA library: it lacks viOpenDefaultRM, viOpen, viClose, viSetAttribute, "
                      "viGetAttribute, viWrite, viRead, viReadSTB, viClear, viFindRsrc, viFindNext, "
                      "viStatusDesc";
        QTest::newRow("bare file name")
            << "libtallix-visa-sim.so"
            << "The VISA library 'libtallix-visa-sim.so' is not given by its full path";
    }

    void libraryThatDoesNotServe()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        CVisaLibrarySession session(resource(QStringLiteral("GPIB0::14::INSTR")), {}, path);
        QString error;
        QVERIFY(!session.Open(error));
        QVERIFY2(error.startsWith(message) || error.endsWith(message), qPrintable(error));
        QVERIFY(!session.IsOpen());
    }

    void findsInstruments_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("simulated library")
            << simLibrary() << false
            << QStringList{QStringLiteral("TCPIP0::127.0.0.1::inst0::INSTR"),
                           QStringLiteral("GPIB0::14::INSTR"),
                           QStringLiteral("USB0::0x1AB1::0x04CE::SIM0001::INSTR")};
        QTest::newRow("cancelled") << simLibrary() << true << QStringList();
        QTest::newRow("no library") << "/nonexistent/libvisa.so" << false << QStringList();
    }

    void findsInstruments()
    {
        QFETCH(QString, library);
        QFETCH(bool, cancelled);
        QFETCH(QStringList, expected);
        CVisaFinder finder(library);
        QCOMPARE(finder.Name(), QStringLiteral("VISA library ") + library.section(QLatin1Char('/'), -1));
        const std::atomic<bool> stop(cancelled);
        QStringList found;
        finder.Find(
            [&found](const CFoundResource &resource) {
                QCOMPARE(resource.description, QStringLiteral("found by libtallix-visa-sim.so"));
                QVERIFY(resource.mayAskIdentity);
                found << resource.resource;
            },
            stop);
        QCOMPARE(found, expected);
        if (!expected.isEmpty()) {
            QCOMPARE(traced(QStringLiteral("viFindRsrc")),
                     QStringList{QStringLiteral("viFindRsrc ?*::INSTR")});
            // The find list and the resource manager are both closed.
            QCOMPARE(traced(QStringLiteral("viClose")).size(), 2);
        }
    }

    void installedLibraries_data()
    {
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<bool>("listed");
        QTest::newRow("an existing file") << QFile::encodeName(simLibrary()) << true;
        QTest::newRow("a missing file") << QByteArray("/nonexistent/libvisa.so") << false;
        QTest::newRow("a bare name") << QByteArray("libtallix-visa-sim.so") << false;
        QTest::newRow("a folder") << QByteArray(TALLIX_SIM_LIBDIR) << false;
    }

    void installedLibraries()
    {
        QFETCH(QByteArray, chosen);
        QFETCH(bool, listed);
        qputenv("TALLIX_VISA_LIBRARY", chosen);
        const QStringList libraries = CVisaLibrary::InstalledLibraries();
        QCOMPARE(!libraries.isEmpty() && libraries.first() == QFile::decodeName(chosen), listed);
        for (const QString &path : libraries)
            QVERIFY2(QFileInfo(path).isFile() && QFileInfo(path).isAbsolute(), qPrintable(path));
    }
};

QTEST_GUILESS_MAIN(TestVisaLibrarySession)
#include "tst_visalibrarysession.moc"
