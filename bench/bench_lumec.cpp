// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// A logged batch of 10,000 lines over the simulated lumec library, three ways:
//   console   the window's Send File: CCommandFiles::RunBatch reading the
//             command file, CCommandSender::SendCommand sending each line and
//             logging it through CResponseLog, DelayMicroseconds(0) after each
//   dispatch  CCommandSender::SendCommand alone over the same lines, read
//             beforehand
//   direct    a plain loop: stdio reads the file, the library's two entry
//             points are called straight, and the same log bytes are written
//             with one write() per record
// Each way runs several rounds, interleaved; the medians are printed, with the
// console's rate as a share of the direct loop's (target: at least 0.8). The
// logs of the ways are compared byte for byte. The log is written at once,
// record by record, so the figures are mostly those of the write calls.
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
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int LINES = 10000;
constexpr int ROUNDS = 11;
const char LIBRARY[] = TALLIX_SIM_LIBDIR "/liblumec.so";

using Clock = std::chrono::steady_clock;

// Upper case and CR LF already, as the command file reader hands lines out,
// so that the direct loop can send them as stdio reads them.
QByteArray CommandFile()
{
    QByteArray text;
    for (int i = 0; i < LINES; ++i) {
        switch (i % 5) {
        case 0:
            text += "*IDN?\r\n";
            break;
        case 1:
            text += "MEAS:VOLT?\r\n";
            break;
        case 2:
            text += "ECHO LINE " + QByteArray::number(i) + "\r\n";
            break;
        case 3:
            text += "STATUS\r\n";
            break;
        default:
            text += "SOUR:VOLT 1.25\r\n"; // draws no reply
            break;
        }
    }
    return text;
}

bool WriteAll(int fd, const char *data, std::size_t count)
{
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n <= 0)
            return false;
        data += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// The log record of one response: each piece up to and including its LF
// behind ">", a last piece without LF closed by CR LF, closing pieces of
// nothing but line ends left out.
std::string ResponseRecord(const char *response)
{
    std::size_t last = std::strlen(response);
    auto onlyLineEnds = [](const char *b, const char *e) {
        return std::all_of(b, e, [](char c) { return c == '\r' || c == '\n'; });
    };
    while (last > 0) {
        std::size_t start = last;
        if (response[start - 1] == '\n')
            --start;
        while (start > 0 && response[start - 1] != '\n')
            --start;
        if (!onlyLineEnds(response + start, response + last))
            break;
        last = start;
    }
    std::string record;
    std::size_t piece = 0;
    while (piece < last) {
        const char *lf = static_cast<const char *>(std::memchr(response + piece, '\n', last - piece));
        const std::size_t end = lf ? static_cast<std::size_t>(lf - response) + 1 : last;
        record += '>';
        record.append(response + piece, end - piece);
        if (!lf)
            record += "\r\n";
        piece = end;
    }
    return record;
}

double Console(const QString &commandPath, const QString &logPath, const CUiHooks &hooks)
{
    QFile::remove(logPath);
    CLinkDispatch links(&hooks);
    CCommandFiles files(&hooks);
    links.Choose(LINK_LUMEC);
    LinkAs<CMessageLibraryLink>(links, LINK_LUMEC).SetLibraryName(QString::fromUtf8(LIBRARY));
    Gpib(links).SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
    CCommandSender sender(links, files, &hooks);

    const auto t0 = Clock::now();
    QByteArray first;
    if (files.OpenCommandFile(commandPath, first) == 0 || !files.OpenLogFile(logPath))
        return -1;
    if (!links.ConnectLinks().Ok())
        return -1;
    files.RunBatch([&sender](const char *line) { return sender.SendCommand(line).Ok() ? 1 : 0; },
                   [](std::uint32_t us) { DelayMicroseconds(us); });
    const auto t1 = Clock::now();
    links.ReleaseLinks();
    return std::chrono::duration<double>(t1 - t0).count();
}

double Dispatch(const std::vector<std::string> &lines, const QString &logPath, const CUiHooks &hooks)
{
    QFile::remove(logPath);
    CLinkDispatch links(&hooks);
    CCommandFiles logged;
    CResponseLog &log = logged.Log();
    links.Choose(LINK_LUMEC);
    LinkAs<CMessageLibraryLink>(links, LINK_LUMEC).SetLibraryName(QString::fromUtf8(LIBRARY));
    Gpib(links).SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
    CCommandSender sender(links, logged, &hooks);

    const auto t0 = Clock::now();
    if (!log.Open(logPath) || !links.ConnectLinks().Ok())
        return -1;
    for (const std::string &line : lines) {
        if (!sender.SendCommand(line.c_str()).Ok())
            return -1;
    }
    log.Close();
    const auto t1 = Clock::now();
    links.ReleaseLinks();
    return std::chrono::duration<double>(t1 - t0).count();
}

