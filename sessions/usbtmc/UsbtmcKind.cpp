// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/usbtmc/UsbtmcKind.h"

#include "sessions/ResourceGrammar.h"
#include "sessions/usbtmc/UsbtmcFinder.h"
#include "sessions/usbtmc/UsbtmcSession.h"

namespace {

constexpr std::uint32_t MAX_USB_ID = 0xFFFF;
constexpr std::uint32_t MAX_USB_INTERFACE = 255;

bool Parse(CResourceText &text, CResource &r)
{
    if (!text.AtMost(4))
        return false;
    static const char *const WHAT[] = {"a vendor id", "a product id", "a serial number"};
    for (qsizetype i = 0; i < 3; ++i)
        if (text.Fields() <= i || text.Field(i).isEmpty())
            return text.Fail(QStringLiteral("a USB resource needs %1").arg(QLatin1String(WHAT[i])));
    for (int i = 0; i < 2; ++i) {
        const QString what = i == 0 ? QStringLiteral("vendor id") : QStringLiteral("product id");
        std::uint32_t id = 0;
        switch (ParseDecimalOrHex(text.Field(i), MAX_USB_ID, id)) {
        case Number::Ok:
            (i == 0 ? r.vendor : r.product) = static_cast<std::uint16_t>(id);
            break;
        case Number::NotANumber:
            return text.Fail(QStringLiteral("the %1 '%2' is not a number (decimal, or hex after 0x)")
                                 .arg(what, text.Field(i)));
        case Number::TooLarge:
            return text.Fail(
                QStringLiteral("the %1 %2 is out of range (0 to 0xFFFF)").arg(what, text.Field(i)));
        }
    }
    const QString &serial = text.Field(2);
    if (HasBlankOrControl(serial) || serial.contains(QLatin1Char(':')) || serial.contains(QLatin1Char('[')) ||
        serial.contains(QLatin1Char(']')))
        return text.Fail(
            QStringLiteral("the serial number '%1' holds a blank, a control character or one of : [ ]")
                .arg(serial));
    r.serial = serial;
    if (text.Fields() < 4)
        return true;
    std::uint32_t number = 0;
    if (!text.Decimal(text.Field(3), QStringLiteral("USB interface number"), 0, MAX_USB_INTERFACE, number))
        return false;
    r.usbInterface = static_cast<int>(number);
    return true;
}

} // namespace

QString UsbtmcCanonical(const CResource &r)
{
    const QString separator = QStringLiteral("::");
    QString text = QStringLiteral("USB") + QString::number(r.board) + separator + HexId(r.vendor) +
                   separator + HexId(r.product) + separator + r.serial;
    if (r.usbInterface >= 0)
        text += separator + QString::number(r.usbInterface);
    return text + QStringLiteral("::INSTR");
}

CSessionRow UsbtmcRow()
{
    return {"USB",           ResourceClass::Instr,  CSessionRow::FirstField::Board, Parse,
            UsbtmcCanonical, &CUsbtmcSession::Make, &CUsbtmcFinder::Make,           nullptr};
}
