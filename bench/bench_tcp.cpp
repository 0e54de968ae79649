// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// Queries per second over the TCP/IP link to the simulated instrument server:
// the console's own path against a minimal client that sends the same bytes
// on one socket, to the same server in the same run.
#include "BenchResult.h"
#include "BenchSupport.h"
#include "cmdfile/CommandFiles.h"
#include "common/UiHooks.h"
#include "links/GpibLink.h"
#include "links/LinkDispatch.h"
#include "links/TcpLink.h"
#include "tests/links/LinkAccess.h"
#include "timing/Delay.h"
#include "work/CommandSender.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr char COMMAND[] = "MEAS:VOLT?\r\n";
constexpr char EXPECTED[] = "1.250\r\n";
// The queries of each path run in blocks, the paths taking turns block by
// block, so that all of them see the same moments of a busy host; the ratios
// are the medians of the ratios within each block.
constexpr int BLOCKS = 40;

// The link dispatch's send and ReadResponse, one query after another,
// as the Send button with the Read box ticked does after its ConnectLinks.
double ConsoleLoop(CLinkDispatch &links, int queries, int &wrong)
{
    if (!links.ConnectLinks().Ok())
        return 0;
    QByteArray text;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < queries; ++i) {
        if (!links.Send(COMMAND).Ok())
            return 0;
        text.clear();
        links.ReadResponse(text);
        wrong += text == EXPECTED ? 0 : 1;
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    Tcp(links).DropSocket(); // the server serves one client at a time
    return queries / seconds;
}

// A logged batch of the command file: every line sent, its response read for
// the log and both written to it.
double LoggedBatch(CLinkDispatch &links, const QString &commandPath, const QString &logPath, int &wrong)
{
    CCommandFiles files;
    files.SetCommandFilePath(commandPath);
    files.SetLogFilePath(logPath);
    CCommandSender sender(links, files, links.Context().hooks);
    if (!links.ConnectLinks().Ok())
        return 0;
    int sent = 0;
    QElapsedTimer clock;
    clock.start();
    files.RunBatch(
        [&](const char *line) {
            ++sent;
            return sender.SendCommand(line).Ok() ? 1 : 0;
        },
        [](std::uint32_t us) { DelayMicroseconds(us); });
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    Tcp(links).DropSocket();

    QFile log(logPath);
    if (log.open(QIODevice::ReadOnly)) {
        const QByteArray content = log.readAll();
        wrong += static_cast<int>(sent - content.count(QByteArrayLiteral(">1.250\r\n")));
    }
    QFile::remove(logPath);
    return sent / seconds;
}

