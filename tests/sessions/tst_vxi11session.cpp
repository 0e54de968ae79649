// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/UiHooks.h"
#include "sessions/SessionTable.h"
#include "sessions/vxi11/Vxi11Finder.h"
#include "sessions/vxi11/Vxi11Session.h"
#include "tests/sessions/StopHooks.h"
#include "tests/sim/InstrumentReplies.h"
#include "tests/sim/PrivateNetwork.h"
#include "tests/sim/Vxi11ServerProcess.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>

namespace {

const QByteArray IDENTITY("KORVANE,TALLIX-SIM,SN0001,1.0\r\n");
// A name that only the silent name server is asked for.
const QString UNANSWERED_NAME = QStringLiteral("held.invalid");
bool g_silentResolver = false;

std::unique_ptr<CSession> MakeVxi11(const QString &device, int ioTimeoutMs,
                                    std::int64_t maxReplyBytes = DEFAULT_MAX_REPLY_BYTES,
                                    const CUiHooks *hooks = nullptr,
                                    const QString &host = QStringLiteral("127.0.0.1"),
                                    int openTimeoutMs = 3000)
{
    CResource resource;
    resource.text = QStringLiteral("TCPIP::%1::%2::INSTR").arg(host, device);
    resource.interfaceName = QStringLiteral("TCPIP");
    resource.resourceClass = ResourceClass::Instr;
    resource.host = host;
    resource.lanDevice = device;
    CSessionOptions options;
    options.openTimeoutMs = openTimeoutMs;
    options.ioTimeoutMs = ioTimeoutMs;
    options.maxReplyBytes = maxReplyBytes;
    options.hooks = hooks;
    QString error;
    auto session = MakeSession(resource, options, error);
    if (!session)
        qWarning("%s", qPrintable(error));
    return session;
}

bool Query(CSession &session, const QByteArray &command, CReply &reply, QString &error)
{
    return session.Write(std::string_view(command.constData(), command.size()), error) &&
           session.Read(reply, error);
}

// The trace's lines that start with `call`.
QStringList Calls(const QStringList &trace, const QString &call)
{
    return trace.filter(QRegularExpression(QStringLiteral("^") + call + QStringLiteral(" ")));
}

} // namespace

// The VXI-11 session against the simulated instrument, served with its own
// portmapper in a private network.
class TestVxi11Session : public QObject
{
    Q_OBJECT

private slots:
    void query_data()
    {
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<QString>("device");
        QTest::addColumn<qint64>("maxReplyBytes");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("expected"); // what is kept
        QTest::addColumn<qint64>("total");

        const qint64 whole = DEFAULT_MAX_REPLY_BYTES;
        QTest::newRow("identity") << QStringList() << QStringLiteral("inst0") << whole
                                  << QByteArray("*IDN?\r\n") << IDENTITY << qint64(IDENTITY.size());
        QTest::newRow("1 MiB block") << QStringList() << QStringLiteral("inst0") << whole
                                     << QByteArray("DATA? 1048576\r\n") << DataReply(1 << 20)
                                     << qint64(1 << 20);
        // More than one read's worth: the reply comes in two reads.
        QTest::newRow("longer than one read")
            << QStringList() << QStringLiteral("inst0") << whole << QByteArray("DATA? 1500000\r\n")
            << DataReply(1500000) << qint64(1500000);
        QTest::newRow("device sends less than asked")
            << QStringList{QStringLiteral("--max-read"), QStringLiteral("777")} << QStringLiteral("inst0")
            << whole << QByteArray("DATA? 5000\r\n") << DataReply(5000) << qint64(5000);
        QTest::newRow("gateway address")
            << QStringList{QStringLiteral("--device"), QStringLiteral("gpib0,14")}
            << QStringLiteral("gpib0,14") << whole << QByteArray("*IDN?\r\n") << IDENTITY
            << qint64(IDENTITY.size());
        QTest::newRow("longer than the bound")
            << QStringList() << QStringLiteral("inst0") << qint64(MIN_MAX_REPLY_BYTES)
            << QByteArray("DATA? 3000000\r\n") << DataReply(3000000).left(MIN_MAX_REPLY_BYTES)
            << qint64(3000000);
    }

