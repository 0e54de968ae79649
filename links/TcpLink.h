// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkTypes.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

class CUiHooks;

constexpr int TCPIP_PORT = 700;
constexpr int CONNECT_TIMEOUT_MS = 25000;
constexpr int RESPONSE_TIMEOUT_MS = 10000;
constexpr char RESPONSE_REQUEST[] = "Please respond\r\n"; // 16 bytes on the wire

// The operating system's message for an error code, at most 127 characters.
QString SystemErrorText(int code);

// One TCP connection to port 700 of the address in the IP control, opened on
// demand and dropped on any failure so that the next command reconnects.
class CTcpLink
{
public:
    explicit CTcpLink(const CUiHooks *hooks = nullptr);
    ~CTcpLink();
    CTcpLink(const CTcpLink &) = delete;
    CTcpLink &operator=(const CTcpLink &) = delete;

    // `ipText`: the IP control's dotted-decimal text.
    int ConnectSocket(LinkKind kind, const QString &ipText);
    int SendSocketCommand(const char *line);
    // `buffer` has room for RESPONSE_BUFFER_SIZE bytes and a NUL, and holds an
    // empty text on entry.
    void ReadSocketResponse(char *buffer);
    void DropSocket();

    // The address check of the data exchange: remember m_ipAddress, take the
    // control's address, and drop the socket when it changed.
    void CheckAddress(std::uint32_t controlAddress);

    bool HasSocket() const { return m_socket >= 0; }

    std::uint32_t m_ipAddress = 0; // first octet in bits 24 to 31
    int m_socket = -1;             // absent while the link is down

private:
    void ShowMessage(const QString &text) const;

    // The wait for a reply ended without one: says why and drops the socket.
    void FailWait(const QString &text);

    // The connection blocks, with a receive time-out of most of the wait for
    // a reply; otherwise the whole wait is in poll().
    bool m_receiveBlocks = false;

    const CUiHooks *m_hooks;
};
