// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/tcp/InstrumentServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tallixsim {

namespace {

constexpr const char *REQUEST_LINE = "Please respond";
constexpr int LISTEN_BACKLOG = 16;
constexpr int PROBE_WAIT_MS = 300;

std::string AddressText(const sockaddr_in &address)
{
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

std::string StripLineEnd(std::string line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

} // namespace

InstrumentServer::InstrumentServer(ServerOptions options) : m_options(std::move(options))
{
    // Every request line is answered with the latest reply, taken or not.
    m_model.setKeepLatest(true);
}

InstrumentServer::~InstrumentServer()
{
    for (int i = 0; i < m_dummyCount; ++i)
        ::close(m_dummies[i]);
    if (m_listener >= 0)
        ::close(m_listener);
    if (m_logFd >= 0)
        ::close(m_logFd);
    if (m_sentFd >= 0)
        ::close(m_sentFd);
}

void InstrumentServer::Say(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void InstrumentServer::Log(const char *data, std::size_t size)
{
    Append(m_logFd, data, size);
}

void InstrumentServer::Append(int &fd, const char *data, std::size_t size)
{
    while (fd >= 0 && size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tallix-instrument-server: log write failed: %s\n", std::strerror(errno));
            ::close(fd);
            fd = -1;
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

InstrumentServer::Wait InstrumentServer::WaitFor(int fd, short events, int timeoutMs)
{
    // The stop signals are blocked everywhere but here, so one that arrives
    // between the check and the wait still ends the wait.
    sigset_t open;
    pthread_sigmask(SIG_BLOCK, nullptr, &open);
    sigdelset(&open, SIGTERM);
    sigdelset(&open, SIGINT);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (m_stop && *m_stop)
            return Wait::Stopped;
        timespec limit{};
        timespec *limitPtr = nullptr;
        if (timeoutMs >= 0) {
            const auto left = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count());
            limit.tv_sec = static_cast<time_t>(left / 1000000000);
            limit.tv_nsec = static_cast<long>(left % 1000000000);
            limitPtr = &limit;
        }
        pollfd p{fd, events, 0};
        const int n = ppoll(&p, fd >= 0 ? 1 : 0, limitPtr, &open);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tallix-instrument-server: poll failed: %s\n", std::strerror(errno));
            return Wait::Stopped;
        }
        if (n > 0)
            return Wait::Ready;
        if (timeoutMs >= 0 && Clock::now() >= deadline)
            return Wait::Timeout;
    }
}

int InstrumentServer::Listen(const char *programPath)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(m_options.port));
    if (inet_pton(AF_INET, m_options.address.c_str(), &address.sin_addr) != 1) {
        std::fprintf(stderr, "tallix-instrument-server: not an IPv4 address: %s\n",
                     m_options.address.c_str());
        return 1;
    }
    const std::string where = AddressText(address);

    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listener < 0) {
        std::fprintf(stderr, "tallix-instrument-server: socket: %s\n", std::strerror(errno));
        return 1;
    }
    const int on = 1;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        std::fprintf(stderr, "tallix-instrument-server: cannot listen on %s: %s\n", where.c_str(),
                     std::strerror(error));
        if (error == EACCES && m_options.port < 1024) {
            std::fprintf(stderr,
                         "Port %d is below 1024: binding it needs root or the CAP_NET_BIND_SERVICE "
                         "capability. To allow it for this program:\n"
                         "    sudo setcap cap_net_bind_service=+ep %s\n",
                         m_options.port, programPath);
            return EXIT_BIND_PRIVILEGE;
        }
        return 1;
    }
    // Backlog 0 lets exactly one connection wait; FillBacklog takes that place.
    if (::listen(m_listener, m_options.acceptNothing ? 0 : LISTEN_BACKLOG) != 0) {
        std::fprintf(stderr, "tallix-instrument-server: listen: %s\n", std::strerror(errno));
        return 1;
    }
    socklen_t size = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size);

    if (!m_options.sentPath.empty()) {
        m_sentFd = ::open(m_options.sentPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (m_sentFd < 0) {
            std::fprintf(stderr, "tallix-instrument-server: cannot open %s: %s\n", m_options.sentPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    if (!m_options.logPath.empty()) {
        m_logFd = ::open(m_options.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (m_logFd < 0) {
            std::fprintf(stderr, "tallix-instrument-server: cannot open log %s: %s\n",
                         m_options.logPath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    if (m_options.acceptNothing && !FillBacklog()) {
        std::fprintf(stderr, "tallix-instrument-server: could not fill the backlog of %s\n", where.c_str());
        return 1;
    }
    Say("listening on " + AddressText(address));
    return 0;
}

bool InstrumentServer::FillBacklog()
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return false;
    // Connect to ourselves and never accept, until a connect no longer
    // completes: from then on the kernel drops every new handshake, so a
    // client's connect waits as long as it is willing to.
    constexpr int most = static_cast<int>(sizeof m_dummies / sizeof m_dummies[0]);
    while (m_dummyCount < most) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        m_dummies[m_dummyCount++] = fd;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            continue;
        if (errno != EINPROGRESS)
            return false;
        switch (WaitFor(fd, POLLOUT, PROBE_WAIT_MS)) {
        case Wait::Timeout:
            return true;
        case Wait::Stopped:
            return false;
        case Wait::Ready:
            break;
        }
        int error = 0;
        socklen_t errorSize = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorSize) != 0 || error != 0)
            return false;
    }
    return false;
}

int InstrumentServer::Run(volatile std::sig_atomic_t &stop)
{
    m_stop = &stop;
    if (m_options.acceptNothing) {
        while (WaitFor(-1, 0, -1) != Wait::Stopped) {
        }
        return 0;
    }
    while (WaitFor(m_listener, POLLIN, -1) == Wait::Ready) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        const int client =
            ::accept4(m_listener, reinterpret_cast<sockaddr *>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0)
            continue; // gone before it was taken, or interrupted
        Say("connection from " + AddressText(peer));
        Serve(client);
    }
    return 0;
}

void InstrumentServer::Serve(int client)
{
    if (m_options.closeAfter == 0) {
        m_options.reset ? ResetAndClose(client) : CloseAfterLines(client);
        return;
    }
    std::string pending;
    long lines = 0;
    char buffer[65536];
    for (;;) {
        if (WaitFor(client, POLLIN, -1) != Wait::Ready) {
            ::close(client);
            return;
        }
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n < 0) {
            Say(std::string("connection lost: ") + std::strerror(errno));
            ::close(client);
            return;
        }
        if (n == 0) {
            Say("connection closed by client");
            ::close(client);
            return;
        }
        Log(buffer, static_cast<std::size_t>(n));
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t eol; (eol = pending.find('\n', start)) != std::string::npos; start = eol + 1) {
            if (!HandleLine(client, pending.substr(start, eol + 1 - start), ++lines))
                return;
        }
        pending.erase(0, start);
    }
}

