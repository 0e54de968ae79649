// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/socket/TcpConnection.h"

#include "common/CallThread.h"
#include "common/ReplyFramer.h"
#include "common/UiHooks.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

using Clock = CTcpConnection::Clock;

// Between two looks at the user's Stop, while a wait goes on: the window
// has its turn at least twice in the 40 ms that it asks for.
constexpr int PULSE_SLICE_MS = static_cast<int>(CALL_PULSE_EVERY.count());
// One receive of a reply takes at most this much.
constexpr std::size_t READ_CHUNK = 256 * 1024;
// One receive straight into a reply: large, so that a long block costs few
// calls.
constexpr std::int64_t IN_PLACE_CHUNK = 4 * 1024 * 1024;

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

bool SetReceiveTimeout(int fd, int ms)
{
    timeval limit{};
    limit.tv_sec = ms / 1000;
    limit.tv_usec = (ms % 1000) * 1000;
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

bool WouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

CTcpConnection::~CTcpConnection()
{
    Close();
}

void CTcpConnection::Adopt(int fd)
{
    Close();
    m_fd = fd;
}

void CTcpConnection::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_receiveBlocks = false;
    m_receiveTimeoutMs = 0;
}

CTcpConnection::WaitResult CTcpConnection::WaitFor(short events, Clock::time_point deadline,
                                                   const CUiHooks *hooks, const CProgress *reading) const
{
    // Blocks until `events` (or an error or hang-up, which count as the event
    // with the socket's pending error, unless what came before it can still
    // be received), the socket turns out dead, or the deadline passes. With
    // a progress indication the wait is cut into slices, so that the user's
    // Stop is seen between them.
    const bool pulses = hooks && hooks->Pulses();
    const Clock::time_point start = Clock::now();
    const auto total = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - start).count();
    for (;;) {
        int ms = RemainingMs(deadline);
        if (pulses)
            ms = std::min(ms, PULSE_SLICE_MS);
        pollfd p{m_fd, events, 0};
        const int n = poll(&p, 1, ms);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return {WaitEnd::Event, errno};
        }
        if (n == 0) {
            if (pulses) {
                CProgress progress;
                if (reading) {
                    progress = *reading;
                } else {
                    progress.kind = CProgress::Kind::Wait;
                    progress.done =
                        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
                    progress.total = total;
                }
                if (!hooks->Pulse(progress))
                    return {WaitEnd::Stopped, 0};
            }
            if (Clock::now() < deadline)
                continue; // poll rounds down; never give up early
            return {WaitEnd::Deadline, 0};
        }
        if ((p.revents & POLLNVAL) != 0)
            return {WaitEnd::Dead, 0};
        // A hang-up without a pending error is the peer's orderly close: the
        // socket is readable and the receive returns nothing.
        if ((p.revents & (POLLERR | POLLHUP)) != 0)
            return {WaitEnd::Event,
                    (events & POLLIN) != 0 ? ReadableOutcome(m_fd) : PendingSocketError(m_fd)};
        if ((p.revents & events) != 0)
            return {WaitEnd::Event, 0};
    }
}

CTcpConnection::WaitResult CTcpConnection::WaitReadable(Clock::time_point deadline,
                                                        const CUiHooks *hooks) const
{
    return WaitFor(POLLIN, deadline, hooks);
}

CTcpConnection::WaitResult CTcpConnection::Connect(const sockaddr *peer, socklen_t size, int timeoutMs,
                                                   const CUiHooks *hooks)
{
    Close();
    WaitResult result{WaitEnd::Event, 0};
    m_fd = ::socket(peer->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return {WaitEnd::Event, errno};
    // Every query is a small write and then, often, a second one (the
    // request line) before a read: with Nagle's algorithm the second would
    // wait for the peer's delayed acknowledgement of the first, some 40 ms a
    // query on Linux. Failing to turn it off only costs that time.
    const int noDelay = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    if (::connect(m_fd, peer, size) == 0) {
        result.error = 0;
    } else if (errno != EINPROGRESS && errno != EINTR) {
        // An immediate failure leaves no pending error behind to read later,
        // so it is the outcome itself.
        result.error = errno;
    } else {
        result = WaitFor(POLLOUT, Clock::now() + std::chrono::milliseconds(timeoutMs), hooks);
    }
    if (result.end != WaitEnd::Event || result.error != 0) {
        Close();
        return result;
    }
    // The connection blocks from here on, with a receive time-out (see
    // UseReceiveTimeout); every send still passes MSG_DONTWAIT.
    const int flags = fcntl(m_fd, F_GETFL);
    m_receiveBlocks = flags >= 0 && fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    return result;
}

bool CTcpConnection::UseReceiveTimeout(int replyTimeoutMs)
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
    if (SetReceiveTimeout(m_fd, replyTimeoutMs / 8 * 7)) {
        m_receiveTimeoutMs = replyTimeoutMs;
        return true;
    }
    const int flags = fcntl(m_fd, F_GETFL);
    if (flags >= 0)
        fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
    m_receiveBlocks = false;
    return false;
}

