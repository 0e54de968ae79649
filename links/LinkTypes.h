// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The index of the checked radio button of the link group, as the "Connect"
// setting stores it. Any stored number round-trips; one that names no link
// checks no radio.
enum class LinkKind : std::int32_t
{
};

inline constexpr LinkKind LINK_NONE{-1}; // no radio checked
inline constexpr LinkKind LINK_AUTOMATION{0};
inline constexpr LinkKind LINK_ORDAL{1};
inline constexpr LinkKind LINK_GPIB{2};
inline constexpr LinkKind LINK_LUMEC{3};
inline constexpr LinkKind LINK_TCPIP{4};
inline constexpr LinkKind LINK_VISA{5};

constexpr std::int32_t ToInt(LinkKind kind)
{
    return static_cast<std::int32_t>(kind);
}

// The longest command the links of the original protocols send: what the
// window's command box has always held.
constexpr int COMMAND_MAX_CHARS = 1023;

// The most that one response read takes; every response buffer has one byte
// more for the terminating NUL.
constexpr int RESPONSE_BUFFER_SIZE = 4048;
