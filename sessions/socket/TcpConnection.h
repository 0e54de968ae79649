// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

class CReplyFramer;
class CUiHooks;
struct CProgress;

// One TCP connection to an instrument, as the TCP/IP link and the SOCKET
// sessions share it: a connect within a time-out, sends that never wait, and
// the read of one whole reply. Failures come back as outcomes and error
// codes; the callers say them in their own words.
class CTcpConnection
{
public:
    using Clock = std::chrono::steady_clock;

    // What one wait for a socket event ended with.
    enum class WaitEnd
    {
        Event,    // the awaited event came; `error` holds its error code
        Dead,     // the socket was found closed
        Deadline, // nothing came in time
        Stopped,  // the user stopped the wait
    };

    struct WaitResult
    {
        WaitEnd end = WaitEnd::Deadline;
        int error = 0;
    };

    // How the read of a whole reply ended.
    enum class ReadEnd
    {
        Complete,
        NothingCame, // the time-out passed before the reply's first byte
        Stalled,     // part of it came, then nothing for the time-out
        Closed,      // the instrument closed the connection before the reply's end
        Failed,      // a socket error (`error`)
        Dead,
        Stopped, // the user stopped the read
    };

    struct ReadResult
    {
        ReadEnd end = ReadEnd::Complete;
        int error = 0;
    };

    CTcpConnection() = default;
    ~CTcpConnection();
    CTcpConnection(const CTcpConnection &) = delete;
    CTcpConnection &operator=(const CTcpConnection &) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // Takes over a connected socket (tests, and a socket pair in a fuzzer).
    void Adopt(int fd);
    void Close();

    // Connects to `peer`. Event with error 0 when connected; anything else
    // leaves the connection closed. Small writes go out at once (no Nagle).
    WaitResult Connect(const sockaddr *peer, socklen_t size, int timeoutMs, const CUiHooks *hooks);

    // Sends what the socket takes without waiting: the bytes sent, or -1
    // with errno.
    ssize_t SendNow(const char *data, std::size_t size);
    // Sends every byte, waiting for room up to the time-out; 0 when all went,
    // else the error code (ETIMEDOUT when the time-out passed).
    int SendAll(const char *data, std::size_t size, int timeoutMs, const CUiHooks *hooks);

    // Receives what has come, up to `size` bytes: with `wait`, blocking up
    // to the receive time-out (UseReceiveTimeout); else only what is there
    // now. The bytes received (0 once the peer has closed), or -1 with errno.
    ssize_t Receive(char *buffer, std::size_t size, bool wait);

    // Lets a blocking receive wait at most seven eighths of `replyTimeoutMs`
    // (the caller's poll() keeps the exact deadline); false when the
    // connection does not block.
    bool UseReceiveTimeout(int replyTimeoutMs);

    // Waits until the socket is readable, closed or in error, or the
    // deadline passes.
    WaitResult WaitReadable(Clock::time_point deadline, const CUiHooks *hooks) const;

    // Reads one whole reply as `framer` frames it, waiting at most
    // `timeoutMs` for each next byte. What follows the reply stays in the
    // connection.
    ReadResult ReadReply(CReplyFramer &framer, int timeoutMs, const CUiHooks *hooks);

private:
    // `reading`: the progress of the reply being read, which the slices
    // report; none for a plain wait, which reports the time waited.
    WaitResult WaitFor(short events, Clock::time_point deadline, const CUiHooks *hooks,
                       const CProgress *reading = nullptr) const;

    int m_fd = -1;
    // The connection blocks, with a receive time-out of most of the wait for
    // a reply; otherwise every wait is in poll().
    bool m_receiveBlocks = false;
    int m_receiveTimeoutMs = 0;
    std::vector<char> m_buffer;
};
