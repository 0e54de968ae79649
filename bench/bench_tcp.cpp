// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// Queries per second over the TCP/IP link to the simulated instrument server:
// the console's own path against a minimal client that sends the same bytes
// on one socket, to the same server in the same run.
#include "BenchResult.h"
#include "cmdfile/CommandFiles.h"
#include "links/LinkDispatch.h"
#include "links/TcpLink.h"
#include "links/UiHooks.h"
#include "timing/Delay.h"

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
constexpr int ROUNDS = 5;

struct CRates
{
    double loop = 0;
    double raw = 0;
    double batch = 0;
    double rawPoll = 0;
    double rawLogged = 0;
};

bool WaitForListening(QProcess &server)
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

// SendCommand and ReadResponse of the link dispatch, one query after another,
// as the Send button with the Read box ticked does after its ConnectLinks.
double ConsoleLoop(CLinkDispatch &links, int queries, int &wrong)
{
    if (links.ConnectLinks() == 0)
        return 0;
    QByteArray text;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < queries; ++i) {
        if (links.SendCommand(COMMAND) == 0)
            return 0;
        text.clear();
        links.ReadResponse(text);
        wrong += text == EXPECTED ? 0 : 1;
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    links.m_tcp.DropSocket(); // the server serves one client at a time
    return queries / seconds;
}

// A logged batch of the command file: every line sent, its response read for
// the log and both written to it.
double LoggedBatch(CLinkDispatch &links, const QString &commandPath, const QString &logPath, int &wrong)
{
    CCommandFiles files;
    files.m_commandFilePath = commandPath;
    files.m_logFilePath = logPath;
    links.m_logFile = &files.m_logFile;
    if (links.ConnectLinks() == 0)
        return 0;
    int sent = 0;
    QElapsedTimer clock;
    clock.start();
    files.RunBatch(
        [&](const char *line) {
            ++sent;
            return links.SendCommand(line);
        },
        [](std::uint32_t us) { DelayMicroseconds(us); });
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    links.m_logFile = nullptr;
    links.m_tcp.DropSocket();

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

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
        for (int i = 0; i < queries; ++i)
            file.write(COMMAND);
    }

    CUiHooks hooks;
    int messages = 0;
    hooks.showMessage = [&](const QString &text) {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    };
    CLinkDispatch links(&hooks);
    links.m_linkKind = LINK_TCPIP;
    links.m_gpib.SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
    links.m_ipAddressText = [&]() { return address; };
    DelayMicroseconds(100); // the one-time calibration, outside the timings

    std::printf("%d queries (command, request, reply) to tallix-instrument-server on %s:%d\n", queries,
                qPrintable(address), TCPIP_PORT);
    int wrong = 0;
    // Warm both paths up once, unmeasured.
    ConsoleLoop(links, std::min(queries, 1000), wrong);
    RawClient(address, std::min(queries, 1000), wrong);

    std::vector<double> loops, raws, batches, rawPolls, rawLoggeds;
    for (int round = 1; round <= ROUNDS; ++round) {
        CRates r;
        r.raw = RawClient(address, queries, wrong);
        r.loop = ConsoleLoop(links, queries, wrong);
        r.batch = LoggedBatch(links, commandPath, logPath, wrong);
        r.rawPoll = RawClient(address, queries, wrong, false, true);
        r.rawLogged = RawClient(address, queries, wrong, false, false, logPath);
        std::printf("round %d: raw client %.0f q/s, console SendCommand+ReadResponse %.0f q/s (%.3f), "
                    "logged batch %.0f q/s (%.3f)\n",
                    round, r.raw, r.loop, r.raw > 0 ? r.loop / r.raw : 0.0, r.batch,
                    r.raw > 0 ? r.batch / r.raw : 0.0);
        raws.push_back(r.raw);
        loops.push_back(r.loop);
        batches.push_back(r.batch);
        rawPolls.push_back(r.rawPoll);
        rawLoggeds.push_back(r.rawLogged);
    }
    const double raw = Median(raws), loop = Median(loops), batch = Median(batches);
    std::printf("median: raw client %.0f q/s\n", raw);
    std::printf("median: console SendCommand+ReadResponse %.0f q/s, ratio %.3f (target >= 0.9)\n", loop,
                raw > 0 ? loop / raw : 0.0);
    std::printf("median: console logged batch %.0f q/s, ratio %.3f (target >= 0.9)\n", batch,
                raw > 0 ? batch / raw : 0.0);
    ReportRatio("TCP/IP SendCommand+ReadResponse, console/raw", raw > 0 ? loop / raw : 0.0, 0.9, true);
    ReportRatio("TCP/IP logged batch, console/raw", raw > 0 ? batch / raw : 0.0, 0.9, true);
    // The console waits for the reply in poll() (its deadline) and then
    // receives; this is the same raw client paying for that one call.
    const double rawPoll = Median(rawPolls);
    std::printf("median: raw client waiting in poll() before each receive %.0f q/s; console loop / it %.3f\n",
                rawPoll, rawPoll > 0 ? loop / rawPoll : 0.0);
    // What the log costs any client: the same two writes a query.
    const double rawLogged = Median(rawLoggeds);
    std::printf("median: raw client writing the same log %.0f q/s (%.3f of the raw client); "
                "console logged batch / it %.3f\n",
                rawLogged, raw > 0 ? rawLogged / raw : 0.0, rawLogged > 0 ? batch / rawLogged : 0.0);
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
