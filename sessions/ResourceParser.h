// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"

#include <QString>

// Reads a VISA resource string, case-insensitively, blanks around it ignored:
//   TCPIP[board]::host::port::SOCKET
//   TCPIP[board]::host[::LAN device name][::INSTR]
//   USB[board]::vendor::product::serial[::interface][::INSTR]
//   ASRL<port number or device path>[::INSTR]
//   GPIB[board]::primary[::secondary][::INSTR]
// The board is 0 when not given. A host is a name, an IPv4 address or an IPv6
// address in brackets (with a zone, "[fe80::1%eth0]", where it needs one).
// Vendor and product ids are decimal or hex with 0x, 0 to 0xFFFF. A GPIB
// secondary address is 0 to 30; written as the address byte on the bus, 96 to
// 126, it means the same 0 to 30 (GPIB0::14::96 is GPIB0::14::0).
// On failure `resource` is left as it was and `error` holds one sentence:
// "Resource '<the text>': <what is wrong>".
bool ParseResource(const QString &text, CResource &resource, QString &error);

// The one spelling of a parsed resource: interface names and classes in
// capitals, the board and every default written out, vendor and product as
// 0x and four hex digits, a secondary address as 0 to 30. Parsing it gives
// the same resource again.
QString CanonicalResource(const CResource &resource);
