// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"
#include "sessions/Session.h"
#include "sessions/TcpConnection.h"

#include <memory>

// A plain SCPI instrument on a raw socket (TCPIP::host::port::SOCKET): the
// TCP/IP link's connection without the request line. It answers each query
// by itself with one reply ended by LF; a serial poll and a device clear
// have no place on a raw socket, so they are refused with a reason.
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
};
