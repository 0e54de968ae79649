// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/SessionRow.h"

// An instrument over VXI-11, TCPIP[board]::host[::LAN device name][::INSTR]:
// its row in the session table.
CSessionRow Vxi11Row();
