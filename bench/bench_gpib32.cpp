// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// A GPIB batch through gpib-32 and the simulated linux-gpib library, against
// the same batch on the simulator that stands in for gpib-32 directly. Each
// query is what a logged batch line costs the link: the send, then one
// clamped read (with its 1 ms pause). The two paths take turns in blocks, and
// the ratio is the median of the blocks' ratios, so that drift of the host
// between blocks does not decide it.
//
//   bench_gpib32 [queries]      (default 4000)

#include "BenchResult.h"
#include "BenchSupport.h"
#include "links/GpibLink.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char QUERY[] = "MEAS:VOLT?\r\n";
constexpr char ANSWER[] = "1.250\r\n";
constexpr int BLOCK = 250;

// `count` queries; the seconds they took. Counts wrong answers in `bad`.
double RunBlock(CGpibLink &link, int count, int &bad)
{
    char buffer[RESPONSE_BUFFER_SIZE + 1];
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        if (link.WriteString(QUERY) == 0)
            ++bad;
        link.Read(buffer, RESPONSE_BUFFER_SIZE, 1, 0x100);
        if (std::strcmp(buffer, ANSWER) != 0)
            ++bad;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int queries = argc > 1 ? std::atoi(argv[1]) : 4000;
    if (queries < BLOCK) {
        std::fprintf(stderr, "usage: bench_gpib32 [queries, at least %d]\n", BLOCK);
        return 2;
    }
    for (const char *name : {"TALLIX_SIM_GPIB_TRACE", "TALLIX_SIM_BUS_TRACE", "TALLIX_SIM_GPIB_STATUS"})
        qunsetenv(name);
    qputenv("TALLIX_GPIB_BACKEND", TALLIX_SIM_LINUXGPIB);

    CLinkContext context;
    CGpibLink direct(context, QStringLiteral(TALLIX_SIM_LIBDIR "/libgpib-32.so"));
    CGpibLink compat(context, QStringLiteral(TALLIX_GPIB32_LIBRARY));
    for (CGpibLink *link : {&direct, &compat}) {
        link->SetAddress(14);
        if (link->Initialize(0) != 0) {
            std::fprintf(stderr, "a GPIB library did not load\n");
            return 1;
        }
    }

    std::vector<double> ratios;
    double directSeconds = 0;
    double compatSeconds = 0;
    int bad = 0;
    for (int done = 0; done + BLOCK <= queries; done += BLOCK) {
        // Alternate which path goes first, so that neither always follows the other.
        const bool directFirst = (done / BLOCK) % 2 == 0;
        double d = 0;
        double c = 0;
        if (directFirst) {
            d = RunBlock(direct, BLOCK, bad);
            c = RunBlock(compat, BLOCK, bad);
        } else {
            c = RunBlock(compat, BLOCK, bad);
            d = RunBlock(direct, BLOCK, bad);
        }
        directSeconds += d;
        compatSeconds += c;
        ratios.push_back(d / c);
    }
    const int run = static_cast<int>(ratios.size()) * BLOCK;
    std::printf("%-46s %6d queries in %6.3f s: %7.1f queries/s, %.1f us a query\n",
                "direct simulator (libgpib-32.so of sim/)", run, directSeconds, run / directSeconds,
                directSeconds / run * 1e6);
    std::printf("%-46s %6d queries in %6.3f s: %7.1f queries/s, %.1f us a query\n",
                "gpib-32 over the linux-gpib simulator", run, compatSeconds, run / compatSeconds,
                compatSeconds / run * 1e6);
    const double ratio = bad ? 0.0 : Median(ratios);
    std::printf("rate through gpib-32 / direct: median of %zu blocks of %d %.3f (min %.3f, max %.3f)%s\n",
                ratios.size(), BLOCK, Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()), bad ? " (WRONG RESPONSES)" : "");
    ReportRatio("GPIB batch via gpib-32 + linux-gpib, of direct", ratio, 0.95, true);
    return bad ? 1 : 0;
}
