// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/serial/SerialKind.h"

#include "sessions/ResourceGrammar.h"
#include "sessions/serial/SerialFinder.h"
#include "sessions/serial/SerialSession.h"

namespace {

bool Parse(CResourceText &text, CResource &r)
{
    const QString &port = text.BoardPart();
    if (port.startsWith(QLatin1Char('/'))) {
        // A ':' would run into the "::" that follows the path.
        if (HasBlankOrControl(port) || port.contains(QLatin1Char(':')))
            return text.Fail(
                QStringLiteral("the device path '%1' holds a blank, a control character or a ':'").arg(port));
        r.devicePath = port;
        r.asrlNumber = -1;
    } else if (port.isEmpty()) {
        r.asrlNumber = 0;
    } else {
        std::uint32_t number = 0;
        switch (ParseDecimal(port, MAX_BOARD, number)) {
        case Number::Ok:
            r.asrlNumber = static_cast<int>(number);
            break;
        case Number::NotANumber:
            return text.Fail(
                QStringLiteral("'%1' after ASRL is neither a port number nor a device path starting with '/'")
                    .arg(port));
        case Number::TooLarge:
            return text.Fail(
                QStringLiteral("the port number %1 is out of range (0 to %2)").arg(port).arg(MAX_BOARD));
        }
    }
    return text.AtMost(0);
}

// The "Serial" group, one entry a field of CSerialOptions.
std::vector<CKindSettingsGroup> SettingsGroups()
{
    using Shown = SettingShown;
    using S = CSerialOptions;
    const auto field = [](const char *key, Shown shown, const char *label, int least, int most,
                          int S::*member, QStringList choices = {}, QString toolTip = {}) {
        return CKindSetting::Field("Serial", key, shown, QString::fromUtf8(label), least, most, member,
                                   std::move(choices), std::move(toolTip));
    };
    QStringList rates;
    for (const int rate : S::STANDARD_BAUDS)
        rates << QString::number(rate);
    CKindSettingsGroup group{QStringLiteral("Serial"), {}};
    group.settings = {
        field("Baud", Shown::NumberList, "Ba&ud rate:", S::MIN_BAUD, S::MAX_BAUD, &S::baud, rates,
              QStringLiteral("Any standard rate, or type another.")),
        field("DataBits", Shown::Number, "&Data bits:", S::MIN_DATA_BITS, S::MAX_DATA_BITS, &S::dataBits),
        field("Parity", Shown::Choice, "P&arity:", 0, S::MAX_PARITY, &S::parity,
              {QStringLiteral("None"), QStringLiteral("Even"), QStringLiteral("Odd"), QStringLiteral("Space"),
               QStringLiteral("Mark")}),
        field("StopBits", Shown::Choice, "&Stop bits:", S::MIN_STOP_BITS, S::MAX_STOP_BITS, &S::stopBits,
              {QStringLiteral("1"), QStringLiteral("2")}),
        field("FlowControl", Shown::Choice, "&Flow control:", 0, S::MAX_FLOW_CONTROL, &S::flowControl,
              {QStringLiteral("None"), QStringLiteral("RTS/CTS"), QStringLiteral("XON/XOFF")}),
        field("Dtr", Shown::Check, "DTR &high (asserted)", 0, 1, &S::dtr),
        field("Rts", Shown::Check, "RTS hi&gh (asserted)", 0, 1, &S::rts),
        field(
            "ReplyEnd", Shown::Choice, "Reply e&nds with:", 0, S::MAX_REPLY_END, &S::replyEnd,
            {QStringLiteral("LF"), QStringLiteral("CR"), QStringLiteral("CR LF"), QStringLiteral("silence")},
            QStringLiteral("\"silence\": for instruments that end a reply with nothing; it "
                           "ends when no byte has come for the time below.")),
        field("SilenceMs", Shown::Number, "Silence (&ms):", S::MIN_SILENCE_MS, S::MAX_SILENCE_MS,
              &S::silenceMs),
    };
    return {group};
}

} // namespace

QString SerialCanonical(const CResource &r)
{
    return QStringLiteral("ASRL") + (r.asrlNumber >= 0 ? QString::number(r.asrlNumber) : r.devicePath) +
           QStringLiteral("::INSTR");
}

CSerialOptions SerialOptionsOf(const CKindOptions &kinds)
{
    static const std::vector<CKindSettingsGroup> groups = SettingsGroups();
    return PartInRange<CSerialOptions>(kinds, groups);
}

CSessionRow SerialRow()
{
    return {"ASRL",          ResourceClass::Instr,  CSessionRow::FirstField::Own, Parse,
            SerialCanonical, &CSerialSession::Make, &CSerialFinder::Make,         SettingsGroups};
}
