// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>

#include <algorithm>
#include <vector>

// What the benchmarks share besides their result lines.

// The median of the rounds' figures (0 when there are none).
inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Waits up to 10 s for a simulated server to print that it listens.
inline bool WaitForListening(QProcess &server)
{
    QByteArray output;
    const QDeadlineTimer deadline(10000);
    while (!output.contains("listening on ")) {
        if (server.state() == QProcess::NotRunning || deadline.hasExpired())
            return false;
        server.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        output += server.readAllStandardOutput();
    }
    return true;
}
