// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/socket/SocketKind.h"

#include "sessions/ResourceGrammar.h"
#include "sessions/socket/MdnsFinder.h"
#include "sessions/socket/SocketSession.h"

namespace {

constexpr std::uint32_t MAX_PORT = 65535;

bool Parse(CResourceText &text, CResource &r)
{
    if (!text.AtMost(2) || !text.TcpipHost(r.host))
        return false;
    if (text.Fields() < 2 || text.Field(1).isEmpty())
        return text.Fail(QStringLiteral("a SOCKET resource needs a port"));
    std::uint32_t port = 0;
    if (!text.Decimal(text.Field(1), QStringLiteral("port"), 1, MAX_PORT, port))
        return false;
    r.port = static_cast<int>(port);
    return true;
}

QString Canonical(const CResource &r)
{
    return QStringLiteral("TCPIP") + QString::number(r.board) + QStringLiteral("::") +
           HostInResource(r.host) + QStringLiteral("::") + QString::number(r.port) +
           QStringLiteral("::SOCKET");
}

// Plain SCPI servers announce themselves over mDNS.
std::unique_ptr<CFinder> MakeFinder()
{
    return std::make_unique<CMdnsFinder>();
}

} // namespace

CSessionRow SocketRow()
{
    return {"TCPIP",
            ResourceClass::Socket,
            CSessionRow::FirstField::Board,
            Parse,
            Canonical,
            &CSocketSession::Make,
            MakeFinder,
            nullptr};
}
