// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/SessionRow.h"

// A raw socket, TCPIP[board]::host::port::SOCKET: its row in the session
// table.
CSessionRow SocketRow();
