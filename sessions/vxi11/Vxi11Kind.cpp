// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/vxi11/Vxi11Kind.h"

#include "sessions/ResourceGrammar.h"
#include "sessions/vxi11/Vxi11Finder.h"
#include "sessions/vxi11/Vxi11Session.h"

namespace {

bool Parse(CResourceText &text, CResource &r)
{
    if (!text.AtMost(2) || !text.TcpipHost(r.host))
        return false;
    r.lanDevice = QStringLiteral("inst0");
    if (text.Fields() < 2)
        return true;
    const QString &device = text.Field(1);
    if (device.isEmpty())
        return text.Fail(QStringLiteral("the LAN device name is empty"));
    for (QChar c : device)
        if (!IsAsciiAlnum(c) && c != QLatin1Char(',') && c != QLatin1Char('.') && c != QLatin1Char('_') &&
            c != QLatin1Char('-'))
            return text.Fail(
                QStringLiteral("the LAN device name '%1' holds more than letters, digits and , . _ -")
                    .arg(device));
    r.lanDevice = device;
    return true;
}

QString Canonical(const CResource &r)
{
    return QStringLiteral("TCPIP") + QString::number(r.board) + QStringLiteral("::") +
           HostInResource(r.host) + QStringLiteral("::") + r.lanDevice + QStringLiteral("::INSTR");
}

} // namespace

CSessionRow Vxi11Row()
{
    return {"TCPIP",
            ResourceClass::Instr,
            CSessionRow::FirstField::Board,
            Parse,
            Canonical,
            &CVxi11Session::Make,
            &CVxi11Finder::Make,
            nullptr};
}