// Returns false when the connection has ended (and is closed).
bool InstrumentServer::HandleLine(int client, std::string line, long lineNumber)
{
    const std::string text = StripLineEnd(std::move(line));
    ScpiReply reply;
    bool answer = false;
    if (m_options.scpi) {
        answer = m_scpi.Command(text, reply);
    } else if (text == REQUEST_LINE) {
        answer = true;
        reply.bytes = m_model.latest().empty() ? std::string("\r\n") : m_model.latest();
        reply.pace = m_model.pace();
    } else {
        m_model.command(text);
    }
    if (answer) {
        if (m_options.reset && m_options.closeAfter < 0) {
            ResetAndClose(client);
            return false;
        }
        if (!m_options.neverAnswer) {
            if (m_options.replyBytes >= 0) {
                InstrumentModel pattern;
                pattern.command("DATA? " + std::to_string(m_options.replyBytes));
                reply = ScpiReply();
                reply.bytes = pattern.take();
            }
            if (m_options.resetAfterBytes >= 0) {
                reply.bytes.resize(
                    std::min(reply.bytes.size(), static_cast<std::size_t>(m_options.resetAfterBytes)));
                reply.lateBytes = 0;
                if (Reply(client, std::move(reply)))
                    ResetAndClose(client);
                else
                    ::close(client);
                return false;
            }
            if (m_options.closeAfterBytes >= 0) {
                reply.bytes.resize(
                    std::min(reply.bytes.size(), static_cast<std::size_t>(m_options.closeAfterBytes)));
                reply.lateBytes = 0;
                Reply(client, std::move(reply));
                Say("closing the connection after the reply");
                ::close(client);
                return false;
            }
            if (!Reply(client, std::move(reply))) {
                ::close(client);
                return false;
            }
        }
    }
    if (m_options.closeAfter >= 0 && lineNumber >= m_options.closeAfter) {
        m_options.reset ? ResetAndClose(client) : CloseAfterLines(client);
        return false;
    }
    return true;
}

