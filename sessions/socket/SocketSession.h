// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/CallThread.h"
#include "sessions/Resource.h"
#include "sessions/Session.h"
#include "sessions/socket/TcpConnection.h"

#include <memory>

// A plain SCPI instrument on a raw socket (TCPIP::host::port::SOCKET): the
// TCP/IP link's connection without the request line. It answers each query
// by itself with one reply ended by LF; a serial poll and a device clear
// have no place on a raw socket, so they are refused with a reason.
//
// Every wait is in poll(), in slices with the window's pulse between them,
// but for the name lookup, which blocks in the resolver: it runs on a thread
// of the session's while the window waits. A wait that the user stops, or
// a reply that does not end, closes the connection, so that nothing of it
// reaches the next command, which connects anew.
class CSocketSession : public CSession
{
public:
    CSocketSession(const CResource &resource, const CSessionOptions &options);

    static std::unique_ptr<CSession> Make(const CResource &resource, const CSessionOptions &options);

    bool Open(QString &error) override;
    bool IsOpen() const override { return m_connection.IsOpen(); }
    bool Write(std::string_view data, QString &error) override;
    bool Read(CReply &reply, QString &error) override;
    bool ReadStatusByte(std::uint8_t &status, QString &error) override;
    bool Clear(QString &error) override;
    void Close() override { m_connection.Close(); }

private:
    // "host:port" for messages.
    QString Where() const;

    CResource m_resource;
    CTcpConnection m_connection;
    CCallThread m_lookups;
};
