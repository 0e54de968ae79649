// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// Accuracy of DelayMicroseconds after its start-up calibration: requested
// time, measured median and error, for 10 us to 100 ms.
#include "BenchResult.h"
#include "timing/Delay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

int main()
{
    using clock = std::chrono::steady_clock;
    DelayMicroseconds(100); // calibrates, as the window's start-up does
    std::printf("delay accuracy (calibrated factor %.1f loops/us)\n", double(g_loopsPerMicrosecond));
    std::printf("%12s %14s %9s\n", "requested us", "median us", "error %");
    const std::uint32_t requests[] = {10, 100, 1000, 10000, 100000};
    for (std::uint32_t us : requests) {
        const int runs = us >= 100000 ? 11 : 51;
        std::vector<double> measured;
        for (int i = 0; i < runs; ++i) {
            const auto t0 = clock::now();
            DelayMicroseconds(us);
            const auto t1 = clock::now();
            measured.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        }
        std::sort(measured.begin(), measured.end());
        const double median = measured[measured.size() / 2];
        const double error = (median - us) * 100.0 / us;
        std::printf("%12u %14.1f %+9.2f\n", us, median, error);
        char what[64];
        char figure[32];
        std::snprintf(what, sizeof what, "DelayMicroseconds(%u), median error", us);
        std::snprintf(figure, sizeof figure, "%+.2f %%", error);
        ReportResult(what, figure, us >= 100 ? "within 2 %" : "(figure only)",
                     us < 100 || std::fabs(error) <= 2.0);
    }
    std::printf("target: median error within 2 %% from 100 us up\n");
    return 0;
}
