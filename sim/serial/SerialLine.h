// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tallixsim {

// Opens a serial port (or a pseudo-terminal's slave) for reading and
// writing, raw and not blocking; -1 with errno.
int OpenRawLine(const char *path);

// The rate the line through `fd` is set to, in baud; 0 when unknown.
unsigned LineBaud(int fd);

} // namespace tallixsim
