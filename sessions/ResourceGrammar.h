// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"

#include <QLatin1String>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// What the grammar of every kind of resource shares: the fields between
// "::" separators, the board number, decimal and hex numbers, hosts, and the
// one sentence a failure is said in, "Resource '<the text>': <what>".

constexpr int MAX_BOARD = 999;

enum class Number
{
    Ok,
    NotANumber,
    TooLarge,
};

bool IsAsciiLetter(QChar c);
bool IsAsciiDigit(QChar c);
bool IsAsciiAlnum(QChar c);
// A blank, a control character or anything past ASCII: nothing a device
// path, a serial number or a host may hold.
bool HasBlankOrControl(const QString &text);

Number ParseDecimal(const QString &text, std::uint32_t limit, std::uint32_t &value);
// Decimal, or hex after 0x.
Number ParseDecimalOrHex(const QString &text, std::uint32_t limit, std::uint32_t &value);

// "INSTR", "SOCKET" ... as a resource string spells the class.
QLatin1String ResourceClassName(ResourceClass resourceClass);
// The class that `text` names, whatever its case.
std::optional<ResourceClass> ResourceClassNamed(const QString &text);

// "A, B and C" (or "A, B or C").
QString ListOf(const QStringList &names, const QString &lastJoin);

// A resource string being read: its fields, where each stands, and the
// failure. A kind's grammar reads the fields between the interface and the
// class (the body) and says what is wrong through Fail().
class CResourceText
{
public:
    // One field between "::" separators, and where it stands in the text.
    struct CToken
    {
        QString text;
        qsizetype begin = 0;
        qsizetype end = 0; // one past its last character
    };

    explicit CResourceText(const QString &text) : m_text(text.trimmed()) {}

    // The text as read: blanks around it dropped.
    const QString &Text() const { return m_text; }
    const QString &Error() const { return m_error; }
    // Always false, with `what` said as the failure.
    bool Fail(const QString &what);
    // Text after `end` that belongs to no field.
    bool Trailing(qsizetype end);

    // Splits the text into fields; false on an IPv6 host without its ']'.
    bool Split();
    const QList<CToken> &Tokens() const { return m_tokens; }
    // Finds the class among the fields (INSTR when none is written), and
    // takes the fields before it as the body.
    ResourceClass FindClass();
    // Where the class ends (the whole text when there is none).
    qsizetype ClassEnd() const { return m_classEnd; }

    // What follows the interface name in the first field.
    const QString &BoardPart() const { return m_boardPart; }
    void SetBoardPart(const QString &part) { m_boardPart = part; }
    // The board part as a board number, 0 when there is none.
    bool Board(int &board);

    // The fields of the body.
    qsizetype Fields() const { return m_body.size(); }
    const QString &Field(qsizetype i) const { return m_body[i].text; }
    // The body's fields beyond `count` are trailing text.
    bool AtMost(qsizetype count);
    // A decimal field in low..high, named `what` in a failure.
    bool Decimal(const QString &token, const QString &what, std::uint32_t low, std::uint32_t high,
                 std::uint32_t &value);
    // A host name, an IPv4 address, or an IPv6 address in brackets (kept
    // without them).
    bool Host(const QString &token, QString &host);
    // The first field as the host of a TCPIP resource, which both of its
    // classes need.
    bool TcpipHost(QString &host);

private:
    QString m_text;
    QString m_error;
    QList<CToken> m_tokens;
    QList<CToken> m_body;
    qsizetype m_classEnd = 0;
    QString m_boardPart;
};

// The host as a resource string writes it: an IPv6 address in brackets.
QString HostInResource(const QString &host);
// A USB id as 0x and four hex digits.
QString HexId(std::uint16_t value);
