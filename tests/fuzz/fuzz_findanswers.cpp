// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// What Find takes from a hostile peer. The first byte picks the parser:
//  - even: the rest is a datagram answering the VXI-11 broadcast; the port
//    Find takes from it is the one a plain reading of the reply's XDR words
//    gives, and none for anything but a whole, successful reply to the call;
//  - odd: the rest builds the arguments of avahi's announcement and of its
//    resolve reply (each argument a type tag and a value); an announcement is
//    taken only when well-typed and of the type asked, a reply only when it
//    resolves the very service asked, and what comes of it is a SOCKET
//    resource of that address and port.
#include "FuzzCheck.h"

#include "sessions/socket/MdnsRecords.h"
#include "sessions/ResourceParser.h"
#include "sessions/vxi11/Vxi11Finder.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::uint32_t XID = 0x1badc0de;
const QString TYPE = QStringLiteral("_scpi-raw._tcp");

// The reply read word by word: xid, REPLY (1), MSG_ACCEPTED (0), the
// verifier's flavor and length (at most 400) and its body padded to words,
// SUCCESS (0), the port, and nothing after it.
std::uint16_t ReferencePort(const std::uint8_t *data, std::size_t size)
{
    if (size > CVxi11Finder::MAX_ANSWER_BYTES)
        return 0;
    std::size_t at = 0;
    auto word = [&](std::uint32_t &value) {
        if (size - at < 4)
            return false;
        value = std::uint32_t{data[at]} << 24 | std::uint32_t{data[at + 1]} << 16 |
                std::uint32_t{data[at + 2]} << 8 | data[at + 3];
        at += 4;
        return true;
    };
    std::uint32_t xid, direction, status, flavor, length, accepted, port;
    if (!word(xid) || !word(direction) || !word(status) || !word(flavor) || !word(length))
        return 0;
    if (xid != XID || direction != 1 || status != 0 || length > 400)
        return 0;
    const std::size_t body = (length + 3) / 4 * 4;
    if (size - at < body)
        return 0;
    at += body;
    if (!word(accepted) || accepted != 0 || !word(port) || at != size || port > 65535)
        return 0;
    return static_cast<std::uint16_t>(port);
}

