// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Queries per second over the simulated GPIB bus, through the link dispatch
// the window uses, against the floor that the pause before each read sets
// (1 ms: at most 1,000 reads a second).
//
//   bench_gpib [queries]      (default 2000)

#include "BenchResult.h"
#include "cmdfile/CommandFiles.h"
#include "cmdfile/ResponseLog.h"
#include "common/UiHooks.h"
#include "links/GpibLink.h"
#include "links/LinkDispatch.h"
#include "tests/links/LinkAccess.h"
#include "timing/Delay.h"
#include "work/CommandSender.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char QUERY[] = "MEAS:VOLT?\r\n";
constexpr char ANSWER[] = "1.250\r\n";

double Seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// The pause as measured here, in milliseconds (median).
double g_measuredPauseMs = 0;

void Report(const char *what, int queries, double seconds, int bad)
{
    const double rate = queries / seconds;
    const double floorRate = 1000.0 / g_gpibReadPauseMs;
    std::printf(
        "%-38s %5d queries in %6.3f s: %7.1f lines/s = %.3f of the %.0f reads/s floor, %.3f of the %.0f/s "
        "the measured pause allows%s\n",
        what, queries, seconds, rate, rate / floorRate, floorRate, rate * g_measuredPauseMs / 1000.0,
        1000.0 / g_measuredPauseMs, bad ? " (WRONG RESPONSES)" : "");
    if (bad)
        std::printf("    %d responses were not \"1.250\"\n", bad);
    char what2[96];
    std::snprintf(what2, sizeof what2, "GPIB %s, of the 1,000/s floor", what);
    ReportRatio(what2, bad ? 0.0 : rate / floorRate, 0.9, true);
}

int CountLoggedResponses(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return static_cast<int>(file.readAll().count(QByteArray(">1.250\r\n")));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int queries = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (queries <= 0) {
        std::fprintf(stderr, "usage: bench_gpib [queries]\n");
        return 2;
    }
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }

    QStringList messages;
    CUiHooks hooks;
    hooks.showMessage = [&messages](const QString &text) { messages << text; };
    CLinkDispatch links(&hooks);
    links.Choose(LINK_GPIB);
    links.SetGpibAddress(14);
    Gpib(links).SetLibraryName(QStringLiteral(TALLIX_SIM_LIBDIR "/libgpib-32.so"));

    const auto loadStart = Clock::now();
    links.ConnectLinks();
    const double loadSeconds = Seconds(loadStart);
    if (Gpib(links).IsOffline()) {
        std::fprintf(stderr, "the simulated library did not load from %s\n", TALLIX_SIM_LIBDIR);
        return 1;
    }
    std::printf("first ConnectLinks (load, spin calibration, IFC, remote): %.1f ms; %u spin loops per ms\n",
                loadSeconds * 1000, g_spinLoopsPerMillisecond);

    // The pause itself, as the read runs it: the first ones right after the
    // link came up (a console that has just started), then the median.
    std::vector<double> pauses;
    for (int i = 0; i < 200; ++i) {
        const auto t = Clock::now();
        SpinPause(g_gpibReadPauseMs);
        pauses.push_back(Seconds(t) * 1000);
    }
    const double firstMs = pauses.front();
    std::sort(pauses.begin(), pauses.end());
    g_measuredPauseMs = pauses[pauses.size() / 2];
    std::printf("pause before each read (%d ms asked): first %.3f ms, median %.3f ms, min %.3f, max %.3f "
                "(200 runs)\n",
                g_gpibReadPauseMs, firstMs, pauses[pauses.size() / 2], pauses.front(), pauses.back());
    {
        char figure[64];
        const double firstError = (firstMs - g_gpibReadPauseMs) * 100.0 / g_gpibReadPauseMs;
        const double medianError = (g_measuredPauseMs - g_gpibReadPauseMs) * 100.0 / g_gpibReadPauseMs;
        std::snprintf(figure, sizeof figure, "%+.2f %%", firstError);
        ReportResult("GPIB read pause, first after start, error", figure, "within 2 %",
                     std::fabs(firstError) <= 2.0);
        std::snprintf(figure, sizeof figure, "%+.2f %%", medianError);
        ReportResult("GPIB read pause, median error", figure, "within 2 %", std::fabs(medianError) <= 2.0);
    }

    // Send and a display read, as Send with "Read" ticked does, `queries`
    // times; the seconds it took.
    auto sendAndRead = [&](int &bad) {
        QByteArray text;
        const auto t = Clock::now();
        for (int i = 0; i < queries; ++i) {
            if (!links.Send(QUERY).Ok())
                ++bad;
            text.clear();
            links.ReadResponse(text);
            if (text != ANSWER)
                ++bad;
        }
        return Seconds(t);
    };

    // 1. Send and a display read.
    {
        int bad = 0;
        const double seconds = sendAndRead(bad);
        Report("SendCommand + ReadResponse", queries, seconds, bad);
    }

    // 1b. The same without the pause: what the link and the simulated bus
    // cost on their own (the product never changes the pause).
    {
        const std::int32_t pause = g_gpibReadPauseMs;
        g_gpibReadPauseMs = 0;
        int bad = 0;
        const double seconds = sendAndRead(bad);
        g_gpibReadPauseMs = pause;
        std::printf("%-38s %5d queries in %6.3f s: %7.1f lines/s, %.1f us a query%s\n",
                    "  the same without the pause (overhead)", queries, seconds, queries / seconds,
                    seconds / queries * 1e6, bad ? " (WRONG RESPONSES)" : "");
    }

    // 2. Sends with a log open: each send reads its response for the log.
    {
        const QString logPath = dir.filePath(QStringLiteral("loop.log"));
        CCommandFiles logged(&hooks);
        CResponseLog &log = logged.Log();
        if (!log.Open(logPath)) {
            std::fprintf(stderr, "cannot open %s\n", qPrintable(logPath));
            return 1;
        }
        CCommandSender sender(links, logged, &hooks);
        int bad = 0;
        const auto t = Clock::now();
        for (int i = 0; i < queries; ++i) {
            if (!sender.SendCommand(QUERY).Ok())
                ++bad;
        }
        const double seconds = Seconds(t);
        log.Close();
        bad += queries - CountLoggedResponses(logPath);
        Report("SendCommand with a log open", queries, seconds, bad);
    }

    // 3. A batch run of a command file with its log, the pause 0, as Send
    // File does it.
    {
        const QString commandPath = dir.filePath(QStringLiteral("batch.txt"));
        const QString logPath = dir.filePath(QStringLiteral("batch.log"));
        QFile commands(commandPath);
        if (!commands.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(commandPath));
            return 1;
        }
        for (int i = 0; i < queries; ++i)
            commands.write(QUERY);
        commands.close();

        CCommandFiles files(&hooks);
        QByteArray first;
        if (files.OpenCommandFile(commandPath, first) != 1 || !files.OpenLogFile(logPath)) {
            std::fprintf(stderr, "cannot open the command file or its log\n");
            return 1;
        }
        CCommandSender sender(links, files, &hooks);
        files.SetDelay(0);
        const auto t = Clock::now();
        files.RunBatch([&sender](const char *line) { return sender.SendCommand(line).Ok() ? 1 : 0; },
                       [](std::uint32_t us) { DelayMicroseconds(us); });
        const double seconds = Seconds(t);
        Report("batch run of a command file, logged", queries, seconds,
               queries - CountLoggedResponses(logPath));
    }

    if (!messages.isEmpty()) {
        std::printf("messages shown: %s\n", qPrintable(messages.join(QStringLiteral(" | "))));
        return 1;
    }
    return 0;
}
