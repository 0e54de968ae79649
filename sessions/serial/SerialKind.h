// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/SessionRow.h"
#include "sessions/serial/SerialOptions.h"

// A serial port, ASRL<port number or device path>[::INSTR]: its row in the
// session table, with the "Serial" settings.
CSessionRow SerialRow();

// The serial part of `kinds`, every field out of its setting's range back
// at its default.
CSerialOptions SerialOptionsOf(const CKindOptions &kinds);

// The one spelling of an ASRL INSTR resource.
QString SerialCanonical(const CResource &resource);
