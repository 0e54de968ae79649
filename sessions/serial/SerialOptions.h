// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>

// How a serial port is set up and where a reply on it ends: the "Serial"
// group of the settings, one field a key.
struct CSerialOptions
{
    // Parity, as the key "Serial"/"Parity" stores it.
    enum Parity
    {
        PARITY_NONE = 0,
        PARITY_EVEN = 1,
        PARITY_ODD = 2,
        PARITY_SPACE = 3,
        PARITY_MARK = 4,
    };
    // Flow control, as "Serial"/"FlowControl" stores it.
    enum FlowControl
    {
        FLOW_NONE = 0,
        FLOW_RTS_CTS = 1,
        FLOW_XON_XOFF = 2,
    };
    // What ends a reply, as "Serial"/"ReplyEnd" stores it. SILENCE: nothing
    // more for `silenceMs` after at least one byte, for instruments that end
    // their replies with nothing.
    enum ReplyEndRule
    {
        END_LF = 0,
        END_CR = 1,
        END_CR_LF = 2,
        END_SILENCE = 3,
    };

    static constexpr int DEFAULT_BAUD = 9600;
    // Any rate the driver takes may be typed; these bound it.
    static constexpr int MIN_BAUD = 50;
    static constexpr int MAX_BAUD = 4000000;
    // The rates a list offers.
    static constexpr std::array<int, 16> STANDARD_BAUDS = {300,    600,    1200,    2400,   4800,   9600,
                                                           19200,  38400,  57600,   115200, 230400, 460800,
                                                           500000, 921600, 1000000, 2000000};
    static constexpr int DEFAULT_DATA_BITS = 8;
    static constexpr int MIN_DATA_BITS = 5;
    static constexpr int MAX_DATA_BITS = 8;
    static constexpr int DEFAULT_PARITY = PARITY_NONE;
    static constexpr int MAX_PARITY = PARITY_MARK;
    static constexpr int DEFAULT_STOP_BITS = 1;
    static constexpr int MIN_STOP_BITS = 1;
    static constexpr int MAX_STOP_BITS = 2;
    static constexpr int DEFAULT_FLOW_CONTROL = FLOW_NONE;
    static constexpr int MAX_FLOW_CONTROL = FLOW_XON_XOFF;
    // DTR and RTS: 1 asserted, 0 not.
    static constexpr int DEFAULT_DTR = 1;
    static constexpr int DEFAULT_RTS = 1;
    static constexpr int DEFAULT_REPLY_END = END_LF;
    static constexpr int MAX_REPLY_END = END_SILENCE;
    static constexpr int DEFAULT_SILENCE_MS = 200;
    static constexpr int MIN_SILENCE_MS = 10;
    static constexpr int MAX_SILENCE_MS = 60000;

    int baud = DEFAULT_BAUD;                // "Serial"/"Baud"
    int dataBits = DEFAULT_DATA_BITS;       // "Serial"/"DataBits"
    int parity = DEFAULT_PARITY;            // "Serial"/"Parity"
    int stopBits = DEFAULT_STOP_BITS;       // "Serial"/"StopBits"
    int flowControl = DEFAULT_FLOW_CONTROL; // "Serial"/"FlowControl"
    int dtr = DEFAULT_DTR;                  // "Serial"/"Dtr"
    int rts = DEFAULT_RTS;                  // "Serial"/"Rts"
    int replyEnd = DEFAULT_REPLY_END;       // "Serial"/"ReplyEnd"
    int silenceMs = DEFAULT_SILENCE_MS;     // "Serial"/"SilenceMs"

    bool operator==(const CSerialOptions &) const = default;
};