double Direct(const QString &commandPath, const QString &logPath)
{
    QFile::remove(logPath);
    const auto t0 = Clock::now();
    void *library = dlopen(LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return -1;
    auto input = reinterpret_cast<int (*)(char *)>(dlsym(library, "LUMECInputMsg"));
    auto output = reinterpret_cast<int (*)(char *, int)>(dlsym(library, "LUMECOutputMsg"));
    std::FILE *commands = std::fopen(QFile::encodeName(commandPath).constData(), "rb");
    const int log = ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (!input || !output || !commands || log < 0)
        return -1;

    char line[256];
    char response[RESPONSE_BUFFER_SIZE + 1];
    while (std::fgets(line, sizeof line, commands)) {
        input(line);
        if (!WriteAll(log, line, std::strlen(line)))
            return -1;
        response[0] = '\0';
        output(response, RESPONSE_BUFFER_SIZE);
        response[RESPONSE_BUFFER_SIZE] = '\0';
        const std::string record = ResponseRecord(response);
        if (!record.empty() && !WriteAll(log, record.data(), record.size()))
            return -1;
    }
    std::fclose(commands);
    ::close(log);
    const auto t1 = Clock::now();
    dlclose(library);
    return std::chrono::duration<double>(t1 - t0).count();
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString commandPath = dir.filePath(QStringLiteral("batch.txt"));
    {
        QFile file(commandPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(CommandFile()) < 0)
            return 1;
    }
    std::vector<std::string> lines;
    for (const QByteArray &line : CommandFile().split('\n')) {
        if (!line.isEmpty())
            lines.push_back(line.toStdString() + "\n");
    }

    CUiHooks hooks;
    int messages = 0;
    hooks.showMessage = [&messages](const QString &text) {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    };
    DelayMicroseconds(100); // calibrates, as the window's start-up does

    const QString consoleLog = dir.filePath(QStringLiteral("console.log"));
    const QString dispatchLog = dir.filePath(QStringLiteral("dispatch.log"));
    const QString directLog = dir.filePath(QStringLiteral("direct.log"));
    std::vector<double> console, dispatch, direct;
    // One round of each first, to warm the caches and the loader.
    Console(commandPath, consoleLog, hooks);
    Direct(commandPath, directLog);
    for (int round = 0; round < ROUNDS; ++round) {
        console.push_back(Console(commandPath, consoleLog, hooks));
        dispatch.push_back(Dispatch(lines, dispatchLog, hooks));
        direct.push_back(Direct(commandPath, directLog));
    }
    if (messages > 0 || std::min({*std::min_element(console.begin(), console.end()),
                                  *std::min_element(dispatch.begin(), dispatch.end()),
                                  *std::min_element(direct.begin(), direct.end())}) < 0) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }

    const QByteArray expected = ReadAll(directLog);
    const bool sameConsole = ReadAll(consoleLog) == expected;
    const bool sameDispatch = ReadAll(dispatchLog) == expected;
    const double consoleRate = LINES / Median(console);
    const double dispatchRate = LINES / Median(dispatch);
    const double directRate = LINES / Median(direct);
    std::printf("logged batch of %d lines over lumec (%s), median of %d rounds\n", LINES, LIBRARY, ROUNDS);
    std::printf("%-40s %12.0f lines/s\n", "console (RunBatch + SendCommand)", consoleRate);
    std::printf("%-40s %12.0f lines/s\n", "dispatch (SendCommand loop)", dispatchRate);
    std::printf("%-40s %12.0f lines/s\n", "direct (entry points + write)", directRate);
    std::printf("ratio console/direct  %.3f (target >= 0.8)\n", consoleRate / directRate);
    ReportRatio("lumec logged batch, console/direct", consoleRate / directRate, 0.8, true);
    std::printf("ratio dispatch/direct %.3f\n", dispatchRate / directRate);
    // On a busy machine the fastest round of each way says more of the code
    // than of the neighbours.
    const auto best = [](const std::vector<double> &v) {
        return LINES / *std::min_element(v.begin(), v.end());
    };
    std::printf("best rounds: console %.0f, dispatch %.0f, direct %.0f lines/s; console/direct %.3f\n",
                best(console), best(dispatch), best(direct), best(console) / best(direct));
    std::printf("log bytes %lld; console log %s, dispatch log %s the direct loop's\n",
                static_cast<long long>(expected.size()), sameConsole ? "equals" : "DIFFERS FROM",
                sameDispatch ? "equals" : "DIFFERS FROM");
    return sameConsole && sameDispatch ? 0 : 1;
}
