// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// The index of the checked radio button of the link group; -1 when none is.
using LinkKind = int;

constexpr LinkKind LINK_AUTOMATION = 0;
constexpr LinkKind LINK_ORDAL = 1;
constexpr LinkKind LINK_GPIB = 2;
constexpr LinkKind LINK_LUMEC = 3;
constexpr LinkKind LINK_TCPIP = 4;

// The most that one response read takes; every response buffer has one byte
// more for the terminating NUL.
constexpr int RESPONSE_BUFFER_SIZE = 4048;

// Shows one modal message box titled "Tallix" with a warning icon and OK.
using MessageFn = std::function<void(const QString &)>;
