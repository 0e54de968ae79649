// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// Stop against a peer that holds the call, for every kind of session behind
// the VISA Resource link: the time from the first pulse that says stop to
// the session's call returning, and the longest the call went without a
// pulse; then the next command on the same session, which must get its own
// reply. Median and worst of the rounds each.
//
// The whole program runs in a network of its own (port 111 for VXI-11); the
// USBTMC rows run in a child of it that preloads the simulated usbtmc
// driver, which stands in for /dev/usbtmc* in the whole process.
//
//   bench_stop [--rounds N] [--only TEXT]
//     N rounds of each case (default 5); only the cases whose names hold TEXT
#include "BenchResult.h"
#include "BenchSupport.h"
#include "common/UiHooks.h"
#include "sessions/gpib/GpibSession.h"
#include "sessions/serial/SerialOptions.h"
#include "sessions/ResourceParser.h"
#include "sessions/SessionTable.h"
#include "sessions/usbtmc/UsbtmcDevice.h"
#include "tests/sim/PrivateNetwork.h"
#include "tests/sim/ScpiServerProcess.h"
#include "tests/sim/Vxi11ServerProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto STOP_AFTER = std::chrono::milliseconds(300);
constexpr double STOP_TARGET_MS = 1000;
constexpr double GAP_TARGET_MS = 40;
// How long the simulated libraries block a read with nothing to read: well
// past the Stop and its target, so that only the Stop can end it in time.
constexpr const char *LIBRARY_BLOCK_MS = "3000";
const QByteArray IDENTITY("KORVANE,TALLIX-SIM,SN0001,1.0");

double MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The window's pulse as the session meets it: from `STOP_AFTER` on, every
// pulse says stop, as the window's do until the command ends.
class CStopPulse
{
public:
    CStopPulse()
    {
        hooks.pulse = [this](const CProgress &) {
            const Clock::time_point now = Clock::now();
            m_largestGapMs = std::max(m_largestGapMs, MsBetween(m_last, now));
            m_last = now;
            if (!m_stopping || now < m_start + STOP_AFTER)
                return true;
            if (!m_stopped)
                m_stopped = now;
            return false;
        };
    }

    void Begin(bool stopping)
    {
        m_start = m_last = Clock::now();
        m_stopping = stopping;
        m_stopped.reset();
        m_largestGapMs = 0;
    }

    // The time from the first pulse that said stop to now (-1: none did),
    // and the longest the call went without a pulse, its start and end
    // included.
    void End(double &sinceStopMs, double &largestGapMs) const
    {
        const Clock::time_point end = Clock::now();
        sinceStopMs = m_stopped ? MsBetween(*m_stopped, end) : -1;
        largestGapMs = std::max(m_largestGapMs, MsBetween(m_last, end));
    }

    CUiHooks hooks;

private:
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_last = m_start;
    bool m_stopping = false;
    std::optional<Clock::time_point> m_stopped;
    double m_largestGapMs = 0;
};

struct CRound
{
    double stopMs = -1;
    double gapMs = -1;
    double nextMs = -1;
    double nextGapMs = -1;
    bool stopped = false; // the held call gave control back, and said so
    bool nextOk = false;
    QString said;  // what the stopped call told the user
    QString wrong; // what went wrong, when the round does not count
};

CSessionOptions Options(const CStopPulse &pulse, int ioTimeoutMs)
{
    CSessionOptions options;
    options.openTimeoutMs = 5000;
    options.ioTimeoutMs = ioTimeoutMs;
    options.hooks = &pulse.hooks;
    return options;
}

std::unique_ptr<CSession> Open(const QString &resource, const CSessionOptions &options, CRound &round,
                               const QString &library = QString())
{
    QString error;
    std::unique_ptr<CSession> session = SessionFor(resource, options, library, error);
    if (session && session->Open(error))
        return session;
    round.wrong = QStringLiteral("%1 did not open: %2").arg(resource, error);
    return nullptr;
}

bool Send(CSession &session, const QByteArray &command, CRound &round)
{
    QString error;
    if (session.Write(std::string_view(command.constData(), static_cast<std::size_t>(command.size())), error))
        return true;
    round.wrong = QStringLiteral("sending %1 failed: %2").arg(QString::fromLatin1(command.trimmed()), error);
    return false;
}

