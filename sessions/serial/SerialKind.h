// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/SessionRow.h"

// A serial port, ASRL<port number or device path>[::INSTR]: its row in the
// session table, with the "Serial" settings.
CSessionRow SerialRow();

// The one spelling of an ASRL INSTR resource.
QString SerialCanonical(const CResource &resource);
