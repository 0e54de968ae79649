// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/Link.h"
#include "sessions/socket/TcpConnection.h"

#include <QString>

#include <cstdint>

constexpr char RESPONSE_REQUEST[] = "Please respond\r\n"; // 16 bytes on the wire

// One TCP connection to port 700 of the address in the IP control, opened on
// demand and dropped on any failure so that the next command reconnects.
// With the request line off it talks to an instrument that answers its
// queries by itself: each reply is then read whole, once.
class CTcpLink : public CLink, public CHostAddressUser
{
public:
    explicit CTcpLink(const CLinkContext &context);
    ~CTcpLink() override;

    // Connects when TCP/IP is chosen and there is no connection; drops the
    // connection when another link is chosen.
    CResult Update(bool chosen) override;
    CResult Send(std::string_view line) override;
    // A read failure earlier in a batch has dropped the connection: nothing
    // is read then, and the next send reports it.
    CResult ReadForLog(CReply &reply) override;
    CResult ReadForDisplay(CReply &reply) override;
    bool AnswersOnce() const override { return !m_context.options.askForReply; }
    bool ExpectsReply() const override { return m_context.options.askForReply || m_lastLineWasQuery; }
    void Release() override { DropSocket(); }
    // The port, the two waits and the request line.
    std::vector<CLinkSettingsGroup> SettingsGroups() const override;
    CHostAddressUser *HostAddressUser() override { return this; }
    std::uint32_t HostAddress() const override { return m_ipAddress; }
    QString Target() const override;
    void SetHostAddress(std::uint32_t address) override { m_ipAddress = address; }

    // `ipText`: the IP control's dotted-decimal text.
    int ConnectSocket(bool chosen, const QString &ipText);
    int SendSocketCommand(std::string_view line);
    // The request line, then one receive. `buffer` has room for
    // RESPONSE_BUFFER_SIZE bytes and a NUL, and holds an empty text on entry.
    // The number of bytes received, or -1 when the read failed (reported,
    // and the connection dropped).
    int ReadSocketResponse(char *buffer);
    // The reply of an instrument that was not asked, read whole. false when
    // it could not be read to its end (reported, and the connection dropped,
    // so that none of it is taken for the next reply).
    bool ReadWholeReply(CReply &reply);
    void DropSocket();

    // The address check of the data exchange: remember m_ipAddress, take the
    // control's address, and drop the socket when it changed.
    void CheckAddress(std::uint32_t controlAddress) override;

    bool HasSocket() const { return m_connection.IsOpen(); }
    CTcpConnection &Connection() { return m_connection; }

    std::uint32_t m_ipAddress = 0; // first octet in bits 24 to 31

private:
    using Clock = CTcpConnection::Clock;

    // The wait for a reply ended without one: says why and drops the socket.
    void FailWait(const QString &text);
    // Waits for the first byte of a reply; false when none came (reported).
    bool WaitForReply(Clock::time_point deadline);
    // One reply for the log or the window, by the protocol in use.
    void ReadReply(CReply &reply, bool forLog);

    CTcpConnection m_connection; // absent while the link is down
    int m_port = TCPIP_PORT;     // where the connection goes
    mutable QString m_target;    // Target(), for the address and port below
    mutable std::uint32_t m_targetAddress = 0;
    mutable int m_targetPort = 0;
    bool m_lastLineWasQuery = false;
};