// The call the peer holds, stopped; then, once `between` has run, the next
// query on the same session (opened again where the stop closed it), which
// must be answered by `expected`.
void StopThenNext(CStopPulse &pulse, CSession &session, const std::function<bool(QString &)> &held,
                  const QByteArray &next, const QByteArray &expected, CRound &round,
                  const std::function<void()> &between = {})
{
    QString error;
    pulse.Begin(true);
    const bool ended = held(error);
    pulse.End(round.stopMs, round.gapMs);
    round.said = error;
    if (ended || round.stopMs < 0) {
        round.wrong =
            ended ? QStringLiteral("the held call ended by itself") : QStringLiteral("no pulse came");
        return;
    }
    round.stopped = true;
    if (between)
        between();
    pulse.Begin(false);
    const Clock::time_point start = Clock::now();
    CReply reply;
    const bool answered =
        (session.IsOpen() || session.Open(error)) &&
        session.Write(std::string_view(next.constData(), static_cast<std::size_t>(next.size())), error) &&
        session.Read(reply, error);
    round.nextMs = MsBetween(start, Clock::now());
    double neverStopped = 0;
    pulse.End(neverStopped, round.nextGapMs);
    round.nextOk = answered && reply.bytes == expected;
    if (!round.nextOk)
        round.wrong = answered ? QStringLiteral("the next query got \"%1\"")
                                     .arg(QString::fromLatin1(reply.bytes.left(80).toPercentEncoding(" ,.:")))
                               : QStringLiteral("the next query failed: %1").arg(error);
}

bool ReadHeld(CSession &session, QString &error)
{
    CReply reply;
    return session.Read(reply, error);
}

// One kind of session against one peer that holds the call.
struct CCase
{
    QString what;
    // One round; `round.wrong` says why it does not count.
    std::function<void(CStopPulse &, CRound &)> round;
    // Set when the case cannot be made here at all.
    QString skipped;
};

// The SCPI instrument on a raw socket, started with `arguments`; `plainAfter`:
// the peer is replaced by a plain one on the same port for the next query.
void SocketRound(CStopPulse &pulse, CRound &round, const QStringList &arguments, const QByteArray &command,
                 bool plainAfter)
{
    auto server = std::make_unique<CScpiServerProcess>();
    const int port = server->Start(arguments);
    if (port <= 0) {
        round.wrong = QStringLiteral("the simulated SCPI server did not start: ") + server->Errors();
        return;
    }
    auto session =
        Open(QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(port), Options(pulse, 10000), round);
    if (!session || !Send(*session, command, round))
        return;
    StopThenNext(
        pulse, *session, [&](QString &error) { return ReadHeld(*session, error); }, "*IDN?\n",
        IDENTITY + '\n', round,
        [&]() {
            if (!plainAfter)
                return;
            server = std::make_unique<CScpiServerProcess>();
            server->Start({QStringLiteral("--port"), QString::number(port)});
        });
}

// The simulated VXI-11 instrument, started afresh each round since it holds
// only its first such call.
void Vxi11Round(CStopPulse &pulse, CRound &round, const QStringList &arguments, bool writeHeld)
{
    CVxi11ServerProcess server;
    if (!server.Start(arguments, false)) {
        round.wrong = QStringLiteral("the simulated VXI-11 instrument did not start: ") + server.Errors();
        return;
    }
    auto session = Open(QStringLiteral("TCPIP::127.0.0.1::inst0::INSTR"), Options(pulse, 10000), round);
    if (!session || (!writeHeld && !Send(*session, "*IDN?\r\n", round)))
        return;
    StopThenNext(
        pulse, *session,
        [&](QString &error) {
            return writeHeld ? session->Write("*IDN?\r\n", error) : ReadHeld(*session, error);
        },
        "ECHO next\r\n", "next\r\n", round);
}

// The driver keeps the transfer until its time-out of 3 s; only the first
// reply since the instrument was plugged in is late, so it is plugged in
// anew each round.
void UsbtmcRound(CStopPulse &pulse, CRound &round)
{
    qputenv("TALLIX_SIM_USBTMC_UNPLUGGED", "1");
    CUsbtmcDevice::List();
    qunsetenv("TALLIX_SIM_USBTMC_UNPLUGGED");
    auto session = Open(QStringLiteral("USB0::0x1AB1::0x04CE::TLX0001::INSTR"), Options(pulse, 3000), round);
    if (!session || !Send(*session, "*IDN?\n", round))
        return;
    StopThenNext(
        pulse, *session, [&](QString &error) { return ReadHeld(*session, error); }, "MEAS:VOLT?\n",
        "1.250\r\n", round);
}

