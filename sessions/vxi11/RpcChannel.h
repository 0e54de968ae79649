// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDeadlineTimer>
#include <QString>

#include <netinet/in.h>
#include <rpc/rpc.h>

#include <cstdint>
#include <mutex>

// One TCP connection that carries the ONC RPC calls of one program, through
// libtirpc: the connect bounded by a deadline (libtirpc's own connect waits
// as long as the system lets it), the time-out of each call set before it.
// Only the sessions' sources include it: it brings libtirpc's headers along.
//
// Calls run on one thread at a time; Cut may come from any other, to end the
// connect or call under way at once and every later one with it.
class CRpcChannel
{
public:
    // Why a connect failed: nothing listens, nothing answered in time, or
    // something else (no route, no memory, libtirpc refused).
    enum class ConnectFailure
    {
        None,
        Refused,
        TimedOut,
        Other,
    };

    CRpcChannel() = default;
    ~CRpcChannel() { Close(); }
    CRpcChannel(const CRpcChannel &) = delete;
    CRpcChannel &operator=(const CRpcChannel &) = delete;

    // Connects to `address` before `deadline` and makes a client of
    // `program`/`version` over it. On failure `error` holds the system's or
    // libtirpc's text and the result says why.
    ConnectFailure Connect(const sockaddr_in &address, rpcprog_t program, rpcvers_t version,
                           const QDeadlineTimer &deadline, QString &error);
    bool IsOpen() const { return m_client != nullptr; }
    // The client for the generated stubs; its next calls time out after `ms`.
    CLIENT *Client(std::int64_t ms);
    // libtirpc's text of the latest call's failure ("RPC: Timed out", with
    // the system's reason where there is one).
    QString CallError() const;
    void Close();
    // Shuts the connection down, so that the call blocked on it fails now
    // (libtirpc's read finds the end of the stream), and makes every later
    // connect fail. The connection itself is let go by Close, on the
    // thread that calls.
    void Cut();
    bool IsCut() const;

    // Connects this channel to the portmapper of `host` (TCP port 111) and
    // asks it for the port of the program, 0 when it knows none. false when
    // no portmapper answered or the call failed; `connected` tells whether
    // one took the connection.
    bool LookUpPort(const sockaddr_in &host, rpcprog_t program, rpcvers_t version,
                    const QDeadlineTimer &deadline, std::uint16_t &port, bool &connected, QString &error);
    // The IPv4 address of a host name or dotted address; false with the
    // resolver's text.
    static bool Resolve(const QString &host, sockaddr_in &address, QString &error);

private:
    // Connects a stream socket before the deadline, giving up when cut; -1
    // with errno set otherwise (ETIMEDOUT when the deadline passed).
    int ConnectBefore(const sockaddr_in &address, const QDeadlineTimer &deadline);

    CLIENT *m_client = nullptr;
    mutable std::mutex m_lock; // m_fd and m_cut, for Cut from another thread
    int m_fd = -1;
    bool m_cut = false;
};