// The least a client can do: the command, the request and one receive of the
// reply on one blocking socket, with the link's socket option (no Nagle
// delay) unless `nagle` asks for the system's default. With `logPath`, it
// also appends the command and the marked reply to a log, a write call each,
// as the straight-through log does.
double RawClient(const QString &address, int queries, int &wrong, bool nagle = false, bool waitInPoll = false,
                 const QString &logPath = QString())
{
    int logFd = -1;
    if (!logPath.isEmpty()) {
        logFd =
            ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (logFd < 0)
            return 0;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int noDelay = nagle ? 0 : 1;
    if (fd >= 0)
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(TCPIP_PORT);
    inet_pton(AF_INET, address.toLatin1().constData(), &peer.sin_addr);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0) {
        std::perror("raw client connect");
        if (fd >= 0)
            ::close(fd);
        return 0;
    }
    const std::size_t commandLength = std::strlen(COMMAND);
    const std::size_t requestLength = std::strlen(RESPONSE_REQUEST);
    char buffer[RESPONSE_BUFFER_SIZE + 1];
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < queries; ++i) {
        if (logFd >= 0 && ::write(logFd, COMMAND, commandLength) != static_cast<ssize_t>(commandLength))
            ++wrong;
        if (::send(fd, COMMAND, commandLength, MSG_NOSIGNAL) != static_cast<ssize_t>(commandLength) ||
            ::send(fd, RESPONSE_REQUEST, requestLength, MSG_NOSIGNAL) !=
                static_cast<ssize_t>(requestLength)) {
            ::close(fd);
            return 0;
        }
        if (waitInPoll) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, RESPONSE_TIMEOUT_MS);
        }
        const ssize_t n = ::recv(fd, buffer, RESPONSE_BUFFER_SIZE, 0);
        if (n < 0) {
            ::close(fd);
            return 0;
        }
        buffer[n] = '\0';
        wrong += std::strcmp(buffer, EXPECTED) == 0 ? 0 : 1;
        if (logFd >= 0) {
            char marker = '>';
            iovec parts[2] = {{&marker, 1}, {buffer, static_cast<std::size_t>(n)}};
            if (::writev(logFd, parts, 2) != n + 1)
                ++wrong;
        }
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    ::close(fd);
    if (logFd >= 0) {
        ::close(logFd);
        QFile::remove(logPath);
    }
    return queries / seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString address = QStringLiteral("127.0.0.1");
    int queries = 10000;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--address") && i + 1 < args.size()) {
            address = args[++i];
        } else if (args[i] == QLatin1String("--queries") && i + 1 < args.size()) {
            queries = std::max(1, args[++i].toInt());
        } else {
            std::fprintf(stderr, "Usage: bench_tcp [--address LOOPBACK-ADDRESS] [--queries N]\n");
            return 1;
        }
    }

    QProcess server;
    server.setProgram(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-instrument-server"));
    server.setArguments({QStringLiteral("--address"), address});
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.start();
    if (!server.waitForStarted(5000) || !WaitForListening(server)) {
        server.waitForFinished(5000);
        std::fprintf(stderr, "%s", server.readAllStandardError().constData());
        return server.exitCode() == 2 ? 2 : 1;
    }

    QTemporaryDir dir;
    const QString commandPath = dir.filePath(QStringLiteral("queries.txt"));
    const QString logPath = dir.filePath(QStringLiteral("responses.log"));
    {
        QFile file(commandPath);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < std::max(1, queries / BLOCKS); ++i)
            file.write(COMMAND);
    }

    CUiHooks hooks;
    int messages = 0;
    hooks.showMessage = [&](const QString &text) {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    };
    CLinkDispatch links(&hooks);
    links.Choose(LINK_TCPIP);
    Gpib(links).SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
    links.SetIpAddressText([&]() { return address; });
    DelayMicroseconds(100); // the one-time calibration, outside the timings

    std::printf("%d queries (command, request, reply) to tallix-instrument-server on %s:%d\n", queries,
                qPrintable(address), TCPIP_PORT);
    int wrong = 0;
    // Warm both paths up once, unmeasured.
    ConsoleLoop(links, std::min(queries, 1000), wrong);
    RawClient(address, std::min(queries, 1000), wrong);

    const int block = std::max(1, queries / BLOCKS);
    enum Path
    {
        Raw,
        Loop,
        Batch,
        RawPoll,
        RawLogged,
        PATHS
    };
    double seconds[PATHS] = {};
    std::vector<double> ratios[PATHS];
    for (int b = 0; b < BLOCKS; ++b) {
        double rate[PATHS] = {};
        for (int k = 0; k < PATHS; ++k) {
            const int path = (b + k) % PATHS;
            switch (path) {
            case Raw:
                rate[path] = RawClient(address, block, wrong);
                break;
            case Loop:
                rate[path] = ConsoleLoop(links, block, wrong);
                break;
            case Batch:
                rate[path] = LoggedBatch(links, commandPath, logPath, wrong);
                break;
            case RawPoll:
                rate[path] = RawClient(address, block, wrong, false, true);
                break;
            case RawLogged:
                rate[path] = RawClient(address, block, wrong, false, false, logPath);
                break;
            }
        }
        for (int path = 0; path < PATHS; ++path) {
            if (rate[path] <= 0) {
                std::fprintf(stderr, "a path failed in block %d\n", b + 1);
                return 1;
            }
            seconds[path] += block / rate[path];
            ratios[path].push_back(rate[path] / rate[Raw]);
        }
    }
    auto total = [&](int path) { return block * BLOCKS / seconds[path]; };
    auto ratio = [&](int path) { return Median(ratios[path]); };
    std::printf(
        "%d blocks of %d queries a path, the paths taking turns; rates over all blocks, ratios to the raw "
        "client the medians of the blocks' own\n",
        BLOCKS, block);
    std::printf("raw client                                  %6.0f q/s\n", total(Raw));
    std::printf("console SendCommand+ReadResponse            %6.0f q/s, ratio %.3f (target >= 0.9)\n",
                total(Loop), ratio(Loop));
    std::printf("console logged batch                        %6.0f q/s, ratio %.3f (target >= 0.9)\n",
                total(Batch), ratio(Batch));
    // The console used to wait for the reply in poll() and then receive;
    // this is the raw client paying for that one call.
    std::printf("raw client waiting in poll() before receive %6.0f q/s, ratio %.3f\n", total(RawPoll),
                ratio(RawPoll));
    // What the log costs any client: the same two writes a query.
    std::printf("raw client writing the same log             %6.0f q/s, ratio %.3f\n", total(RawLogged),
                ratio(RawLogged));
    std::printf("console logged batch / raw client writing the same log: %.3f\n",
                total(Batch) / total(RawLogged));
    ReportRatio("TCP/IP SendCommand+ReadResponse, console/raw", ratio(Loop), 0.9, true);
    ReportRatio("TCP/IP logged batch, console/raw", ratio(Batch), 0.9, true);
    // What the option saves: each query waits for the server's delayed
    // acknowledgement without it.
    const int sample = std::min(queries, 100);
    std::printf("raw client with Nagle's algorithm (%d queries): %.0f q/s\n", sample,
                RawClient(address, sample, wrong, true));
    std::printf("wrong responses: %d, messages: %d\n", wrong, messages);

    server.terminate();
    server.waitForFinished(5000);
    return wrong == 0 && messages == 0 ? 0 : 1;
}