bool InstrumentServer::Reply(int client, ScpiReply reply)
{
    std::string &bytes = reply.bytes;
    if (m_options.nul)
        bytes.insert(bytes.size() / 2, 1, '\0');
    // The options' pieces, when given, stand for every reply; otherwise the
    // reply's own pace.
    std::size_t pieceSize = bytes.size();
    int pauseMs = 0;
    if (m_options.pieces > 1) {
        const std::size_t pieces = std::max<std::size_t>(
            1, std::min<std::size_t>(static_cast<std::size_t>(m_options.pieces), bytes.size()));
        pieceSize = (bytes.size() + pieces - 1) / pieces;
        pauseMs = m_options.pauseMs;
    } else if (reply.pace.pieceBytes > 0) {
        pieceSize = reply.pace.pieceBytes;
        pauseMs = reply.pace.pauseMs;
    }
    const std::size_t lateAt = bytes.size() - std::min(reply.lateBytes, bytes.size());
    for (std::size_t at = 0; at < lateAt; at += pieceSize) {
        if (at > 0 && pauseMs > 0 && WaitFor(-1, 0, pauseMs) == Wait::Stopped)
            return false;
        if (!SendAll(client, bytes.data() + at, std::min(pieceSize, lateAt - at)))
            return false;
    }
    if (lateAt == bytes.size())
        return true;
    if (reply.lateMs > 0 && WaitFor(-1, 0, reply.lateMs) == Wait::Stopped)
        return false;
    return SendAll(client, bytes.data() + lateAt, bytes.size() - lateAt);
}

bool InstrumentServer::SendAll(int client, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(client, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                if (WaitFor(client, POLLOUT, -1) != Wait::Ready)
                    return false;
                continue;
            }
            Say(std::string("connection lost: ") + std::strerror(errno));
            return false;
        }
        Append(m_sentFd, data, static_cast<std::size_t>(n));
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void InstrumentServer::CloseAfterLines(int client)
{
    if (m_options.hangUp) {
        // As a peer that simply goes away: the system sends end-of-file and
        // answers whatever the client sends afterwards with a reset.
        ::close(client);
        Say("connection closed");
        return;
    }
    // End-of-file first, so that a read waiting for a reply gets nothing;
    // then a reset, so that the client's next send fails instead of going
    // into a connection that nobody reads.
    ::shutdown(client, SHUT_WR);
    Say("end of file sent");
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_options.closeMs);
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || WaitFor(client, POLLIN, static_cast<int>(left)) != Wait::Ready)
            break;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR)))
            break;
        if (n > 0)
            Log(buffer, static_cast<std::size_t>(n));
    }
    ResetAndClose(client);
}

void InstrumentServer::ResetAndClose(int client)
{
    const linger abort{1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(client);
    Say("connection reset");
}

} // namespace tallixsim
