// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/ResourceGrammar.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <iterator>

namespace {

constexpr std::uint32_t HEX_BASE = 16;

// Every class a resource string may name, in the order of ResourceClass.
const char *const CLASS_NAMES[] = {"INSTR", "SOCKET", "INTFC", "RAW", "SERVANT", "BACKPLANE", "MEMACC"};

int HexDigit(QChar c)
{
    if (IsAsciiDigit(c))
        return c.unicode() - '0';
    if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        return c.unicode() - 'a' + 10;
    if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
        return c.unicode() - 'A' + 10;
    return -1;
}

} // namespace

bool IsAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool IsAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool IsAsciiAlnum(QChar c)
{
    return IsAsciiLetter(c) || IsAsciiDigit(c);
}

bool HasBlankOrControl(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F)
            return true;
    return false;
}

Number ParseDecimal(const QString &text, std::uint32_t limit, std::uint32_t &value)
{
    if (text.isEmpty())
        return Number::NotANumber;
    std::uint64_t v = 0;
    for (QChar c : text) {
        if (!IsAsciiDigit(c))
            return Number::NotANumber;
        v = v * 10 + static_cast<std::uint64_t>(c.unicode() - '0');
        if (v > limit)
            v = std::uint64_t{limit} + 1; // stays past the limit, never overflows
    }
    if (v > limit)
        return Number::TooLarge;
    value = static_cast<std::uint32_t>(v);
    return Number::Ok;
}

Number ParseDecimalOrHex(const QString &text, std::uint32_t limit, std::uint32_t &value)
{
    if (!text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return ParseDecimal(text, limit, value);
    const QString digits = text.mid(2);
    if (digits.isEmpty())
        return Number::NotANumber;
    std::uint64_t v = 0;
    for (QChar c : digits) {
        const int d = HexDigit(c);
        if (d < 0)
            return Number::NotANumber;
        v = v * HEX_BASE + static_cast<std::uint64_t>(d);
        if (v > limit)
            v = std::uint64_t{limit} + 1;
    }
    if (v > limit)
        return Number::TooLarge;
    value = static_cast<std::uint32_t>(v);
    return Number::Ok;
}

QLatin1String ResourceClassName(ResourceClass resourceClass)
{
    return QLatin1String(CLASS_NAMES[static_cast<int>(resourceClass)]);
}

std::optional<ResourceClass> ResourceClassNamed(const QString &text)
{
    for (int i = 0; i < static_cast<int>(std::size(CLASS_NAMES)); ++i)
        if (text.compare(QLatin1String(CLASS_NAMES[i]), Qt::CaseInsensitive) == 0)
            return static_cast<ResourceClass>(i);
    return std::nullopt;
}

QString ListOf(const QStringList &names, const QString &lastJoin)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QLatin1Char(' ') + lastJoin +
           QLatin1Char(' ') + names.last();
}

bool CResourceText::Fail(const QString &what)
{
    m_error = QStringLiteral("Resource '%1': %2").arg(m_text, what);
    return false;
}

bool CResourceText::Trailing(qsizetype end)
{
    return Fail(QStringLiteral("unexpected '%1' after '%2'").arg(m_text.mid(end), m_text.left(end)));
}

bool CResourceText::Split()
{
    qsizetype at = 0;
    for (;;) {
        const qsizetype begin = at;
        qsizetype search = at;
        // An IPv6 host is written in brackets because its own "::" would
        // split it.
        if (!m_tokens.isEmpty() && at < m_text.size() && m_text[at] == QLatin1Char('[')) {
            const qsizetype close = m_text.indexOf(QLatin1Char(']'), at);
            if (close < 0)
                return Fail(
                    QStringLiteral("the IPv6 address '%1' lacks its closing ']'").arg(m_text.mid(at)));
            search = close + 1;
        }
        const qsizetype separator = m_text.indexOf(QLatin1String("::"), search);
        if (separator < 0) {
            m_tokens.append({m_text.mid(begin), begin, m_text.size()});
            return true;
        }
        m_tokens.append({m_text.mid(begin, separator - begin), begin, separator});
        at = separator + 2;
    }
}

