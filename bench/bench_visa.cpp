// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// A logged batch of *IDN? queries to the simulated SCPI instrument over the
// VISA Resource link (TCPIP::127.0.0.1::PORT::SOCKET), against the same batch
// through the TCP/IP link without the request line, and against pyvisa-py's
// query loop on the same instrument. The two links take turns block by
// block, so that both see the same moments of a busy host.
#include "BenchResult.h"
#include "BenchSupport.h"
#include "cmdfile/CommandFiles.h"
#include "common/UiHooks.h"
#include "links/LinkDispatch.h"
#include "tests/links/LinkAccess.h"
#include "timing/Delay.h"
#include "work/CommandSender.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int BLOCKS = 10;
const QByteArray IDENTITY = QByteArrayLiteral("KORVANE,TALLIX-SIM,SN0001,1.0\n");

// One logged batch of the command file over the chosen link, as Send File
// runs it: lines per second; wrong counts the records without the identity.
double LoggedBatch(CLinkDispatch &links, const QString &commandPath, const QString &logPath, int lines,
                   int &wrong)
{
    CCommandFiles files;
    files.SetCommandFilePath(commandPath);
    files.SetLogFilePath(logPath);
    CCommandSender sender(links, files, links.Context().hooks);
    if (!links.ConnectLinks().Ok())
        return 0;
    QElapsedTimer clock;
    clock.start();
    files.RunBatch([&](const char *line) { return sender.SendCommand(line).Ok() ? 1 : 0; },
                   [](std::uint32_t us) { DelayMicroseconds(us); });
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    QFile log(logPath);
    if (log.open(QIODevice::ReadOnly))
        wrong += lines - static_cast<int>(log.readAll().count(">" + IDENTITY));
    QFile::remove(logPath);
    return lines / seconds;
}

// pyvisa-py's query loop on the same instrument: queries per second.
double PyVisa(int port, int queries)
{
    const QString script = QStringLiteral("import time, pyvisa\n"
                                          "rm = pyvisa.ResourceManager('@py')\n"
                                          "i = rm.open_resource('TCPIP::127.0.0.1::%1::SOCKET', "
                                          "read_termination='\\n', write_termination='\\r\\n')\n"
                                          "t = time.perf_counter()\n"
                                          "for _ in range(%2):\n"
                                          "    i.query('*IDN?')\n"
                                          "print(%2 / (time.perf_counter() - t))\n"
                                          "i.close()\n")
                               .arg(port)
                               .arg(queries);
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script});
    if (!python.waitForFinished(300000) || python.exitCode() != 0)
        return 0;
    return python.readAllStandardOutput().trimmed().toDouble();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int queries = 10000;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("--queries"))
            queries = std::max(BLOCKS, args[++i].toInt());
    const int perBlock = queries / BLOCKS;

    int port = 0;
    QProcess server;
    if (!StartScpiServer(server, port))
        return 1;
    QTemporaryDir dir;
    const QString commandPath = dir.filePath(QStringLiteral("idn.txt"));
    {
        QFile file(commandPath);
        file.open(QIODevice::WriteOnly);
        for (int i = 0; i < perBlock; ++i)
            file.write("*IDN?\r\n");
    }
    const QString logPath = dir.filePath(QStringLiteral("batch.log"));

    QStringList messages;
    CUiHooks hooks;
    hooks.showMessage = [&messages](const QString &text) { messages << text; };
    CLinkDispatch links(&hooks);
    Gpib(links).SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
    links.SetIpAddressText([]() { return QStringLiteral("127.0.0.1"); });
    links.SetResourceText([port]() { return QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(port); });
    CLinkOptions options = links.Context().options;
    options.tcpPort = port;
    options.askForReply = false;
    links.SetOptions(options);
    DelayMicroseconds(0);

    int wrong = 0;
    std::vector<double> visa, tcp, ratios;
    for (int block = 0; block < BLOCKS; ++block) {
        links.Choose(LINK_VISA);
        const double v = LoggedBatch(links, commandPath, logPath, perBlock, wrong);
        links.Choose(LINK_TCPIP);
        const double t = LoggedBatch(links, commandPath, logPath, perBlock, wrong);
        // The server serves one client at a time: both let theirs go.
        links.Choose(LINK_LUMEC);
        links.ConnectLinks();
        if (v <= 0 || t <= 0) {
            ++wrong;
            continue;
        }
        visa.push_back(v);
        tcp.push_back(t);
        ratios.push_back(v / t);
    }
    const double python = PyVisa(port, queries);
    server.terminate();
    server.waitForFinished(5000);
    if (visa.empty()) {
        std::fprintf(stderr, "no block completed: %s\n", qPrintable(messages.join(QStringLiteral("; "))));
        return 1;
    }
    std::printf("logged batch of %d *IDN? in %d blocks (median lines/s):\n", perBlock * BLOCKS, BLOCKS);
    std::printf("  VISA Resource, TCPIP::127.0.0.1::%d::SOCKET: %.0f\n", port, Median(visa));
    std::printf("  TCP/IP link, request line off:              %.0f\n", Median(tcp));
    if (python > 0)
        std::printf("  pyvisa-py query loop (no log):               %.0f\n", python);
    std::printf("  wrong records or failed blocks: %d; messages: %lld\n", wrong,
                static_cast<long long>(messages.size()));
    ReportRatio("logged *IDN? batch, VISA SOCKET / TCP/IP link", Median(ratios), 0.95, true);
    if (python > 0) {
        char figure[32];
        std::snprintf(figure, sizeof figure, "%.2f", Median(visa) / python);
        ReportResult("logged *IDN? batch, VISA SOCKET / pyvisa-py query loop", figure, "(reported)", true);
    }
    return wrong == 0 && messages.isEmpty() ? 0 : 1;
}
