// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/socket/MdnsRecords.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace {

// The longest label DNS carries, in bytes.
constexpr qsizetype MAX_LABEL_BYTES = 63;
// The longest name DNS carries, in bytes.
constexpr qsizetype MAX_NAME_BYTES = 255;

bool Is(const QVariant &value, QMetaType::Type type)
{
    return value.metaType().id() == type;
}

bool ValidProtocol(int protocol)
{
    return protocol >= -1 && protocol <= 1;
}

bool Within(const QString &text, qsizetype maxBytes)
{
    return !text.isEmpty() && text.toUtf8().size() <= maxBytes && !text.contains(QChar(0));
}

// DNS names compare without regard to the case of ASCII letters, and of
// those alone.
bool Same(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        const auto lower = [](char16_t c) {
            return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
        };
        if (lower(x) != lower(y))
            return false;
    }
    return true;
}

} // namespace

bool ParseMdnsItem(const QList<QVariant> &a, const QString &askedType, CMdnsService &service)
{
    if (a.size() != 6 || !Is(a[0], QMetaType::Int) || !Is(a[1], QMetaType::Int) ||
        !Is(a[2], QMetaType::QString) || !Is(a[3], QMetaType::QString) || !Is(a[4], QMetaType::QString) ||
        !Is(a[5], QMetaType::UInt))
        return false;
    CMdnsService item{a[0].toInt(), a[1].toInt(), a[2].toString(), a[3].toString(), a[4].toString()};
    if (item.interfaceIndex < -1 || !ValidProtocol(item.protocol) || !Within(item.name, MAX_LABEL_BYTES) ||
        !Within(item.domain, MAX_NAME_BYTES) || !Same(item.type, askedType))
        return false;
    service = item;
    return true;
}

QString ResolvedMdnsResource(const CMdnsService &asked, int addressProtocol, const QList<QVariant> &a)
{
    // (interface, protocol, name, type, domain, host, aprotocol, address,
    // port, txt, flags)
    if (a.size() != 11 || !Is(a[0], QMetaType::Int) || !Is(a[1], QMetaType::Int) ||
        !Is(a[2], QMetaType::QString) || !Is(a[3], QMetaType::QString) || !Is(a[4], QMetaType::QString) ||
        !Is(a[5], QMetaType::QString) || !Is(a[6], QMetaType::Int) || !Is(a[7], QMetaType::QString) ||
        !Is(a[8], QMetaType::UShort) || !Is(a[10], QMetaType::UInt))
        return QString();
    const int interfaceIndex = a[0].toInt();
    const int family = a[6].toInt();
    if ((asked.interfaceIndex >= 0 && interfaceIndex != asked.interfaceIndex) ||
        (asked.protocol >= 0 && a[1].toInt() != asked.protocol) || !Same(a[2].toString(), asked.name) ||
        !Same(a[3].toString(), asked.type) || !Same(a[4].toString(), asked.domain) || family < 0 ||
        family > 1 || (addressProtocol >= 0 && family != addressProtocol))
        return QString();
    QString address = a[7].toString();
    const uint port = a[8].toUInt();
    const QByteArray bytes = address.toLatin1();
    in6_addr parsed{};
    if (port == 0 || address.size() > INET6_ADDRSTRLEN || address.contains(QChar(0)) ||
        QString::fromLatin1(bytes) != address ||
        inet_pton(family == 0 ? AF_INET : AF_INET6, bytes.constData(), &parsed) != 1)
        return QString();
    if (family == 1) {
        // A link-local IPv6 address is reached through the interface it
        // was seen on.
        char name[IF_NAMESIZE] = {};
        if (address.startsWith(QLatin1String("fe80:"), Qt::CaseInsensitive) && interfaceIndex > 0 &&
            if_indextoname(static_cast<unsigned>(interfaceIndex), name))
            address += QLatin1Char('%') + QString::fromLatin1(name);
        address = QLatin1Char('[') + address + QLatin1Char(']');
    }
    return QStringLiteral("TCPIP::%1::%2::SOCKET").arg(address).arg(port);
}
