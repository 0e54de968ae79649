// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/GpibSettings.h"

#include "links/LinkOptions.h"

#include <QSerialPortInfo>

CLinkSettingsGroup GpibSettingsGroup()
{
    // NI-488.2's time-out codes, from TNONE to T1000s.
    static const QStringList names{QStringLiteral("Library default"),
                                   QStringLiteral("No limit"),
                                   QStringLiteral("10 \u00B5s"),
                                   QStringLiteral("30 \u00B5s"),
                                   QStringLiteral("100 \u00B5s"),
                                   QStringLiteral("300 \u00B5s"),
                                   QStringLiteral("1 ms"),
                                   QStringLiteral("3 ms"),
                                   QStringLiteral("10 ms"),
                                   QStringLiteral("30 ms"),
                                   QStringLiteral("100 ms"),
                                   QStringLiteral("300 ms"),
                                   QStringLiteral("1 s"),
                                   QStringLiteral("3 s"),
                                   QStringLiteral("10 s"),
                                   QStringLiteral("30 s"),
                                   QStringLiteral("100 s"),
                                   QStringLiteral("300 s"),
                                   QStringLiteral("1000 s")};
    CLinkSettingsGroup group{QStringLiteral("GPIB"), {}};
    group.settings = {
        CLinkSetting::Field("GPIB", "Timeout", CLinkSetting::Shown::Choice, QStringLiteral("&I/O time-out:"),
                            GPIB_LIBRARY_TIMEOUT, 17, &CLinkOptions::gpibTimeout, names),
        // Board 0 through a Prologix adapter instead of a GPIB library:
        // gpib-32 takes it from its environment when it first loads.
        CLinkSetting::Field(
            "GPIB", "Board", CLinkSetting::Shown::Library, QStringLiteral("&Board 0:"), 0, 0,
            &CLinkOptions::gpibBoard, {QStringLiteral("the machine's GPIB library")},
            QStringLiteral(
                "The machine's GPIB library, or a Prologix adapter: prologix:serial:PORT on a serial port, "
                "prologix:tcp:HOST[:PORT] on the LAN (port 1234 unless given). Takes effect when Tallix "
                "next starts."))
            .Offering([] {
                QStringList found;
                for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
                    found << QStringLiteral("prologix:serial:") + port.systemLocation();
                found << QStringLiteral("prologix:tcp:HOST:1234");
                return found;
            }),
    };
    return group;
}
