// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QString>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

// Starts the simulated instrument server in SCPI mode on a port of this
// process's own; false, with a line on stderr, when it does not come up.
inline bool StartScpiServer(QProcess &server, int &port)
{
    port = 20000 + static_cast<int>(getpid() % 20000);
    server.start(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-instrument-server"),
                 {QStringLiteral("--scpi"), QStringLiteral("--port"), QString::number(port)});
    if (WaitForListening(server))
        return true;
    std::fprintf(stderr, "the simulated SCPI server did not start\n");
    return false;
}