    // The reply comes whole (or cut at the bound but read to its end), and
    // the next query is answered by its own reply.
    void query()
    {
        QFETCH(QStringList, serverArguments);
        QFETCH(QString, device);
        QFETCH(qint64, maxReplyBytes);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, expected);
        QFETCH(qint64, total);

        CVxi11ServerProcess server;
        QVERIFY2(server.Start(serverArguments), qPrintable(server.Errors()));
        auto session = MakeVxi11(device, 5000, maxReplyBytes);
        QVERIFY(session);
        QString error;
        QVERIFY2(session->Open(error), qPrintable(error));
        CReply reply;
        QVERIFY2(Query(*session, command, reply, error), qPrintable(error));
        QCOMPARE(reply.total, total);
        QCOMPARE(reply.cut, total > expected.size());
        QVERIFY(reply.bytes == expected);

        QVERIFY2(Query(*session, "ECHO next\r\n", reply, error), qPrintable(error));
        QCOMPARE(reply.bytes, QByteArray("next\r\n"));
        session->Close();
        QVERIFY(!session->IsOpen());
        QCOMPARE(Calls(server.Trace(), QStringLiteral("destroy_link")).size(), 1);
    }

    void longWriteGoesInPieces_data()
    {
        QTest::addColumn<int>("maxRecvSize");
        QTest::addColumn<int>("takeAtMost"); // 0: the device takes every write whole
        QTest::addColumn<int>("textLength");

        // ECHO, a blank, the text and CR LF: 7 bytes besides the text.
        QTest::newRow("one byte over one piece") << 1024 << 0 << 1024 - 7 + 1;
        QTest::newRow("exactly two pieces") << 1024 << 0 << 2048 - 7;
        QTest::newRow("five pieces and a bit") << 1024 << 0 << 5000;
        QTest::newRow("fits one piece") << 4096 << 0 << 100;
        QTest::newRow("device takes less than offered") << 1024 << 1000 << 5000;
    }

    // No piece is longer than the device takes, only the last carries END,
    // and the device hears the whole message once, in order.
    void longWriteGoesInPieces()
    {
        QFETCH(int, maxRecvSize);
        QFETCH(int, takeAtMost);
        QFETCH(int, textLength);

        CVxi11ServerProcess server;
        QStringList arguments{QStringLiteral("--max-recv-size"), QString::number(maxRecvSize)};
        if (takeAtMost > 0)
            arguments << QStringLiteral("--take-at-most") << QString::number(takeAtMost);
        QVERIFY2(server.Start(arguments), qPrintable(server.Errors()));
        auto session = MakeVxi11(QStringLiteral("inst0"), 5000);
        QString error;
        QVERIFY2(session->Open(error), qPrintable(error));
        QCOMPARE(static_cast<CVxi11Session &>(*session).MaxRecvSize(), std::uint32_t(maxRecvSize));

        QByteArray text(textLength, 'x');
        for (int i = 0; i < textLength; ++i)
            text[i] = static_cast<char>('a' + i % 26);
        CReply reply;
        QVERIFY2(Query(*session, "ECHO " + text + "\r\n", reply, error), qPrintable(error));
        QCOMPARE(reply.bytes, text + "\r\n");

        const QStringList writes = Calls(server.Trace(), QStringLiteral("device_write"));
        const int message = textLength + 7;
        const int piece = takeAtMost > 0 ? std::min(takeAtMost, maxRecvSize) : maxRecvSize;
        QCOMPARE(writes.size(), (message + piece - 1) / piece);
        static const QRegularExpression pattern(
            QStringLiteral("size=(\\d+) flags=(\\d+) -> error 0 size (\\d+)"));
        int taken = 0;
        for (int i = 0; i < writes.size(); ++i) {
            const QRegularExpressionMatch match = pattern.match(writes[i]);
            QVERIFY2(match.hasMatch(), qPrintable(writes[i]));
            QVERIFY2(match.captured(1).toInt() <= maxRecvSize, qPrintable(writes[i]));
            // END goes with the last byte of the message, whichever write
            // carries it.
            QCOMPARE((match.captured(2).toInt() & 8) != 0, match.captured(1).toInt() == message - taken);
            taken += match.captured(3).toInt();
        }
        QCOMPARE(taken, message);
    }

    void failure_data()
    {
        QTest::addColumn<bool>("serve");
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no portmapper") << false << QStringList() << QStringLiteral("inst0") << false
                                       << QStringLiteral("No VXI-11 server at 127.0.0.1");
        QTest::newRow("unknown device") << true << QStringList() << QStringLiteral("gpib0,15") << false
                                        << QStringLiteral("VXI-11 error 3: device not accessible");
        QTest::newRow("gateway address not served")
            << true << QStringList{QStringLiteral("--device"), QStringLiteral("gpib0,14")}
            << QStringLiteral("inst0") << false << QStringLiteral("VXI-11 error 3: device not accessible");
        QTest::newRow("device locked by another link")
            << true << QStringList{QStringLiteral("--locked")} << QStringLiteral("inst0") << true
            << QStringLiteral("VXI-11 error 11: device locked by another link");
    }

    // Each failure is told as a sentence that names its cause; a link that
    // opened stays usable for what the failure did not touch.
    void failure()
    {
        QFETCH(bool, serve);
        QFETCH(QStringList, serverArguments);
        QFETCH(QString, device);
        QFETCH(bool, opens);
        QFETCH(QString, expected);

        CVxi11ServerProcess server;
        if (serve)
            QVERIFY2(server.Start(serverArguments), qPrintable(server.Errors()));
        auto session = MakeVxi11(device, 300);
        QString error;
        QCOMPARE(session->Open(error), opens);
        if (opens) {
            QVERIFY(!session->Write("*IDN?\r\n", error));
            QVERIFY(session->IsOpen());
        } else {
            QVERIFY(!session->IsOpen());
        }
        QVERIFY2(error.contains(expected), qPrintable(error));
    }

    void readEndsCleanly_data()
    {
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<bool>("stopOnceBytesCame"); // else no progress hooks
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("aborted");

        // Nothing was asked: the device ends the read itself with its
        // time-out.
        QTest::newRow("device times out") << QStringList() << QByteArray() << false
                                          << QStringLiteral("VXI-11 error 15: I/O timeout") << false;
        // The device holds the read past its time-out: only the abort
        // channel frees the core channel for the clear.
        QTest::newRow("device holds the read")
            << QStringList{QStringLiteral("--late-ms"), QStringLiteral("4000"),
                           QStringLiteral("--late-reads"), QStringLiteral("1")}
            << QByteArray("*IDN?\r\n") << false << QStringLiteral("aborted and the device cleared") << true;
        // Stop between two pieces of a reply: its rest must not come as the
        // next reply.
        QTest::newRow("stopped by the user")
            << QStringList{QStringLiteral("--max-read"), QStringLiteral("1000")}
            << QByteArray("DATA? 5000\r\n") << true << QStringLiteral("stopped; the device was cleared")
            << false;
    }

    // A read that cannot end leaves nothing of its reply behind: the device
    // has no reply waiting (no MAV) and the next query gets its own.
    void readEndsCleanly()
    {
        QFETCH(QStringList, serverArguments);
        QFETCH(QByteArray, command);
        QFETCH(bool, stopOnceBytesCame);
        QFETCH(QString, expected);
        QFETCH(bool, aborted);

        CVxi11ServerProcess server;
        QVERIFY2(server.Start(serverArguments), qPrintable(server.Errors()));
        CUiHooks hooks;
        if (stopOnceBytesCame)
            hooks.pulse = [&](const CProgress &progress) { return progress.done == 0; };
        auto session = MakeVxi11(QStringLiteral("inst0"), 400, DEFAULT_MAX_REPLY_BYTES, &hooks);
        QString error;
        QVERIFY2(session->Open(error), qPrintable(error));
        if (!command.isEmpty())
            QVERIFY2(session->Write(std::string_view(command.constData(), command.size()), error),
                     qPrintable(error));
        CReply reply;
        QVERIFY(!session->Read(reply, error));
        QVERIFY2(error.contains(expected), qPrintable(error));
        QVERIFY2(session->IsOpen(), qPrintable(error));

        const QStringList trace = server.Trace();
        QCOMPARE(Calls(trace, QStringLiteral("device_abort")).size(), aborted ? 1 : 0);
        QCOMPARE(Calls(trace, QStringLiteral("device_clear")).size(), 1);
        std::uint8_t status = 0xFF;
        QVERIFY2(session->ReadStatusByte(status, error), qPrintable(error));
        QCOMPARE(status & 0x10, 0);
        QVERIFY2(Query(*session, "ECHO next\r\n", reply, error), qPrintable(error));
        QCOMPARE(reply.bytes, QByteArray("next\r\n"));
    }

    void stopGivesTheWindowBack_data()
    {
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<QString>("stopped");  // the call that the device keeps
        QTest::addColumn<bool>("serverAgain"); // the next command needs a server that answers
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("host");

        const QString where = QStringLiteral("inst0 at 127.0.0.1");
        const QString opening = QStringLiteral("Opening the link to %1 stopped").arg(where);
        QTest::newRow("portmapper never answers") << QStringList{QStringLiteral("--silent-portmapper")}
                                                  << QStringLiteral("open") << true << opening << QString();
        QTest::newRow("create_link held")
            << QStringList{QStringLiteral("--hold-create-link"), QStringLiteral("60000"),
                           QStringLiteral("--hold-count"), QStringLiteral("1")}
            << QStringLiteral("open") << false << opening << QString();
        QTest::newRow("write held")
            << QStringList{QStringLiteral("--hold-write"), QStringLiteral("60000"),
                           QStringLiteral("--hold-count"), QStringLiteral("1")}
            << QStringLiteral("write") << false
            << QStringLiteral("Write to %1 stopped; the write was aborted and the device cleared").arg(where)
            << QString();
        QTest::newRow("read held")
            << QStringList{QStringLiteral("--late-ms"), QStringLiteral("60000"),
                           QStringLiteral("--late-reads"), QStringLiteral("1")}
            << QStringLiteral("read") << false
            << QStringLiteral("Read from %1 stopped; the read was aborted and the device cleared").arg(where)
            << QString();
        QTest::newRow("clear held")
            << QStringList{QStringLiteral("--hold-clear"), QStringLiteral("60000"),
                           QStringLiteral("--hold-count"), QStringLiteral("1")}
            << QStringLiteral("clear") << false
            << QStringLiteral("Device clear of %1 stopped; the link was closed").arg(where) << QString();
        // The resolver waits for a name server that never answers, and its
        // lookup cannot be cut short: the open stops without it.
        QTest::newRow("host name never resolved")
            << QStringList() << QStringLiteral("open") << false
            << QStringLiteral("Opening the link to inst0 at %1 stopped").arg(UNANSWERED_NAME)
            << UNANSWERED_NAME;
    }

    // Whatever call the device keeps, the window has its pulses all the
    // while, Stop gives it back within a second, and the next command gets
    // its own reply.
    void stopGivesTheWindowBack()
    {
        QFETCH(QStringList, serverArguments);
        QFETCH(QString, stopped);
        QFETCH(bool, serverAgain);
        QFETCH(QString, expected);
        QFETCH(QString, host);
        if (host.isEmpty())
            host = QStringLiteral("127.0.0.1");
        else if (!g_silentResolver)
            QSKIP("no mount namespace here for a name server that never answers");

        auto server = std::make_unique<CVxi11ServerProcess>();
        QVERIFY2(server->Start(serverArguments), qPrintable(server->Errors()));
        CStopHooks stop;
        auto session = MakeVxi11(QStringLiteral("inst0"), 10000, DEFAULT_MAX_REPLY_BYTES, &stop.hooks, host);
        QString error;
        if (stopped != QLatin1String("open")) {
            QVERIFY2(session->Open(error), qPrintable(error));
            if (stopped == QLatin1String("read"))
                QVERIFY2(session->Write("*IDN?\r\n", error), qPrintable(error));
        }

        stop.Begin(std::chrono::milliseconds(300));
        CReply reply;
        bool done = false;
        if (stopped == QLatin1String("open"))
            done = session->Open(error);
        else if (stopped == QLatin1String("write"))
            done = session->Write("*IDN?\r\n", error);
        else if (stopped == QLatin1String("read"))
            done = session->Read(reply, error);
        else
            done = session->Clear(error);
        const CStopHooks::CWatch watch = stop.End();
        QVERIFY(!done);
        QVERIFY2(watch.sinceStop && *watch.sinceStop < std::chrono::milliseconds(1500),
                 qPrintable(watch.Text()));
        QVERIFY2(watch.largestGap < std::chrono::milliseconds(100), qPrintable(watch.Text()));
        QVERIFY2(error.contains(expected), qPrintable(error));

        if (serverAgain) {
            server = std::make_unique<CVxi11ServerProcess>();
            QVERIFY2(server->Start({}), qPrintable(server->Errors()));
        }
        stop.Begin();
        // A name that cannot be found: the next command is for another
        // resource, and so another session.
        if (host == UNANSWERED_NAME)
            session = MakeVxi11(QStringLiteral("inst0"), 10000, DEFAULT_MAX_REPLY_BYTES, &stop.hooks);
        if (!session->IsOpen())
            QVERIFY2(session->Open(error), qPrintable(error));
        QVERIFY2(Query(*session, "ECHO next\r\n", reply, error), qPrintable(error));
        QCOMPARE(reply.bytes, QByteArray("next\r\n"));
        QVERIFY2(stop.End().largestGap < std::chrono::milliseconds(100), qPrintable(stop.End().Text()));
    }

    void statusByteAndClear_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("status");

        QTest::newRow("reply waiting") << QByteArray("*IDN?\r\n") << 0x10;
        QTest::newRow("service requested") << QByteArray("SRQ\r\n") << 0x40;
        QTest::newRow("nothing to tell") << QByteArray("*CLS\r\n") << 0x00;
    }

    // The status byte is the device's; a clear drops the reply that waits.
    void statusByteAndClear()
    {
        QFETCH(QByteArray, command);
        QFETCH(int, status);

        CVxi11ServerProcess server;
        QVERIFY2(server.Start({}), qPrintable(server.Errors()));
        auto session = MakeVxi11(QStringLiteral("inst0"), 300);
        QString error;
        QVERIFY2(session->Open(error), qPrintable(error));
        QVERIFY2(session->Write(std::string_view(command.constData(), command.size()), error),
                 qPrintable(error));
        std::uint8_t read = 0xFF;
        QVERIFY2(session->ReadStatusByte(read, error), qPrintable(error));
        QCOMPARE(int(read), status);

        QVERIFY2(session->Clear(error), qPrintable(error));
        QVERIFY2(session->ReadStatusByte(read, error), qPrintable(error));
        QCOMPARE(read & 0x10, 0);
        CReply reply;
        QVERIFY(!session->Read(reply, error));
        QVERIFY2(error.contains(QStringLiteral("VXI-11 error 15")), qPrintable(error));
    }

    void find_data()
    {
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("finds the instrument")
            << false << QStringList{QStringLiteral("TCPIP::127.0.0.1::INSTR")};
        QTest::newRow("cancelled") << true << QStringList();
    }

    // The broadcast reaches the portmapper of this network's instrument, and
    // what it finds opens.
    void find()
    {
        QFETCH(bool, cancelled);
        QFETCH(QStringList, expected);

        CVxi11ServerProcess server;
        QVERIFY2(server.Start({QStringLiteral("--address"), QStringLiteral("0.0.0.0")}),
                 qPrintable(server.Errors()));
        std::unique_ptr<CFinder> finder;
        for (const CSessionRow &row : SessionTable())
            if (QLatin1String(row.interfaceName) == QLatin1String("TCPIP") && row.resourceClass == ResourceClass::Instr)
                finder = row.makeFinder();
        QVERIFY(finder);
        const std::atomic<bool> stop(cancelled);
        QStringList found;
        finder->Find([&](const CFoundResource &resource) { found << resource.resource; }, stop);
        QCOMPARE(found, expected);
        if (found.isEmpty())
            return;
        auto session = MakeVxi11(QStringLiteral("inst0"), 2000);
        QString error;
        QVERIFY2(session->Open(error), qPrintable(error));
    }
};

int main(int argc, char **argv)
{
    EnterPrivateNetwork(argc, argv);
    g_silentResolver = UseSilentResolver();
    QCoreApplication app(argc, argv);
    TestVxi11Session test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vxi11session.moc"
