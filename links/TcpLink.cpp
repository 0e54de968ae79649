// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/TcpLink.h"

#include "common/SystemError.h"
#include "common/UiHooks.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr std::size_t REQUEST_LENGTH = sizeof RESPONSE_REQUEST - 1;

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int PendingSocketError(int fd)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return errno;
    return error;
}

// The outcome of a wait for readability that found an error or hang-up: what
// came before the error is still there to be received, and then it is the
// event, with no error. A peek shows it without taking anything: data, or an
// end-of-file (0) that arrived before a reset (as when a request reaches a
// server that has closed). Otherwise the peek fails with the pending error.
int ReadableOutcome(int fd)
{
    char byte;
    if (::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) >= 0)
        return 0;
    const int error = errno;
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR ? PendingSocketError(fd) : error;
}

// What one wait for a socket event ended with.
enum class WaitEnd
{
    Event,    // the awaited event came; `error` holds its error code
    Dead,     // the socket was found closed
    Deadline, // nothing came in time
};

struct WaitResult
{
    WaitEnd end = WaitEnd::Deadline;
    int error = 0;
};

// Blocks until `fd` shows `events` (or an error or hang-up, which count as the
// event with the socket's pending error, unless what came before it can still
// be received), the socket turns out dead, or the deadline passes. Nothing else of the thread runs meanwhile,
// as with the window's own waits.
WaitResult WaitForSocket(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, RemainingMs(deadline));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return {WaitEnd::Event, errno};
        }
        if (n == 0) {
            if (Clock::now() < deadline)
                continue; // poll rounds down; never give up early
            return {WaitEnd::Deadline, 0};
        }
        if ((p.revents & POLLNVAL) != 0)
            return {WaitEnd::Dead, 0};
        // A hang-up without a pending error is the peer's orderly close: the
        // socket is readable and the receive returns nothing.
        if ((p.revents & (POLLERR | POLLHUP)) != 0)
            return {WaitEnd::Event, (events & POLLIN) != 0 ? ReadableOutcome(fd) : PendingSocketError(fd)};
        if ((p.revents & events) != 0)
            return {WaitEnd::Event, 0};
    }
}

// Lets a receive on `fd` block for at most `ms` milliseconds.
bool SetReceiveTimeout(int fd, int ms)
{
    timeval limit{};
    limit.tv_sec = ms / 1000;
    limit.tv_usec = (ms % 1000) * 1000;
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

} // namespace

CTcpLink::CTcpLink(const CLinkContext &context) : CLink(context) {}

CTcpLink::~CTcpLink()
{
    DropSocket();
}

int CTcpLink::Update(LinkKind chosen)
{
    return ConnectSocket(chosen, m_context.ipAddressText ? m_context.ipAddressText() : QString());
}

void CTcpLink::ReadForLog(LogBuffer buffer)
{
    // An instrument that is not asked answers queries only: after any other
    // line there is nothing to wait for.
    if (!m_context.options.askForReply && !m_lastLineWasQuery)
        return;
    if (HasSocket())
        ReadSocketResponse(buffer.data());
}

void CTcpLink::ReadForDisplay(QByteArray &text, DisplayRead how)
{
    if (!HasSocket())
        return;
    if (how == DisplayRead::Text) {
        ReadIntoText(text, [this](LogBuffer buffer) { ReadSocketResponse(buffer.data()); });
        return;
    }
    QByteArray bytes(RESPONSE_BUFFER_SIZE + 1, '\0');
    const int received = ReadSocketResponse(bytes.data());
    if (received > 0)
        text = bytes.left(received);
}

void CTcpLink::DropSocket()
{
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
    m_receiveBlocks = false;
    m_receiveTimeoutMs = 0;
}

bool CTcpLink::UseReceiveTimeout(int replyTimeoutMs)
{
    // Most of the wait for a reply is spent inside the receive, which wakes
    // the moment the reply comes: a wait in poll() and then a receive cost a
    // tenth of a loopback query more. The kernel keeps such a long receive
    // time-out only to within an eighth, and never early, so it is set to
    // seven eighths of the wait and poll(), whose timer is exact, keeps the
    // deadline. Where that fails, the whole wait is in poll(), and the
    // connection must not block without a time-out.
    if (!m_receiveBlocks || m_receiveTimeoutMs == replyTimeoutMs)
        return m_receiveBlocks;
    if (SetReceiveTimeout(m_socket, replyTimeoutMs / 8 * 7)) {
        m_receiveTimeoutMs = replyTimeoutMs;
        return true;
    }
    const int flags = fcntl(m_socket, F_GETFL);
    if (flags >= 0)
        fcntl(m_socket, F_SETFL, flags | O_NONBLOCK);
    m_receiveBlocks = false;
    return false;
}

