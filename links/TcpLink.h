// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/Link.h"

#include <QString>

#include <chrono>
#include <cstdint>

constexpr char RESPONSE_REQUEST[] = "Please respond\r\n"; // 16 bytes on the wire

// One TCP connection to port 700 of the address in the IP control, opened on
// demand and dropped on any failure so that the next command reconnects.
class CTcpLink : public CLink
{
public:
    explicit CTcpLink(const CLinkContext &context);
    ~CTcpLink() override;

    // Connects when TCP/IP is chosen and there is no connection; drops the
    // connection when another link is chosen.
    int Update(LinkKind chosen) override;
    int Send(std::string_view line) override { return SendSocketCommand(line); }
    // A read failure earlier in a batch has dropped the connection: nothing
    // is read then, and the next send reports it.
    void ReadForLog(LogBuffer buffer) override;
    void ReadForDisplay(QByteArray &text, DisplayRead how) override;
    void Release() override { DropSocket(); }

    // `ipText`: the IP control's dotted-decimal text.
    int ConnectSocket(LinkKind kind, const QString &ipText);
    int SendSocketCommand(std::string_view line);
    // `buffer` has room for RESPONSE_BUFFER_SIZE bytes and a NUL, and holds an
    // empty text on entry. The number of bytes received, or -1 when the read
    // failed (reported, and the connection dropped).
    int ReadSocketResponse(char *buffer);
    void DropSocket();

    // The address check of the data exchange: remember m_ipAddress, take the
    // control's address, and drop the socket when it changed.
    void CheckAddress(std::uint32_t controlAddress);

    bool HasSocket() const { return m_socket >= 0; }

    std::uint32_t m_ipAddress = 0; // first octet in bits 24 to 31
    int m_socket = -1;             // absent while the link is down

private:
    using Clock = std::chrono::steady_clock;

    // The wait for a reply ended without one: says why and drops the socket.
    void FailWait(const QString &text);
    // Waits for the first byte of a reply; false when none came (reported).
    bool WaitForReply(Clock::time_point deadline);
    // The reply of an instrument that was not asked: up to its line end.
    int ReceiveLine(char *buffer, Clock::time_point deadline);
    // Keeps the receive time-out in step with the reply wait; false when the
    // connection does not block.
    bool UseReceiveTimeout(int replyTimeoutMs);

    // The connection blocks, with a receive time-out of most of the wait for
    // a reply; otherwise the whole wait is in poll().
    bool m_receiveBlocks = false;
    int m_receiveTimeoutMs = 0; // the reply wait that the time-out was set for
    int m_port = TCPIP_PORT;    // where the connection goes
    bool m_lastLineWasQuery = false;
};
