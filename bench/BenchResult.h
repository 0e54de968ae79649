// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>

// One line a figure with its target, which `make bench` gathers into its
// closing table: RESULT|what|measured|target|met
inline void ReportResult(const char *what, const char *measured, const char *target, bool met)
{
    std::printf("RESULT|%s|%s|%s|%s\n", what, measured, target, met ? "yes" : "no");
}

inline void ReportRatio(const char *what, double ratio, double target, bool atLeast)
{
    char measured[32];
    char wanted[32];
    std::snprintf(measured, sizeof measured, "%.3f", ratio);
    std::snprintf(wanted, sizeof wanted, "%s %.2f", atLeast ? ">=" : "<=", target);
    ReportResult(what, measured, wanted, atLeast ? ratio >= target : ratio <= target);
}
