// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// Two figures of the command files:
//   read   ReadCommandLine over a 50 MB command file (warm page cache), MB/s,
//          and the read() calls one pass makes
//   batch  Send File's loop (CCommandFiles::RunBatch) over 10,000 lines, sent
//          through CCommandSender::SendCommand to the simulated ordal library
//          with a log open; lines per second, and the share of the run spent
//          inside the log's write() and writev() calls
// The share is measured, not estimated: this program puts its own write(),
// writev() and read() in front of the C library's and times the calls made on the log's
// descriptor (counts those on the command file's).
#include "BenchResult.h"
#include "BenchSupport.h"
#include "cmdfile/CommandFiles.h"
#include "common/UiHooks.h"
#include "links/GpibLink.h"
#include "links/LinkDispatch.h"
#include "links/MessageLibraryLink.h"
#include "tests/links/LinkAccess.h"
#include "timing/Delay.h"
#include "work/CommandSender.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int g_countedReadFd = -1;
long g_countedReads = 0;
int g_timedFd = -1;
std::int64_t g_timedNanoseconds = 0;
long g_timedCalls = 0;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The descriptor that the process holds open on `path`.
int DescriptorOf(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::Files | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(name)) == target)
            return name.toInt();
    }
    return -1;
}

QByteArray MakeReadFile(qint64 size)
{
    static const char *const words[] = {"meas:volt?", "*idn?", "status", "data? 20", "echo", "syst:err?"};
    QByteArray text;
    text.reserve(size + 256);
    int i = 0;
    while (text.size() < size) {
        text += words[i % 6];
        if (i % 3 == 0)
            text += " " + QByteArray::number(i) + "\tchannel " + QByteArray::number(i % 17);
        text += (i % 50 == 0) ? "\r\n\r\n" : "\r\n";
        ++i;
    }
    return text;
}

} // namespace

namespace {

// A write call of the process; timed and counted when it goes to the log.
template <typename Call> ssize_t TimedWhenLog(int fd, Call call)
{
    if (fd != g_timedFd)
        return call();
    const auto start = Clock::now();
    const ssize_t written = call();
    g_timedNanoseconds += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    ++g_timedCalls;
    return written;
}

} // namespace

// Every write() of the process comes here first.
extern "C" ssize_t write(int fd, const void *buffer, size_t count)
{
    return TimedWhenLog(fd, [&] { return syscall(SYS_write, fd, buffer, count); });
}

// The log hands a marker and its piece over in one gathered write.
extern "C" ssize_t writev(int fd, const struct iovec *parts, int count)
{
    return TimedWhenLog(fd, [&] { return syscall(SYS_writev, fd, parts, count); });
}

