// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// What the progress indication of long work costs a logged batch: 10,000
// lines over the simulated lumec library, as Send File runs them, once with
// nothing watching and once as the window watches them (a pulse between
// lines; the indication and the window's events from half a second on). The
// two take turns, round by round; the median of the rounds' ratios is the
// figure (target: at most 2 % lost).
#include "BenchResult.h"
#include "BenchSupport.h"
#include "cmdfile/CommandFiles.h"
#include "common/UiHooks.h"
#include "links/LinkDispatch.h"
#include "links/MessageLibraryLink.h"
#include "tests/links/LinkAccess.h"
#include "timing/Delay.h"
#include "work/CommandSender.h"
#include "work/WorkMonitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int LINES = 10000;
constexpr int ROUNDS = 11;

// One logged batch: lines per second.
double Batch(CLinkDispatch &links, const CUiHooks &hooks, const QString &commands, const QString &log,
             CWorkMonitor *work)
{
    CCommandFiles files(&hooks);
    files.SetCommandFilePath(commands);
    files.SetLogFilePath(log);
    CCommandSender sender(links, files, &hooks);
    links.ConnectLinks();
    if (work)
        work->Begin();
    QElapsedTimer clock;
    clock.start();
    files.RunBatch([&](const char *line) { return sender.SendCommand(line).Ok() ? 1 : 0; },
                   [](std::uint32_t us) { DelayMicroseconds(us); });
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (work)
        work->End();
    QFile::remove(log);
    return LINES / seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString commands = dir.filePath(QStringLiteral("batch.txt"));
    {
        QFile file(commands);
        file.open(QIODevice::WriteOnly);
        for (int i = 0; i < LINES; ++i)
            file.write(i % 2 ? "*IDN?\r\n" : "MEAS:VOLT?\r\n");
    }
    const QString log = dir.filePath(QStringLiteral("batch.log"));

    CUiHooks plain;
    CLinkDispatch plainLinks(&plain);
    CUiHooks watched;
    int shown = 0;
    CWorkMonitor work({.show = [&shown](const CProgress &) { ++shown; },
                       .hide = []() {},
                       .processEvents = []() { QCoreApplication::processEvents(QEventLoop::AllEvents); }});
    watched.pulse = [&work](const CProgress &progress) { return work.Pulse(progress); };
    CLinkDispatch watchedLinks(&watched);
    for (CLinkDispatch *links : {&plainLinks, &watchedLinks}) {
        links->Choose(LINK_LUMEC);
        Gpib(*links).SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
        LinkAs<CMessageLibraryLink>(*links, LINK_LUMEC)
            .SetLibraryName(QStringLiteral(TALLIX_SIM_LIBDIR "/liblumec.so"));
    }
    DelayMicroseconds(0);

    std::vector<double> without, with, ratios;
    for (int round = 0; round < ROUNDS; ++round) {
        const double a = Batch(plainLinks, plain, commands, log, nullptr);
        const double b = Batch(watchedLinks, watched, commands, log, &work);
        without.push_back(a);
        with.push_back(b);
        ratios.push_back(b / a);
    }
    std::printf("logged batch of %d lines over the lumec library (median of %d rounds, lines/s):\n", LINES,
                ROUNDS);
    std::printf("  nothing watching:                  %.0f\n", Median(without));
    std::printf("  watched as the window watches it:  %.0f (the indication shown %d times in all)\n",
                Median(with), shown);
    ReportRatio("logged batch with the progress indication / without", Median(ratios), 0.98, true);
    return 0;
}