// Values for the arguments, drawn from the input.
class CDraw
{
public:
    CDraw(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_at >= m_size; }
    std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint32_t Word()
    {
        std::uint32_t w = 0;
        for (int i = 0; i < 4; ++i)
            w = w << 8 | Byte();
        return w;
    }
    // Mostly words that make a match likely, else raw bytes as UTF-8.
    QString Text()
    {
        static const char *const WORDS[] = {
            "_scpi-raw._tcp", "_SCPI-Raw._TCP", "_http._tcp", "local",      "LOCAL", "Scope",     "scope", "",
            "192.0.2.7",      "fe80::1",        "::1",        "10.0.0.256", "1.2.3", "fe80::1%lo"};
        const std::uint8_t pick = Byte();
        if (pick < 200)
            return QString::fromLatin1(WORDS[pick % std::size(WORDS)]);
        const std::size_t length = std::min<std::size_t>(Byte() % 80, m_size - std::min(m_at, m_size));
        const QString text =
            QString::fromUtf8(reinterpret_cast<const char *>(m_data + m_at), qsizetype(length));
        m_at += length;
        return text;
    }
    int SmallInt() { return static_cast<int>(Byte() % 5) - 2; }
    QVariant Value()
    {
        switch (Byte() % 8) {
        case 0:
        case 1:
            return QVariant(SmallInt());
        case 2:
            return QVariant(static_cast<int>(Word()));
        case 3:
            return QVariant(Word());
        case 4:
            return QVariant::fromValue(static_cast<ushort>(Word()));
        case 5:
        case 6:
            return QVariant(Text());
        default:
            return QVariant(QByteArray(1, char(Byte())));
        }
    }
    QList<QVariant> Arguments()
    {
        QList<QVariant> list;
        for (int n = Byte() % 13; n > 0; --n)
            list.append(Value());
        return list;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

bool Is(const QVariant &v, QMetaType::Type type)
{
    return v.metaType().id() == type;
}

// DNS compares ASCII letters without regard to case, and nothing else.
QString AsciiLower(QString text)
{
    for (QChar &c : text)
        if (c.unicode() < 128)
            c = QChar(char16_t(std::tolower(c.unicode())));
    return text;
}

bool Same(const QVariant &v, const QString &text)
{
    return AsciiLower(v.toString()) == AsciiLower(text);
}

void CheckItem(const QList<QVariant> &a)
{
    CMdnsService item;
    item.name = QStringLiteral("untouched");
    const bool taken = ParseMdnsItem(a, TYPE, item);
    const bool typed = a.size() == 6 && Is(a[0], QMetaType::Int) && Is(a[1], QMetaType::Int) &&
                       Is(a[2], QMetaType::QString) && Is(a[3], QMetaType::QString) &&
                       Is(a[4], QMetaType::QString) && Is(a[5], QMetaType::UInt);
    const bool expected = typed && a[0].toInt() >= -1 && a[1].toInt() >= -1 && a[1].toInt() <= 1 &&
                          !a[2].toString().isEmpty() && a[2].toString().toUtf8().size() <= 63 &&
                          !a[2].toString().contains(QChar(0)) && !a[4].toString().isEmpty() &&
                          a[4].toString().toUtf8().size() <= 255 && !a[4].toString().contains(QChar(0)) &&
                          Same(a[3], TYPE);
    FUZZ_CHECK(taken == expected, "announcement of %d arguments taken: %d", int(a.size()), taken);
    if (!taken) {
        FUZZ_CHECK(item.name == QLatin1String("untouched"), "a refused announcement changed the service");
        return;
    }
    FUZZ_CHECK(item.interfaceIndex == a[0].toInt() && item.protocol == a[1].toInt() &&
                   item.name == a[2].toString() && item.type == a[3].toString() &&
                   item.domain == a[4].toString(),
               "the service is not the announcement's");
}

void CheckReply(const CMdnsService &asked, int addressProtocol, const QList<QVariant> &a)
{
    const QString resource = ResolvedMdnsResource(asked, addressProtocol, a);
    const bool typed = a.size() == 11 && Is(a[0], QMetaType::Int) && Is(a[1], QMetaType::Int) &&
                       Is(a[2], QMetaType::QString) && Is(a[3], QMetaType::QString) &&
                       Is(a[4], QMetaType::QString) && Is(a[5], QMetaType::QString) &&
                       Is(a[6], QMetaType::Int) && Is(a[7], QMetaType::QString) &&
                       Is(a[8], QMetaType::UShort) && Is(a[10], QMetaType::UInt);
    bool expected = typed;
    if (typed) {
        const int family = a[6].toInt();
        const QByteArray address = a[7].toString().toUtf8();
        unsigned char parsed[sizeof(in6_addr)];
        expected = (asked.interfaceIndex < 0 || a[0].toInt() == asked.interfaceIndex) &&
                   (asked.protocol < 0 || a[1].toInt() == asked.protocol) && Same(a[2], asked.name) &&
                   Same(a[3], asked.type) && Same(a[4], asked.domain) && (family == 0 || family == 1) &&
                   (addressProtocol < 0 || family == addressProtocol) && a[8].toUInt() != 0 &&
                   std::strlen(address.constData()) == std::size_t(address.size()) &&
                   inet_pton(family == 0 ? AF_INET : AF_INET6, address.constData(), parsed) == 1;
    }
    FUZZ_CHECK(resource.isEmpty() != expected, "reply of %d arguments gave \"%s\"", int(a.size()),
               qPrintable(resource));
    if (resource.isEmpty())
        return;
    CResource parsed;
    QString error;
    FUZZ_CHECK(ParseResource(resource, parsed, error), "\"%s\" does not parse: %s", qPrintable(resource),
               qPrintable(error));
    FUZZ_CHECK(parsed.resourceClass == ResourceClass::Socket && parsed.port == int(a[8].toUInt()) &&
                   parsed.host.section(QLatin1Char('%'), 0, 0) == a[7].toString(),
               "\"%s\" is not the reply's address and port", qPrintable(resource));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    if ((data[0] & 1) == 0) {
        const std::uint16_t port =
            CVxi11Finder::PortInAnswer(XID, reinterpret_cast<const char *>(data + 1), size - 1);
        const std::uint16_t reference = ReferencePort(data + 1, size - 1);
        FUZZ_CHECK(port == reference, "port %u, the plain reading gives %u", unsigned(port),
                   unsigned(reference));
        return 0;
    }
    CDraw draw(data + 1, size - 1);
    CheckItem(draw.Arguments());
    CMdnsService asked{draw.SmallInt(), draw.SmallInt() % 2, draw.Text(), draw.Text(), draw.Text()};
    const int addressProtocol = draw.SmallInt() % 2;
    CheckReply(asked, addressProtocol, draw.Arguments());
    return 0;
}