ResourceClass CResourceText::FindClass()
{
    qsizetype index = -1;
    std::optional<ResourceClass> which;
    for (qsizetype i = 1; i < m_tokens.size() && index < 0; ++i) {
        which = ResourceClassNamed(m_tokens[i].text);
        if (which)
            index = i;
    }
    m_classEnd = m_text.size();
    if (index >= 0) {
        m_classEnd = m_tokens[index].end;
    } else if (m_tokens.size() > 1) {
        // "GPIB0::14::INSTR junk": the class, and something after it.
        const CToken &last = m_tokens.last();
        for (int i = 0; i < static_cast<int>(std::size(CLASS_NAMES)) && index < 0; ++i) {
            const QLatin1String name(CLASS_NAMES[i]);
            if (last.text.size() > name.size() && last.text.startsWith(name, Qt::CaseInsensitive) &&
                !IsAsciiAlnum(last.text[name.size()]) && last.text[name.size()] != QLatin1Char('_')) {
                index = m_tokens.size() - 1;
                which = static_cast<ResourceClass>(i);
                m_classEnd = last.begin + name.size();
            }
        }
    }
    if (index < 0 && m_tokens.size() > 1 && m_tokens.last().text.isEmpty()) {
        // "GPIB0::14::": the separator leads to nothing.
        m_classEnd = m_tokens[m_tokens.size() - 2].end;
        m_body = m_tokens.mid(1, m_tokens.size() - 2);
        return ResourceClass::Instr;
    }
    m_body = m_tokens.mid(1, index < 0 ? -1 : index - 1);
    return index < 0 ? ResourceClass::Instr : *which;
}

bool CResourceText::Board(int &board)
{
    board = 0;
    if (m_boardPart.isEmpty())
        return true;
    std::uint32_t number = 0;
    switch (ParseDecimal(m_boardPart, MAX_BOARD, number)) {
    case Number::Ok:
        board = static_cast<int>(number);
        return true;
    case Number::NotANumber:
        return Fail(QStringLiteral("the board number '%1' is not a number").arg(m_boardPart));
    case Number::TooLarge:
        break;
    }
    return Fail(
        QStringLiteral("the board number %1 is out of range (0 to %2)").arg(m_boardPart).arg(MAX_BOARD));
}

bool CResourceText::AtMost(qsizetype count)
{
    if (m_body.size() <= count)
        return true;
    return Trailing(count == 0 ? m_tokens.first().end : m_body[count - 1].end);
}

bool CResourceText::Decimal(const QString &token, const QString &what, std::uint32_t low, std::uint32_t high,
                            std::uint32_t &value)
{
    switch (ParseDecimal(token, high, value)) {
    case Number::Ok:
        if (value >= low)
            return true;
        break;
    case Number::NotANumber:
        return Fail(QStringLiteral("the %1 '%2' is not a number").arg(what, token));
    case Number::TooLarge:
        break;
    }
    return Fail(QStringLiteral("the %1 %2 is out of range (%3 to %4)").arg(what, token).arg(low).arg(high));
}

bool CResourceText::Host(const QString &token, QString &host)
{
    if (token.startsWith(QLatin1Char('['))) {
        const QString inner = token.mid(1, token.size() - 2);
        const qsizetype percent = inner.indexOf(QLatin1Char('%'));
        const QString address = percent < 0 ? inner : inner.left(percent);
        const QString zone = percent < 0 ? QString() : inner.mid(percent + 1);
        in6_addr parsed{};
        bool good = token.endsWith(QLatin1Char(']')) && token.size() > 2 && !HasBlankOrControl(inner) &&
                    inet_pton(AF_INET6, address.toLatin1().constData(), &parsed) == 1;
        if (percent >= 0)
            good = good && !zone.isEmpty() && !zone.contains(QLatin1Char('%'));
        if (!good)
            return Fail(QStringLiteral("'%1' is not an IPv6 address in brackets").arg(token));
        host = inner;
        return true;
    }
    bool numeric = !token.isEmpty();
    for (QChar c : token)
        numeric = numeric && (IsAsciiDigit(c) || c == QLatin1Char('.'));
    if (numeric) {
        in_addr parsed{};
        if (inet_pton(AF_INET, token.toLatin1().constData(), &parsed) != 1)
            return Fail(QStringLiteral("'%1' is not an IPv4 address").arg(token));
        host = token;
        return true;
    }
    bool name = IsAsciiAlnum(token[0]);
    for (QChar c : token)
        name = name &&
               (IsAsciiAlnum(c) || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_'));
    if (name) {
        host = token;
        return true;
    }
    in6_addr parsed{};
    if (!HasBlankOrControl(token) && inet_pton(AF_INET6, token.toLatin1().constData(), &parsed) == 1)
        return Fail(
            QStringLiteral("the IPv6 address '%1' must be written in brackets, as '[%1]'").arg(token));
    return Fail(QStringLiteral("the host '%1' is not a host name or an address").arg(token));
}

bool CResourceText::TcpipHost(QString &host)
{
    if (Fields() == 0 || Field(0).isEmpty())
        return Fail(QStringLiteral("a TCPIP resource needs a host"));
    return Host(Field(0), host);
}

QString HostInResource(const QString &host)
{
    // Plain concatenation: a host's zone ("%3") must not be taken for a
    // placeholder.
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

QString HexId(std::uint16_t value)
{
    return QStringLiteral("0x") +
           QString::number(value, HEX_BASE).toUpper().rightJustified(4, QLatin1Char('0'));
}