// A long block at the line's own rate: most of it still comes after the
// Stop, and the next query waits for its end.
void SerialRound(CStopPulse &pulse, CRound &round)
{
    QProcess sim;
    sim.start(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-serial-instrument"), {QStringLiteral("--line-rate")});
    QByteArray output;
    while (sim.waitForStarted(5000) && !output.contains('\n') && sim.waitForReadyRead(5000))
        output += sim.readAllStandardOutput();
    if (!output.startsWith("pty ")) {
        round.wrong = QStringLiteral("the simulated serial instrument did not start");
        return;
    }
    {
        CSessionOptions options = Options(pulse, 10000);
        options.kinds.Edit<CSerialOptions>().silenceMs = 100;
        auto session =
            Open(QStringLiteral("ASRL%1::INSTR").arg(QString::fromLocal8Bit(output.mid(4).trimmed())),
                 options, round);
        if (session && Send(*session, "WAV:DATA? 3000\r\n", round))
            StopThenNext(
                pulse, *session, [&](QString &error) { return ReadHeld(*session, error); }, "*IDN?\r\n",
                IDENTITY + '\n', round);
    }
    sim.terminate();
    if (!sim.waitForFinished(5000))
        sim.kill();
    sim.waitForFinished(5000);
}

// A GPIB session over `library`: `command` written first (none: the read
// waits with nothing asked), the read stopped, then *IDN?.
void GpibRound(CStopPulse &pulse, CRound &round, CGpibSession &session, const QByteArray &command)
{
    QString error;
    if (!session.IsOpen() && !session.Open(error)) {
        round.wrong = QStringLiteral("GPIB0::14::INSTR did not open: ") + error;
        return;
    }
    if (!command.isEmpty() && !Send(session, command, round))
        return;
    StopThenNext(
        pulse, session, [&](QString &e) { return ReadHeld(session, e); }, "*IDN?\r\n", IDENTITY + "\r\n",
        round);
}

CResource GpibResource()
{
    CResource resource;
    QString error;
    ParseResource(QStringLiteral("GPIB0::14::INSTR"), resource, error);
    return resource;
}

void VisaLibraryRound(CStopPulse &pulse, CRound &round)
{
    auto session = Open(QStringLiteral("GPIB0::14::INSTR"), Options(pulse, 5000), round,
                        QStringLiteral(TALLIX_SIM_LIBDIR "/libtallix-visa-sim.so"));
    if (session)
        StopThenNext(
            pulse, *session, [&](QString &error) { return ReadHeld(*session, error); }, "*IDN?\r\n",
            IDENTITY + "\r\n", round);
}

// Prints the case's figures and its two result lines; false when a round
// did not count or a next query was not answered by its own reply.
bool Report(const CCase &one, const std::vector<CRound> &rounds)
{
    const QByteArray what = one.what.toUtf8();
    const QByteArray stopWhat = "Stop to control back: " + what;
    const QByteArray gapWhat = "pulse gap while held: " + what;
    char stopTarget[32];
    char gapTarget[32];
    std::snprintf(stopTarget, sizeof stopTarget, "<= %.0f ms", STOP_TARGET_MS);
    std::snprintf(gapTarget, sizeof gapTarget, "<= %.0f ms", GAP_TARGET_MS);
    if (!one.skipped.isEmpty()) {
        std::printf("%s: skipped: %s\n", what.constData(), qPrintable(one.skipped));
        ReportResult(stopWhat.constData(), "skipped", stopTarget, false);
        return true;
    }
    std::vector<double> stops, gaps, nexts, nextGaps;
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        const CRound &round = rounds[i];
        if (!round.wrong.isEmpty())
            std::printf("  %s, round %zu: %s\n", what.constData(), i + 1, qPrintable(round.wrong));
        if (round.stopped) {
            stops.push_back(round.stopMs);
            gaps.push_back(round.gapMs);
        }
        if (round.nextOk) {
            nexts.push_back(round.nextMs);
            nextGaps.push_back(round.nextGapMs);
        }
    }
    const auto worst = [](const std::vector<double> &v) {
        return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
    };
    const bool nextOk = !nexts.empty() && nexts.size() == rounds.size();
    std::printf(
        "%s, %zu rounds: Stop to control back median %.1f ms, worst %.1f ms; largest pulse gap median "
        "%.1f ms, worst %.1f ms; %s",
        what.constData(), rounds.size(), Median(stops), worst(stops), Median(gaps), worst(gaps),
        nextOk ? "next reply ok" : "next reply NOT ok");
    if (!nexts.empty())
        std::printf(" (the next query took median %.1f ms, worst %.1f ms; its largest pulse gap %.1f ms)",
                    Median(nexts), worst(nexts), worst(nextGaps));
    std::printf("\n");
    if (!rounds.empty() && !rounds.front().said.isEmpty())
        std::printf("  stopped with: %s\n", qPrintable(rounds.front().said));
    char measured[80];
    const bool counted = !rounds.empty() && stops.size() == rounds.size();
    std::snprintf(measured, sizeof measured, "%.1f ms (worst %.1f)%s", Median(stops), worst(stops),
                  nextOk ? "" : ", next reply wrong");
    ReportResult(stopWhat.constData(), counted ? measured : "not measured in every round", stopTarget,
                 counted && nextOk && worst(stops) <= STOP_TARGET_MS);
    std::snprintf(measured, sizeof measured, "%.1f ms (worst %.1f)", Median(gaps), worst(gaps));
    ReportResult(gapWhat.constData(), counted ? measured : "not measured in every round", gapTarget,
                 counted && worst(gaps) <= GAP_TARGET_MS);
    std::fflush(stdout);
    return counted && nextOk;
}

