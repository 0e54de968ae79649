// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkOptions.h"

// The settings of the Link Settings dialog, kept in the settings store beside
// the window's own: "TCPIP"/"Port", "TCPIP"/"ConnectTimeoutMs",
// "TCPIP"/"ReplyTimeoutMs", "TCPIP"/"RequestLine", "GPIB"/"Timeout",
// "Replies"/"MaxBytes" and "Console"/"ShowControlCharacters". Nothing is written unless the user says
// OK, so with none stored every default holds.
struct CConsoleSettings
{
    CLinkOptions links;
    bool showControlCharacters = false;

    // The ranges that the dialog offers; a stored value outside its range, or
    // one that is no number, reads as the default.
    static constexpr int MIN_PORT = 1;
    static constexpr int MAX_PORT = 65535;
    static constexpr int MIN_CONNECT_TIMEOUT_MS = 1000;
    static constexpr int MAX_CONNECT_TIMEOUT_MS = 600000;
    static constexpr int MIN_REPLY_TIMEOUT_MS = 100;
    static constexpr int MAX_REPLY_TIMEOUT_MS = 600000;
    static constexpr int MAX_GPIB_TIMEOUT = 17; // T1000s
    static constexpr int MIN_MAX_REPLY_BYTES = static_cast<int>(::MIN_MAX_REPLY_BYTES);
    static constexpr int MAX_MAX_REPLY_BYTES = static_cast<int>(::MAX_MAX_REPLY_BYTES);

    static CConsoleSettings Load();
    void Save() const;

    bool operator==(const CConsoleSettings &) const = default;
};
