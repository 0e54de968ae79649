// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// A large block read over VXI-11 from the simulated instrument, in a private
// network: through the console's VISA Resource link and its VXI-11 session
// (open, query, read, close), against
// `lxi scpi` (one run of the program, which does the same) and PyVISA with
// pyvisa-py (timed inside the interpreter, from open to close). The three
// take turns round by round; the figures are medians over the rounds.
//
// lxi scpi keeps at most 5 MiB of a reply (its buffer) and stops reading
// there, so against it the rates are compared, bytes a second; a second
// figure compares the three on a reply of 5,000,000 bytes, which every one
// reads whole. (Not 5 MiB: pyvisa-py 0.5.1 reads in pieces of 20 KiB and
// takes a last piece that fills its count as "more to come" even when it
// carries END, and then waits out its time-out.)
#include "BenchResult.h"
#include "BenchSupport.h"
#include "common/UiHooks.h"
#include "links/LinkDispatch.h"
#include "tests/links/LinkAccess.h"
#include "tests/sim/PrivateNetwork.h"
#include "tests/sim/Vxi11ServerProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 MIB = 1 << 20;

// Seconds for one open, query, read and close through the console's VISA
// Resource link (the link opens its session, sends, reads the reply whole,
// and closes it when another link is chosen); 0 when the reply was wrong.
double SessionRound(qint64 bytes)
{
    QStringList messages;
    CUiHooks hooks;
    hooks.showMessage = [&messages](const QString &text) { messages << text; };
    CLinkDispatch links(&hooks);
    Gpib(links).SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
    links.SetResourceText([]() { return QStringLiteral("TCPIP::127.0.0.1::INSTR"); });
    CLinkOptions options = links.Context().options;
    options.maxReplyBytes = MAX_MAX_REPLY_BYTES;
    links.SetOptions(options);
    links.Choose(LINK_VISA);
    const QByteArray command = QByteArray("DATA? ") + QByteArray::number(bytes) + "\r\n";
    QElapsedTimer clock;
    clock.start();
    CReply reply;
    const bool ok =
        links.ConnectLinks().Ok() && links.Send(command.constData()).Ok() && links.ReadResponse(reply);
    links.Choose(LINK_LUMEC);
    links.ConnectLinks();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (!ok || reply.total != bytes) {
        std::fprintf(stderr, "console: %s (%lld bytes)\n", qPrintable(messages.join(QStringLiteral("; "))),
                     static_cast<long long>(reply.total));
        return 0;
    }
    return seconds;
}

// Seconds for one run of lxi scpi; `got` is what it printed.
double LxiRound(qint64 bytes, qint64 &got)
{
    QProcess lxi;
    QElapsedTimer clock;
    clock.start();
    lxi.start(QStringLiteral("lxi"),
              {QStringLiteral("scpi"), QStringLiteral("-a"), QStringLiteral("127.0.0.1"),
               QStringLiteral("-t"), QStringLiteral("20"), QStringLiteral("DATA? %1").arg(bytes)});
    QByteArray output;
    while (lxi.state() != QProcess::NotRunning || lxi.bytesAvailable() > 0) {
        lxi.waitForReadyRead(100);
        output += lxi.readAllStandardOutput();
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    got = output.size();
    if (lxi.exitCode() != 0 || got == 0) {
        std::fprintf(stderr, "lxi: %s\n", lxi.readAllStandardError().constData());
        return 0;
    }
    return seconds;
}

// Seconds of each of `rounds` rounds of PyVISA, from open to close.
std::vector<double> PyVisaRounds(qint64 bytes, int rounds)
{
    const QString script =
        QStringLiteral("import pyvisa, time, sys\n"
                       "rm = pyvisa.ResourceManager('@py')\n"
                       "for _ in range(%1):\n"
                       "    start = time.perf_counter()\n"
                       "    inst = rm.open_resource('TCPIP::127.0.0.1::INSTR', timeout=20000)\n"
                       "    inst.write('DATA? %2')\n"
                       "    data = inst.read_raw()\n"
                       "    inst.close()\n"
                       "    took = time.perf_counter() - start\n"
                       "    print(took if len(data) == %2 else 0)\n")
            .arg(rounds)
            .arg(bytes);
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script});
    python.waitForFinished(600000);
    std::vector<double> seconds;
    for (const QByteArray &line : python.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            seconds.push_back(line.toDouble());
    if (seconds.empty())
        std::fprintf(stderr, "pyvisa: %s\n", python.readAllStandardError().constData());
    return seconds;
}

// MiB a second of each path on a reply of `bytes`; lxi's on what it read.
struct CRates
{
    double session = 0;
    double lxi = 0;
    double pyvisa = 0;
    qint64 lxiBytes = 0;
};

CRates Measure(qint64 bytes, int rounds)
{
    std::vector<double> session, lxi, pyvisa;
    CRates rates;
    for (int round = 0; round < rounds; ++round) {
        if (const double s = SessionRound(bytes); s > 0)
            session.push_back(static_cast<double>(bytes) / MIB / s);
        if (const double s = LxiRound(bytes, rates.lxiBytes); s > 0)
            lxi.push_back(static_cast<double>(rates.lxiBytes) / MIB / s);
        for (const double s : PyVisaRounds(bytes, 1))
            if (s > 0)
                pyvisa.push_back(static_cast<double>(bytes) / MIB / s);
    }
    rates.session = Median(session);
    rates.lxi = Median(lxi);
    rates.pyvisa = Median(pyvisa);
    std::printf("reply of %lld bytes, %d rounds: console %.1f MiB/s, lxi scpi %.1f MiB/s (read %lld bytes), "
                "PyVISA %.1f MiB/s\n",
                static_cast<long long>(bytes), rounds, rates.session, rates.lxi,
                static_cast<long long>(rates.lxiBytes), rates.pyvisa);
    return rates;
}

void Report(const char *what, double ratio)
{
    char measured[32];
    std::snprintf(measured, sizeof measured, "%.3f", ratio);
    ReportResult(what, measured, "(reported)", true);
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

    CVxi11ServerProcess server;
    if (!server.Start({}, false)) {
        std::fprintf(stderr, "bench_vxi11: the simulated VXI-11 instrument did not start: %s\n",
                     qPrintable(server.Errors()));
        return 1;
    }
    const CRates large = Measure(16 * MIB, rounds);
    const CRates same = Measure(5000000, rounds);
    if (large.session <= 0 || large.lxi <= 0 || large.pyvisa <= 0 || same.lxi <= 0 || same.pyvisa <= 0)
        return 1;
    ReportRatio("VXI-11 16 MiB block: console rate / lxi scpi rate", large.session / large.lxi, 1.0, true);
    Report("VXI-11 16 MiB block: console rate / PyVISA (pyvisa-py) rate", large.session / large.pyvisa);
    Report("VXI-11 5,000,000-byte block: console rate / lxi scpi rate", same.session / same.lxi);
    Report("VXI-11 5,000,000-byte block: console rate / PyVISA (pyvisa-py) rate", same.session / same.pyvisa);
    return 0;
}