// Set by --only TEXT: the cases whose names hold it are run, no others.
QString g_only;

bool Run(const CCase &one, int rounds)
{
    if (!one.what.contains(g_only, Qt::CaseInsensitive))
        return true;
    std::vector<CRound> done;
    if (one.skipped.isEmpty()) {
        CStopPulse pulse;
        for (int i = 0; i < rounds; ++i) {
            done.emplace_back();
            one.round(pulse, done.back());
        }
    }
    return Report(one, done);
}

// The USBTMC case, in this process when it has the simulated driver
// preloaded (the child), else in a child that has.
bool RunUsbtmc(int rounds, bool child)
{
    CCase usbtmc{QStringLiteral("USBTMC, read held"), UsbtmcRound, QString()};
    if (child) {
        qputenv("TALLIX_SIM_USBTMC_DELAY_MS", "60000");
        qputenv("TALLIX_SIM_USBTMC_DELAYED_REPLIES", "1");
        return Run(usbtmc, rounds);
    }
    const QString preload = QStringLiteral(TALLIX_USBTMC_PRELOAD);
    if (!usbtmc.what.contains(g_only, Qt::CaseInsensitive))
        return true;
    if (preload.isEmpty()) {
        usbtmc.skipped = QStringLiteral(
            "no preload for the simulated usbtmc driver (a sanitizer build without its runtime's path)");
        return Run(usbtmc, rounds);
    }
    QProcess self;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), preload);
    self.setProcessEnvironment(environment);
    self.setProcessChannelMode(QProcess::ForwardedChannels);
    std::fflush(stdout);
    self.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--usbtmc"), QStringLiteral("--rounds"), QString::number(rounds)});
    return self.waitForFinished(300000) && self.exitStatus() == QProcess::NormalExit && self.exitCode() == 0;
}

} // namespace

