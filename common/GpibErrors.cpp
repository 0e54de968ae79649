// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/GpibErrors.h"

#include "common/SystemError.h"

namespace {

struct Name
{
    int code;
    const char *name;
    const char *meaning;
};

constexpr Name NAMES[] = {
    {0, "EDVR", "driver error"},
    {1, "ECIC", "the board is not the controller in charge"},
    {2, "ENOL", "no listener on the bus"},
    {3, "EADR", "the board is not addressed correctly"},
    {4, "EARG", "invalid argument"},
    {5, "ESAC", "the board is not the system controller"},
    {6, "EABO", "I/O operation aborted: time-out"},
    {7, "ENEB", "no such GPIB board"},
    {8, "EDMA", "DMA error"},
    {10, "EOIP", "asynchronous I/O in progress"},
    {11, "ECAP", "no capability for the operation"},
    {12, "EFSO", "file system error"},
    {14, "EBUS", "GPIB bus error: a command byte was not accepted"},
    {15, "ESTB", "serial poll status byte queue overflow"},
    {16, "ESRQ", "SRQ stuck on"},
    {17, "ECNF", "the configuration file is invalid"},
    {20, "ETAB", "table problem"},
};

constexpr int EDVR = 0;

} // namespace

QString GpibErrorText(int iberr, long ibcnt)
{
    if (iberr == EDVR && ibcnt > 0)
        return QStringLiteral("EDVR (driver error: %1)").arg(SystemErrorText(static_cast<int>(ibcnt)));
    for (const Name &n : NAMES)
        if (n.code == iberr)
            return QStringLiteral("%1 (%2)").arg(QLatin1String(n.name), QLatin1String(n.meaning));
    return QStringLiteral("error %1").arg(iberr);
}