void CTcpLink::FailWait(const QString &text)
{
    ReportFailure(QStringLiteral("Error waiting for response: ") + text);
    DropSocket();
}

void CTcpLink::CheckAddress(std::uint32_t controlAddress)
{
    const std::uint32_t previous = m_ipAddress;
    m_ipAddress = controlAddress;
    if (m_ipAddress != previous)
        DropSocket();
}

int CTcpLink::ConnectSocket(LinkKind kind, const QString &ipText)
{
    if (kind != LINK_TCPIP) {
        DropSocket();
        return 1;
    }
    // Another port is another server: the connection to the old one goes.
    if (m_socket >= 0 && m_port != m_context.options.tcpPort)
        DropSocket();
    if (m_socket >= 0)
        return 1; // the connection is not tested
    m_port = m_context.options.tcpPort;

    if (m_context.hooks)
        m_context.hooks->BeginWait();

    WaitResult result{WaitEnd::Event, 0};
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        result.error = errno;
    } else {
        // Every query is two small writes (the command, then the request)
        // before a read: with Nagle's algorithm the request would wait for
        // the server's delayed acknowledgement of the command, some 40 ms a
        // query on Linux. Failing to turn it off only costs that time.
        const int noDelay = 1;
        setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<std::uint16_t>(m_port));
        const QByteArray text = ipText.toLatin1();
        if (inet_pton(AF_INET, text.constData(), &peer.sin_addr) != 1) {
            // The address control always gives four dotted numbers; anything
            // else is refused the way the system refuses a bad argument.
            result.error = EINVAL;
        } else if (peer.sin_addr.s_addr == htonl(INADDR_ANY)) {
            // Linux connects 0.0.0.0 to this machine, so the blank address of
            // a first run would reach whatever listens here. It names no
            // server: refused as an address that cannot be reached.
            result.error = EADDRNOTAVAIL;
        } else if (::connect(m_socket, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) == 0) {
            result.error = 0;
        } else if (errno != EINPROGRESS && errno != EINTR) {
            // An immediate failure leaves no pending error behind to read
            // later, so it is the outcome itself.
            result.error = errno;
        } else {
            result =
                WaitForSocket(m_socket, POLLOUT,
                              Clock::now() + std::chrono::milliseconds(m_context.options.connectTimeoutMs));
        }
    }

    if (result.end == WaitEnd::Event && result.error == 0) {
        // The connection blocks from here on, with a receive time-out (see
        // UseReceiveTimeout); every send still passes MSG_DONTWAIT.
        const int flags = fcntl(m_socket, F_GETFL);
        m_receiveBlocks = flags >= 0 && fcntl(m_socket, F_SETFL, flags & ~O_NONBLOCK) == 0;
        UseReceiveTimeout(m_context.options.replyTimeoutMs);
        if (m_context.hooks)
            m_context.hooks->EndWait();
        return 1;
    }

    QString text;
    if (result.end == WaitEnd::Dead)
        text = QStringLiteral("Socket is dead");
    else if (result.end == WaitEnd::Deadline)
        text = QStringLiteral("Cannot connect to server");
    else
        text = SystemErrorText(result.error);
    ReportFailure(text);
    DropSocket();
    if (m_context.hooks)
        m_context.hooks->EndWait();
    return 0;
}

int CTcpLink::SendSocketCommand(std::string_view line)
{
    // A batch whose log read dropped the connection still has lines to send;
    // they must not touch a socket that is gone.
    if (m_socket < 0) {
        ReportFailure(QStringLiteral("Error sending message: ") + SystemErrorText(ENOTCONN));
        return 0;
    }

    m_lastLineWasQuery = line.find('?') != std::string_view::npos;
    const std::size_t length = line.size();
    const ssize_t sent = ::send(m_socket, line.data(), length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        const int error = errno;
        ReportFailure(QStringLiteral("Error sending message: ") + SystemErrorText(error));
        DropSocket();
        return 0;
    }
    if (static_cast<std::size_t>(sent) == length)
        return 1;
    ReportFailure(QStringLiteral("Characters in message: %1, Characters sent: %2")
                      .arg(static_cast<qulonglong>(length))
                      .arg(static_cast<qlonglong>(sent)));
    DropSocket();
    return 0;
}