int main(int argc, char **argv)
{
    EnterPrivateNetwork(argc, argv);
    QCoreApplication app(argc, argv);
    int rounds = 5;
    const QStringList arguments = app.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--rounds"));
        at > 0 && at + 1 < arguments.size())
        rounds = std::max(1, arguments[at + 1].toInt());
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--only")); at > 0 && at + 1 < arguments.size())
        g_only = arguments[at + 1];
    if (arguments.contains(QStringLiteral("--usbtmc")))
        return RunUsbtmc(rounds, true) ? 0 : 1;
    for (const char *name : {"TALLIX_SIM_GPIB_TRACE", "TALLIX_SIM_GPIB_ADDRESS", "TALLIX_SIM_VISA_TRACE"})
        qunsetenv(name);
    QTemporaryDir folder;
    // Serial locks of the bench's own, where no other program looks.
    qputenv("TALLIX_LOCK_DIR", QFile::encodeName(folder.path()));

    bool ok = true;
    const QStringList neverAnswers{QStringLiteral("--never-answer")};
    const QStringList trickles{QStringLiteral("--pieces"), QStringLiteral("5000"),
                               QStringLiteral("--pause-ms"), QStringLiteral("10")};
    const std::vector<CCase> network{
        {QStringLiteral("SOCKET, peer never answers"),
         [&](CStopPulse &p, CRound &r) { SocketRound(p, r, neverAnswers, "*IDN?\n", true); }, QString()},
        // The simulated server serves one connection at a time and sleeps
        // out the lateness on the one it holds: the next query's connection
        // is taken once it has, so it must come within the I/O time-out.
        {QStringLiteral("SOCKET, reply held 3 s after 4 bytes"),
         [](CStopPulse &p, CRound &r) { SocketRound(p, r, {}, "TEST:LATE? 3000\n", false); }, QString()},
        {QStringLiteral("SOCKET, reply trickles"),
         [&](CStopPulse &p, CRound &r) { SocketRound(p, r, trickles, "DATA? 100000\n", false); }, QString()},
        {QStringLiteral("VXI-11, read held"),
         [](CStopPulse &p, CRound &r) {
             Vxi11Round(p, r,
                        {QStringLiteral("--late-ms"), QStringLiteral("60000"), QStringLiteral("--late-reads"),
                         QStringLiteral("1")},
                        false);
         },
         QString()},
        {QStringLiteral("VXI-11, write held"),
         [](CStopPulse &p, CRound &r) {
             Vxi11Round(p, r,
                        {QStringLiteral("--hold-write"), QStringLiteral("60000"),
                         QStringLiteral("--hold-count"), QStringLiteral("1")},
                        true);
         },
         QString()},
    };
    for (const CCase &one : network)
        ok = Run(one, rounds) && ok;
    ok = RunUsbtmc(rounds, false) && ok;
    ok = Run({QStringLiteral("Serial, slow long block"), SerialRound, QString()}, rounds) && ok;

    // Nothing asked: the simulated gpib-32's ibrd waits out its time-out.
    qputenv("TALLIX_SIM_GPIB_TIMEOUT_MS", LIBRARY_BLOCK_MS);
    ok = Run({QStringLiteral("GPIB, read with nothing asked"),
              [](CStopPulse &p, CRound &r) {
                  CGpibSession session(GpibResource(), Options(p, 10000),
                                       QStringLiteral(TALLIX_SIM_LIBDIR "/libgpib-32.so"));
                  GpibRound(p, r, session, QByteArray());
              },
              QString()},
             rounds) &&
         ok;
    qunsetenv("TALLIX_SIM_GPIB_TIMEOUT_MS");

    qputenv("TALLIX_SIM_VISA_WAIT_MS", LIBRARY_BLOCK_MS);
    ok =
        Run({QStringLiteral("VISA library, read, nothing asked"), VisaLibraryRound, QString()}, rounds) && ok;
    qunsetenv("TALLIX_SIM_VISA_WAIT_MS");

    // gpib-32 over the simulated adapter's TCP side, loaded once for all
    // rounds (it reaches its adapter once per load): a device that talks
    // without end.
    QProcess adapter;
    adapter.start(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-prologix-adapter"),
                  {QStringLiteral("--port"), QStringLiteral("0")});
    QByteArray announced;
    while (adapter.waitForStarted(5000) && !announced.contains("ready\n") && adapter.waitForReadyRead(5000))
        announced += adapter.readAllStandardOutput();
    QString tcp;
    for (const QByteArray &line : announced.split('\n'))
        if (line.startsWith("tcp "))
            tcp = QString::fromLocal8Bit(line.mid(4));
    const QString gpib32 = folder.filePath(QStringLiteral("libgpib-32.so"));
    CCase prologix{QStringLiteral("Prologix over TCP, runaway talker"), {}, QString()};
    std::unique_ptr<CGpibSession> session;
    if (tcp.isEmpty() || !QFile::copy(QStringLiteral(TALLIX_GPIB32_LIBRARY), gpib32)) {
        std::printf("the simulated Prologix adapter did not start, or gpib-32 could not be copied\n");
        ok = false;
    } else {
        qputenv("TALLIX_GPIB_BACKEND", (QStringLiteral("prologix:tcp:") + tcp).toLocal8Bit());
        prologix.round = [&](CStopPulse &p, CRound &r) {
            if (!session)
                session = std::make_unique<CGpibSession>(GpibResource(), Options(p, 1000), gpib32);
            GpibRound(p, r, *session, "TEST:RUNAWAY?\r\n");
        };
        ok = Run(prologix, rounds) && ok;
    }
    session.reset();
    adapter.terminate();
    if (!adapter.waitForFinished(5000))
        adapter.kill();
    adapter.waitForFinished(5000);
    return ok ? 0 : 1;
}
