// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The operating system's message for an error code, at most 127 characters;
// an empty text when the system has none that fits.
QString SystemErrorText(int code);