// And every read(): the calls on the command file are counted.
extern "C" ssize_t read(int fd, void *buffer, size_t count)
{
    if (fd == g_countedReadFd)
        ++g_countedReads;
    return syscall(SYS_read, fd, buffer, count);
}

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    // --- read ---
    constexpr qint64 READ_SIZE = 50LL * 1000 * 1000;
    const QString readPath = dir.filePath(QStringLiteral("big.txt"));
    {
        QFile file(readPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(MakeReadFile(READ_SIZE)) < READ_SIZE)
            return 1;
    }
    const double megabytes = double(QFileInfo(readPath).size()) / 1e6;
    std::vector<double> rates;
    long lines = 0;
    for (int round = 0; round < 5; ++round) {
        CCommandFileReader reader;
        if (!reader.Open(readPath))
            return 1;
        g_countedReadFd = DescriptorOf(readPath);
        g_countedReads = 0;
        char buffer[COMMAND_LINE_BUFFER_SIZE];
        lines = 0;
        const auto start = Clock::now();
        int result;
        while ((result = reader.ReadCommandLine(buffer)) != 0) {
            if (result < 0)
                return 2;
            ++lines;
        }
        rates.push_back(megabytes / Seconds(Clock::now() - start));
        g_countedReadFd = -1;
    }
    std::printf(
        "read: %.1f MB, %ld lines, %ld read calls a pass; ReadCommandLine median %.0f MB/s (min %.0f, "
        "max %.0f) over 5 rounds\n",
        megabytes, lines, g_countedReads, Median(rates), *std::min_element(rates.begin(), rates.end()),
        *std::max_element(rates.begin(), rates.end()));
    QFile::remove(readPath);
    {
        char measured[32];
        std::snprintf(measured, sizeof measured, "%.0f MB/s", Median(rates));
        ReportResult("ReadCommandLine over 50 MB", measured, ">= 100 MB/s", Median(rates) >= 100.0);
    }

    // --- batch ---
    constexpr int BATCH_LINES = 10000;
    QByteArray commands;
    for (int i = 0; i < BATCH_LINES; ++i) {
        static const char *const batchWords[] = {"meas:volt?", "*idn?", "status", "meas:curr?"};
        commands += batchWords[i % 4];
        commands += "\r\n";
    }
    const QString commandPath = dir.filePath(QStringLiteral("batch.txt"));
    {
        QFile file(commandPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(commands) != commands.size())
            return 1;
    }

    CUiHooks hooks;
    hooks.showMessage = [](const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); };
    CLinkDispatch links(&hooks);
    LinkAs<CMessageLibraryLink>(links, LINK_ORDAL)
        .SetLibraryName(QStringLiteral(TALLIX_SIM_LIBDIR "/libordal.so"));
    Gpib(links).SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
    links.Choose(LINK_ORDAL);
    links.ConnectLinks();
    if (!LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).IsLoaded()) {
        std::fprintf(stderr, "the simulated ordal library did not load from %s\n", TALLIX_SIM_LIBDIR);
        return 1;
    }
    DelayMicroseconds(0); // calibrates, outside the timing

    std::vector<double> lineRates;
    std::vector<double> shares;
    long callsPerRun = 0;
    qint64 logBytes = 0;
    for (int round = 0; round < 5; ++round) {
        const QString logPath = dir.filePath(QStringLiteral("log%1.txt").arg(round));
        CCommandFiles files(&hooks);
        CCommandSender sender(links, files, &hooks);
        QByteArray first;
        if (files.OpenCommandFile(commandPath, first) != 1 || !files.OpenLogFile(logPath))
            return 1;
        files.SetCommandFilePath(commandPath);
        g_timedFd = DescriptorOf(logPath);
        g_timedNanoseconds = 0;
        g_timedCalls = 0;
        int sent = 0;
        const auto start = Clock::now();
        files.RunBatch(
            [&](const char *line) {
                ++sent;
                return sender.SendCommand(line).Ok() ? 1 : 0;
            },
            [](std::uint32_t us) { DelayMicroseconds(us); });
        const double elapsed = Seconds(Clock::now() - start);
        g_timedFd = -1;
        if (sent != BATCH_LINES)
            return 3;
        lineRates.push_back(sent / elapsed);
        shares.push_back(double(g_timedNanoseconds) / 1e9 / elapsed);
        callsPerRun = g_timedCalls;
        logBytes = QFileInfo(logPath).size();
    }
    std::printf(
        "batch: %d lines over the simulated ordal library, logged (%lld bytes, %ld write and writev calls), "
        "delay 0:\n"
        "       median %.0f lines/s (min %.0f, max %.0f), log writes %.1f%% of the run (min %.1f%%, max "
        "%.1f%%) over 5 rounds\n",
        BATCH_LINES, static_cast<long long>(logBytes), callsPerRun, Median(lineRates),
        *std::min_element(lineRates.begin(), lineRates.end()),
        *std::max_element(lineRates.begin(), lineRates.end()), 100.0 * Median(shares),
        100.0 * *std::min_element(shares.begin(), shares.end()),
        100.0 * *std::max_element(shares.begin(), shares.end()));
    {
        char measured[64];
        std::snprintf(measured, sizeof measured, "%.0f lines/s, log %.0f%%", Median(lineRates),
                      100.0 * Median(shares));
        ReportResult("logged batch of 10,000 lines (ordal)", measured, "(figure only)", true);
    }
    return 0;
}
