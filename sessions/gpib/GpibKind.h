// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/SessionRow.h"

// An instrument on a GPIB board, GPIB[board]::primary[::secondary][::INSTR]:
// its row in the session table.
CSessionRow GpibRow();
