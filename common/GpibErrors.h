// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A GPIB library's error code as both NI-488.2 and linux-gpib name it, with
// what it means: "EABO (I/O operation aborted: time-out)". A driver error
// (EDVR) carries the system's error number in the count, which is named too:
// "EDVR (driver error: No such file or directory)".
QString GpibErrorText(int iberr, long ibcnt);