int CTcpLink::ReadSocketResponse(char *buffer)
{
    if (m_socket < 0) {
        ReportFailure(QStringLiteral("Error requesting response: ") + SystemErrorText(ENOTCONN));
        return -1;
    }
    const CLinkOptions &options = m_context.options;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.replyTimeoutMs);
    if (!options.askForReply)
        return ReceiveLine(buffer, deadline);

    // A short send of the request is not an error: the server answers what
    // it got, or the wait below runs out.
    if (::send(m_socket, RESPONSE_REQUEST, REQUEST_LENGTH, MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
        const int error = errno;
        ReportFailure(QStringLiteral("Error requesting response: ") + SystemErrorText(error));
        DropSocket();
        return -1;
    }

    // One receive: a longer reply, or the rest of one still on its way, stays
    // in the connection.
    ssize_t received = -1;
    if (UseReceiveTimeout(options.replyTimeoutMs)) {
        // Data, or an orderly close, that came before an error is received
        // first; an error here is what the wait ended with.
        received = ::recv(m_socket, buffer, RESPONSE_BUFFER_SIZE, 0);
        if (received < 0) {
            const int error = errno;
            if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
                FailWait(error == EBADF || error == ENOTSOCK ? QStringLiteral("Socket is dead")
                                                             : SystemErrorText(error));
                return -1;
            }
        }
    }
    if (received < 0) {
        // Nothing yet: the rest of the wait, to the deadline.
        if (!WaitForReply(deadline))
            return -1;
        received = ::recv(m_socket, buffer, RESPONSE_BUFFER_SIZE, MSG_DONTWAIT);
        if (received < 0) {
            const int error = errno;
            DropSocket();
            ReportFailure(QStringLiteral("Error receiving response: ") + SystemErrorText(error));
            return -1;
        }
    }
    buffer[received] = '\0';
    return static_cast<int>(received);
}

bool CTcpLink::WaitForReply(Clock::time_point deadline)
{
    const WaitResult result = WaitForSocket(m_socket, POLLIN, deadline);
    if (result.end == WaitEnd::Event && result.error == 0)
        return true;
    if (result.end == WaitEnd::Dead)
        FailWait(QStringLiteral("Socket is dead"));
    else if (result.end == WaitEnd::Deadline)
        FailWait(QStringLiteral("No response"));
    else
        FailWait(SystemErrorText(result.error));
    return false;
}

int CTcpLink::ReceiveLine(char *buffer, Clock::time_point deadline)
{
    // An instrument that answers by itself may send its reply in pieces:
    // gather them up to its line end, and leave whatever follows it.
    std::size_t got = 0;
    while (got < static_cast<std::size_t>(RESPONSE_BUFFER_SIZE)) {
        if (got == 0) {
            if (!WaitForReply(deadline))
                return -1;
        } else if (WaitForSocket(m_socket, POLLIN, deadline).end == WaitEnd::Deadline) {
            break; // the part that came in time is the reply
        }
        char *at = buffer + got;
        const std::size_t room = RESPONSE_BUFFER_SIZE - got;
        const ssize_t seen = ::recv(m_socket, at, room, MSG_PEEK | MSG_DONTWAIT);
        if (seen == 0)
            break; // the instrument has closed its side
        if (seen < 0) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)
                continue;
            DropSocket();
            ReportFailure(QStringLiteral("Error receiving response: ") + SystemErrorText(error));
            return -1;
        }
        const auto *lf = static_cast<const char *>(std::memchr(at, '\n', static_cast<std::size_t>(seen)));
        const std::size_t take = lf ? static_cast<std::size_t>(lf - at) + 1 : static_cast<std::size_t>(seen);
        const ssize_t taken = ::recv(m_socket, at, take, MSG_DONTWAIT);
        if (taken > 0)
            got += static_cast<std::size_t>(taken);
        if (lf && taken == static_cast<ssize_t>(take))
            break;
    }
    buffer[got] = '\0';
    return static_cast<int>(got);
}
