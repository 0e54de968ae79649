// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// What avahi tells the mDNS finder, read as a hostile peer on the network
// may have shaped it: every argument of its own type, the names within the
// limits of DNS, and each answer about what was asked and nothing else.
// Anything else is dropped.

// A service that the browser announced (its ItemNew signal).
struct CMdnsService
{
    int interfaceIndex = -1; // -1: any
    int protocol = -1;       // -1 any, 0 IPv4, 1 IPv6
    QString name;
    QString type;
    QString domain;
};

// The service of an ItemNew signal's arguments (interface, protocol, name,
// type, domain, flags); false when they are not that, or when the service is
// not of `askedType`.
bool ParseMdnsItem(const QList<QVariant> &arguments, const QString &askedType, CMdnsService &service);

// The resource (TCPIP::<address>::<port>::SOCKET) in the reply to a
// ResolveService call for `asked` with the address protocol `addressProtocol`
// (-1 any, 0 IPv4, 1 IPv6); empty when the reply does not resolve that very
// service, or its address or port is not one. A link-local IPv6 address gets
// the zone of the interface it was seen on.
QString ResolvedMdnsResource(const CMdnsService &asked, int addressProtocol, const QList<QVariant> &answer);
