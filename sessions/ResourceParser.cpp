// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/ResourceParser.h"

#include <QList>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

namespace {

constexpr int MAX_BOARD = 999;
constexpr int MAX_GPIB_ADDRESS = 30;
// A secondary address as the byte that carries it on the bus.
constexpr int GPIB_SECONDARY_BYTE = 96;
constexpr int MAX_USB_INTERFACE = 255;
constexpr int MAX_PORT = 65535;
constexpr std::uint32_t MAX_USB_ID = 0xFFFF;

// One field between "::" separators, and where it stands in the text.
struct CToken
{
    QString text;
    qsizetype begin = 0;
    qsizetype end = 0; // one past its last character
};

enum class Number
{
    Ok,
    NotANumber,
    TooLarge,
};

// Interfaces that VISA names but that Tallix has no session for.
const char *const FOREIGN_INTERFACES[] = {"GPIB-VXI", "VXI", "PXI"};
const char *const RESOURCE_CLASSES[] = {"INSTR", "SOCKET", "INTFC", "RAW", "SERVANT", "BACKPLANE", "MEMACC"};

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

// A blank, a control character or anything past ASCII: nothing a device
// path, a serial number or a host may hold.
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

// Decimal, or hex after 0x.
Number ParseId(const QString &text, std::uint32_t &value)
{
    if (!text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return ParseDecimal(text, MAX_USB_ID, value);
    const QString digits = text.mid(2);
    if (digits.isEmpty())
        return Number::NotANumber;
    std::uint64_t v = 0;
    for (QChar c : digits) {
        const int d = IsAsciiDigit(c)                                    ? c.unicode() - '0'
                      : (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ? c.unicode() - 'a' + 10
                      : (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ? c.unicode() - 'A' + 10
                                                                         : -1;
        if (d < 0)
            return Number::NotANumber;
        v = v * 16 + static_cast<std::uint64_t>(d);
        if (v > MAX_USB_ID)
            v = MAX_USB_ID + 1;
    }
    if (v > MAX_USB_ID)
        return Number::TooLarge;
    value = static_cast<std::uint32_t>(v);
    return Number::Ok;
}

class CParser
{
public:
    explicit CParser(const QString &text) : m_text(text.trimmed()) {}

    bool Parse(CResource &out, QString &error);

private:
    bool Fail(const QString &what)
    {
        m_error = QStringLiteral("Resource '%1': %2").arg(m_text, what);
        return false;
    }
    // Text after `end` that belongs to no field.
    bool Trailing(qsizetype end)
    {
        return Fail(QStringLiteral("unexpected '%1' after '%2'").arg(m_text.mid(end), m_text.left(end)));
    }
    bool Split();
    bool ParseInterface(CResource &r);
    bool FindClass(CResource &r);
    bool ParseTcpip(CResource &r);
    bool ParseHost(const QString &token, QString &host);
    bool ParseUsb(CResource &r);
    bool ParseAsrl(CResource &r);
    bool ParseGpib(CResource &r);
    // The body's fields beyond `count` are trailing text.
    bool AtMost(qsizetype count);
    bool Decimal(const QString &token, const QString &what, std::uint32_t low, std::uint32_t high,
                 std::uint32_t &value);

    QString m_text;
    QString m_error;
    QList<CToken> m_tokens;
    // What follows the interface's first token up to the class: the fields.
    QList<CToken> m_body;
    // Where the resource class ends (the whole text when there is none).
    qsizetype m_classEnd = 0;
    QString m_boardPart; // what follows the interface name in the first token
};

bool CParser::Split()
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

bool CParser::ParseInterface(CResource &r)
{
    const QString &first = m_tokens.first().text;
    for (const char *foreign : FOREIGN_INTERFACES) {
        const QLatin1String name(foreign);
        if (first.startsWith(name, Qt::CaseInsensitive) &&
            (first.size() == name.size() || !IsAsciiLetter(first[name.size()])))
            return Fail(
                QStringLiteral("%1 resources are not supported (Tallix knows TCPIP, USB, ASRL and GPIB)")
                    .arg(name));
    }
    struct CName
    {
        const char *name;
        ResourceInterface type;
    };
    static const CName NAMES[] = {
        {"TCPIP", ResourceInterface::Tcpip},
        {"USB", ResourceInterface::Usb},
        {"ASRL", ResourceInterface::Asrl},
        {"GPIB", ResourceInterface::Gpib},
    };
    for (const CName &known : NAMES) {
        const QLatin1String name(known.name);
        if (!first.startsWith(name, Qt::CaseInsensitive))
            continue;
        m_boardPart = first.mid(name.size());
        // "TCPIPX" is another name, not TCPIP with a board "X"; but after
        // ASRL comes a device path or anything else the port may be called.
        if (known.type != ResourceInterface::Asrl && !m_boardPart.isEmpty() && IsAsciiLetter(m_boardPart[0]))
            break;
        r.interfaceType = known.type;
        if (known.type == ResourceInterface::Asrl)
            return true; // its first token is parsed with its fields
        if (m_boardPart.isEmpty())
            return true;
        std::uint32_t board = 0;
        switch (ParseDecimal(m_boardPart, MAX_BOARD, board)) {
        case Number::Ok:
            r.board = static_cast<int>(board);
            return true;
        case Number::NotANumber:
            return Fail(QStringLiteral("the board number '%1' is not a number").arg(m_boardPart));
        case Number::TooLarge:
            return Fail(QStringLiteral("the board number %1 is out of range (0 to %2)")
                            .arg(m_boardPart)
                            .arg(MAX_BOARD));
        }
    }
    qsizetype letters = 0;
    while (letters < first.size() && (IsAsciiLetter(first[letters]) || first[letters] == QLatin1Char('-')))
        ++letters;
    if (letters == 0)
        return Fail(QStringLiteral("it does not start with an interface name (TCPIP, USB, ASRL or GPIB)"));
    return Fail(QStringLiteral("unknown interface '%1' (Tallix knows TCPIP, USB, ASRL and GPIB)")
                    .arg(first.left(letters)));
}

bool CParser::FindClass(CResource &r)
{
    const auto classAt = [](const QString &token) -> int {
        for (int i = 0; i < static_cast<int>(std::size(RESOURCE_CLASSES)); ++i)
            if (token.compare(QLatin1String(RESOURCE_CLASSES[i]), Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    };
    qsizetype index = -1;
    int which = -1;
    for (qsizetype i = 1; i < m_tokens.size() && index < 0; ++i) {
        which = classAt(m_tokens[i].text);
        if (which >= 0)
            index = i;
    }
    m_classEnd = m_text.size();
    if (index >= 0) {
        m_classEnd = m_tokens[index].end;
    } else if (m_tokens.size() > 1) {
        // "GPIB0::14::INSTR junk": the class, and something after it.
        const CToken &last = m_tokens.last();
        for (int i = 0; i < static_cast<int>(std::size(RESOURCE_CLASSES)) && index < 0; ++i) {
            const QLatin1String name(RESOURCE_CLASSES[i]);
            if (last.text.size() > name.size() && last.text.startsWith(name, Qt::CaseInsensitive) &&
                !IsAsciiAlnum(last.text[name.size()]) && last.text[name.size()] != QLatin1Char('_')) {
                index = m_tokens.size() - 1;
                which = i;
                m_classEnd = last.begin + name.size();
            }
        }
    }
    if (index < 0 && m_tokens.size() > 1 && m_tokens.last().text.isEmpty()) {
        // "GPIB0::14::": the separator leads to nothing.
        m_classEnd = m_tokens[m_tokens.size() - 2].end;
        m_body = m_tokens.mid(1, m_tokens.size() - 2);
        r.resourceClass = ResourceClass::Instr;
        return true;
    }
    m_body = m_tokens.mid(1, index < 0 ? -1 : index - 1);
    if (index < 0) {
        r.resourceClass = ResourceClass::Instr;
        return true;
    }
    const QLatin1String name(RESOURCE_CLASSES[which]);
    if (name == QLatin1String("INSTR")) {
        r.resourceClass = ResourceClass::Instr;
        return true;
    }
    if (name == QLatin1String("SOCKET")) {
        if (r.interfaceType != ResourceInterface::Tcpip)
            return Fail(QStringLiteral("only TCPIP resources can be SOCKET resources"));
        r.resourceClass = ResourceClass::Socket;
        return true;
    }
    return Fail(QStringLiteral("%1 resources are not supported (Tallix reaches INSTR and SOCKET resources)")
                    .arg(name));
}

bool CParser::AtMost(qsizetype count)
{
    if (m_body.size() <= count)
        return true;
    return Trailing(count == 0 ? m_tokens.first().end : m_body[count - 1].end);
}

bool CParser::Decimal(const QString &token, const QString &what, std::uint32_t low, std::uint32_t high,
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

bool CParser::ParseHost(const QString &token, QString &host)
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

bool CParser::ParseTcpip(CResource &r)
{
    if (!AtMost(2))
        return false;
    if (m_body.isEmpty() || m_body[0].text.isEmpty())
        return Fail(QStringLiteral("a TCPIP resource needs a host"));
    if (!ParseHost(m_body[0].text, r.host))
        return false;
    if (r.resourceClass == ResourceClass::Socket) {
        if (m_body.size() < 2 || m_body[1].text.isEmpty())
            return Fail(QStringLiteral("a SOCKET resource needs a port"));
        std::uint32_t port = 0;
        if (!Decimal(m_body[1].text, QStringLiteral("port"), 1, MAX_PORT, port))
            return false;
        r.port = static_cast<int>(port);
        return true;
    }
    r.lanDevice = QStringLiteral("inst0");
    if (m_body.size() < 2)
        return true;
    const QString &device = m_body[1].text;
    if (device.isEmpty())
        return Fail(QStringLiteral("the LAN device name is empty"));
    for (QChar c : device)
        if (!IsAsciiAlnum(c) && c != QLatin1Char(',') && c != QLatin1Char('.') && c != QLatin1Char('_') &&
            c != QLatin1Char('-'))
            return Fail(QStringLiteral("the LAN device name '%1' holds more than letters, digits and , . _ -")
                            .arg(device));
    r.lanDevice = device;
    return true;
}

bool CParser::ParseUsb(CResource &r)
{
    if (!AtMost(4))
        return false;
    static const char *const WHAT[] = {"a vendor id", "a product id", "a serial number"};
    for (qsizetype i = 0; i < 3; ++i)
        if (m_body.size() <= i || m_body[i].text.isEmpty())
            return Fail(QStringLiteral("a USB resource needs %1").arg(QLatin1String(WHAT[i])));
    for (int i = 0; i < 2; ++i) {
        const QString what = i == 0 ? QStringLiteral("vendor id") : QStringLiteral("product id");
        std::uint32_t id = 0;
        switch (ParseId(m_body[i].text, id)) {
        case Number::Ok:
            (i == 0 ? r.vendor : r.product) = static_cast<std::uint16_t>(id);
            break;
        case Number::NotANumber:
            return Fail(QStringLiteral("the %1 '%2' is not a number (decimal, or hex after 0x)")
                            .arg(what, m_body[i].text));
        case Number::TooLarge:
            return Fail(QStringLiteral("the %1 %2 is out of range (0 to 0xFFFF)").arg(what, m_body[i].text));
        }
    }
    const QString &serial = m_body[2].text;
    if (HasBlankOrControl(serial) || serial.contains(QLatin1Char(':')) || serial.contains(QLatin1Char('[')) ||
        serial.contains(QLatin1Char(']')))
        return Fail(
            QStringLiteral("the serial number '%1' holds a blank, a control character or one of : [ ]")
                .arg(serial));
    r.serial = serial;
    if (m_body.size() < 4)
        return true;
    std::uint32_t number = 0;
    if (!Decimal(m_body[3].text, QStringLiteral("USB interface number"), 0, MAX_USB_INTERFACE, number))
        return false;
    r.usbInterface = static_cast<int>(number);
    return true;
}

bool CParser::ParseAsrl(CResource &r)
{
    if (m_boardPart.startsWith(QLatin1Char('/'))) {
        // A ':' would run into the "::" that follows the path.
        if (HasBlankOrControl(m_boardPart) || m_boardPart.contains(QLatin1Char(':')))
            return Fail(QStringLiteral("the device path '%1' holds a blank, a control character or a ':'")
                            .arg(m_boardPart));
        r.devicePath = m_boardPart;
        r.asrlNumber = -1;
    } else if (m_boardPart.isEmpty()) {
        r.asrlNumber = 0;
    } else {
        std::uint32_t number = 0;
        switch (ParseDecimal(m_boardPart, MAX_BOARD, number)) {
        case Number::Ok:
            r.asrlNumber = static_cast<int>(number);
            break;
        case Number::NotANumber:
            return Fail(
                QStringLiteral("'%1' after ASRL is neither a port number nor a device path starting with '/'")
                    .arg(m_boardPart));
        case Number::TooLarge:
            return Fail(QStringLiteral("the port number %1 is out of range (0 to %2)")
                            .arg(m_boardPart)
                            .arg(MAX_BOARD));
        }
    }
    return AtMost(0);
}

bool CParser::ParseGpib(CResource &r)
{
    if (!AtMost(2))
        return false;
    if (m_body.isEmpty() || m_body[0].text.isEmpty())
        return Fail(QStringLiteral("a GPIB resource needs a primary address"));
    std::uint32_t primary = 0;
    if (!Decimal(m_body[0].text, QStringLiteral("primary address"), 0, MAX_GPIB_ADDRESS, primary))
        return false;
    r.primary = static_cast<int>(primary);
    if (m_body.size() < 2)
        return true;
    const QString &token = m_body[1].text;
    std::uint32_t secondary = 0;
    const Number number = ParseDecimal(token, GPIB_SECONDARY_BYTE + MAX_GPIB_ADDRESS, secondary);
    if (number == Number::NotANumber)
        return Fail(QStringLiteral("the secondary address '%1' is not a number").arg(token));
    if (number == Number::TooLarge ||
        (secondary > MAX_GPIB_ADDRESS && secondary < static_cast<std::uint32_t>(GPIB_SECONDARY_BYTE)))
        return Fail(
            QStringLiteral("the secondary address %1 is out of range (0 to 30, or 96 to 126)").arg(token));
    r.secondary =
        static_cast<int>(secondary >= GPIB_SECONDARY_BYTE ? secondary - GPIB_SECONDARY_BYTE : secondary);
    return true;
}

bool CParser::Parse(CResource &out, QString &error)
{
    CResource r;
    r.text = m_text;
    bool good = false;
    if (m_text.isEmpty())
        Fail(QStringLiteral("it is empty"));
    else if (Split() && ParseInterface(r) && FindClass(r)) {
        switch (r.interfaceType) {
        case ResourceInterface::Tcpip:
            good = ParseTcpip(r);
            break;
        case ResourceInterface::Usb:
            good = ParseUsb(r);
            break;
        case ResourceInterface::Asrl:
            good = ParseAsrl(r);
            break;
        case ResourceInterface::Gpib:
            good = ParseGpib(r);
            break;
        }
        if (good && m_classEnd < m_text.size())
            good = Trailing(m_classEnd);
    }
    if (!good) {
        error = m_error;
        return false;
    }
    out = r;
    return true;
}

} // namespace

bool ParseResource(const QString &text, CResource &resource, QString &error)
{
    return CParser(text).Parse(resource, error);
}

QString CanonicalResource(const CResource &r)
{
    // Plain concatenation: a host's zone ("%3") must not be taken for a
    // placeholder.
    const QString separator = QStringLiteral("::");
    const QString instr = QStringLiteral("::INSTR");
    const QString board = QString::number(r.board);
    switch (r.interfaceType) {
    case ResourceInterface::Tcpip: {
        const QString host =
            r.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + r.host + QLatin1Char(']') : r.host;
        if (r.resourceClass == ResourceClass::Socket)
            return QStringLiteral("TCPIP") + board + separator + host + separator + QString::number(r.port) +
                   QStringLiteral("::SOCKET");
        return QStringLiteral("TCPIP") + board + separator + host + separator + r.lanDevice + instr;
    }
    case ResourceInterface::Usb: {
        const auto id = [](std::uint16_t value) {
            return QStringLiteral("0x") +
                   QString::number(value, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        };
        QString text = QStringLiteral("USB") + board + separator + id(r.vendor) + separator + id(r.product) +
                       separator + r.serial;
        if (r.usbInterface >= 0)
            text += separator + QString::number(r.usbInterface);
        return text + instr;
    }
    case ResourceInterface::Asrl:
        return QStringLiteral("ASRL") + (r.asrlNumber >= 0 ? QString::number(r.asrlNumber) : r.devicePath) +
               instr;
    case ResourceInterface::Gpib: {
        QString text = QStringLiteral("GPIB") + board + separator + QString::number(r.primary);
        if (r.secondary >= 0)
            text += separator + QString::number(r.secondary);
        return text + instr;
    }
    }
    return QString();
}
