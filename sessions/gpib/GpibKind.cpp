// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/gpib/GpibKind.h"

#include "sessions/ResourceGrammar.h"
#include "sessions/gpib/GpibFinder.h"
#include "sessions/gpib/GpibSession.h"

namespace {

constexpr std::uint32_t MAX_GPIB_ADDRESS = 30;
// A secondary address as the byte that carries it on the bus.
constexpr std::uint32_t GPIB_SECONDARY_BYTE = 96;

bool Parse(CResourceText &text, CResource &r)
{
    if (!text.AtMost(2))
        return false;
    if (text.Fields() == 0 || text.Field(0).isEmpty())
        return text.Fail(QStringLiteral("a GPIB resource needs a primary address"));
    std::uint32_t primary = 0;
    if (!text.Decimal(text.Field(0), QStringLiteral("primary address"), 0, MAX_GPIB_ADDRESS, primary))
        return false;
    r.primary = static_cast<int>(primary);
    if (text.Fields() < 2)
        return true;
    const QString &token = text.Field(1);
    std::uint32_t secondary = 0;
    const Number number = ParseDecimal(token, GPIB_SECONDARY_BYTE + MAX_GPIB_ADDRESS, secondary);
    if (number == Number::NotANumber)
        return text.Fail(QStringLiteral("the secondary address '%1' is not a number").arg(token));
    if (number == Number::TooLarge || (secondary > MAX_GPIB_ADDRESS && secondary < GPIB_SECONDARY_BYTE))
        return text.Fail(
            QStringLiteral("the secondary address %1 is out of range (0 to 30, or 96 to 126)").arg(token));
    r.secondary =
        static_cast<int>(secondary >= GPIB_SECONDARY_BYTE ? secondary - GPIB_SECONDARY_BYTE : secondary);
    return true;
}

QString Canonical(const CResource &r)
{
    QString text =
        QStringLiteral("GPIB") + QString::number(r.board) + QStringLiteral("::") + QString::number(r.primary);
    if (r.secondary >= 0)
        text += QStringLiteral("::") + QString::number(r.secondary);
    return text + QStringLiteral("::INSTR");
}

} // namespace

CSessionRow GpibRow()
{
    return {"GPIB",
            ResourceClass::Instr,
            CSessionRow::FirstField::Board,
            Parse,
            Canonical,
            &CGpibSession::Make,
            &CGpibFinder::Make,
            nullptr};
}
