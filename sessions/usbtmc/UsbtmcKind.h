// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/SessionRow.h"

// A USBTMC instrument, USB[board]::vendor::product::serial[::interface][::INSTR]:
// its row in the session table.
CSessionRow UsbtmcRow();

// The one spelling of a USB INSTR resource.
QString UsbtmcCanonical(const CResource &resource);