ssize_t CTcpConnection::Receive(char *buffer, std::size_t size, bool wait)
{
    return ::recv(m_fd, buffer, size, wait ? 0 : MSG_DONTWAIT);
}

ssize_t CTcpConnection::SendNow(const char *data, std::size_t size)
{
    return ::send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

int CTcpConnection::SendAll(const char *data, std::size_t size, int timeoutMs, const CUiHooks *hooks)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
        const ssize_t sent = SendNow(data, size);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (sent < 0 && !WouldBlock(errno))
            return errno;
        const WaitResult wait = WaitFor(POLLOUT, deadline, hooks);
        if (wait.end == WaitEnd::Deadline)
            return ETIMEDOUT;
        if (wait.end == WaitEnd::Stopped)
            return ECANCELED;
        if (wait.end == WaitEnd::Dead)
            return EBADF;
        if (wait.error != 0)
            return wait.error;
    }
    return 0;
}

CTcpConnection::ReadResult CTcpConnection::ReadReply(CReplyFramer &framer, int timeoutMs,
                                                     const CUiHooks *hooks)
{
    if (m_buffer.size() < READ_CHUNK)
        m_buffer.resize(READ_CHUNK);
    char *buffer = m_buffer.data();
    const bool pulses = hooks && hooks->Pulses();
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Clock::time_point lastPulse = Clock::now();
    while (!framer.Complete()) {
        // Inside a block's payload every byte belongs to the reply: it is
        // taken without a look, straight into the reply where it is kept
        // whole. Elsewhere a peek shows where the reply ends, and only that
        // much is taken, so that what follows stays in the connection.
        const std::int64_t known = framer.KnownRemaining();
        ssize_t got;
        if (char *room = known > 0 ? framer.PayloadRoom(static_cast<std::size_t>(
                                         std::min<std::int64_t>(known, IN_PLACE_CHUNK)))
                                   : nullptr) {
            got = ::recv(m_fd, room, static_cast<std::size_t>(std::min<std::int64_t>(known, IN_PLACE_CHUNK)),
                         MSG_DONTWAIT);
            framer.CommitPayload(got > 0 ? static_cast<std::size_t>(got) : 0);
        } else if (known > 0) {
            got = ::recv(m_fd, buffer, static_cast<std::size_t>(std::min<std::int64_t>(known, READ_CHUNK)),
                         MSG_DONTWAIT);
            if (got > 0)
                framer.Feed(buffer, static_cast<std::size_t>(got));
        } else {
            got = ::recv(m_fd, buffer, READ_CHUNK, MSG_PEEK | MSG_DONTWAIT);
            if (got > 0) {
                const std::size_t belongs = framer.Feed(buffer, static_cast<std::size_t>(got));
                // The same bytes that the peek showed, now taken.
                std::size_t taken = 0;
                while (taken < belongs) {
                    const ssize_t n = ::recv(m_fd, buffer + taken, belongs - taken, MSG_DONTWAIT);
                    if (n <= 0) {
                        if (n < 0 && errno == EINTR)
                            continue;
                        return {ReadEnd::Failed, n < 0 ? errno : EIO};
                    }
                    taken += static_cast<std::size_t>(n);
                }
            }
        }
        if (got > 0) {
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            if (pulses && Clock::now() - lastPulse >= std::chrono::milliseconds(PULSE_SLICE_MS)) {
                lastPulse = Clock::now();
                CProgress progress;
                progress.done = framer.Received();
                progress.total = framer.ExpectedLength();
                if (!hooks->Pulse(progress))
                    return {ReadEnd::Stopped, 0};
            }
            continue;
        }
        if (got == 0)
            return {ReadEnd::Closed, 0};
        if (!WouldBlock(errno))
            return {ReadEnd::Failed, errno};
        CProgress reading;
        reading.done = framer.Received();
        reading.total = framer.ExpectedLength();
        const WaitResult wait = WaitFor(POLLIN, deadline, hooks, &reading);
        switch (wait.end) {
        case WaitEnd::Event:
            if (wait.error != 0)
                return {ReadEnd::Failed, wait.error};
            break;
        case WaitEnd::Dead:
            return {ReadEnd::Dead, 0};
        case WaitEnd::Deadline:
            return {framer.Received() == 0 ? ReadEnd::NothingCame : ReadEnd::Stalled, 0};
        case WaitEnd::Stopped:
            return {ReadEnd::Stopped, 0};
        }
    }
    return {ReadEnd::Complete, 0};
}
