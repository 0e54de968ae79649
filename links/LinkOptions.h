// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Reply.h"
#include "sessions/KindOptions.h"

#include <QString>

#include <cstdint>

// The TCP/IP link's fixed values, which are also the defaults of its options.
constexpr int TCPIP_PORT = 700;
constexpr int CONNECT_TIMEOUT_MS = 25000;
constexpr int RESPONSE_TIMEOUT_MS = 10000;

// The VISA Resource link's waits, as its settings start.
constexpr int VISA_OPEN_TIMEOUT_MS = 5000;
constexpr int VISA_TIMEOUT_MS = 10000;

// "Library default" for the GPIB time-out: the link never sets one.
constexpr int GPIB_LIBRARY_TIMEOUT = -1;

// What the user may change of the links (the Link Settings dialog). With
// every value at its default the links behave exactly as they always have.
struct CLinkOptions
{
    int tcpPort = TCPIP_PORT;
    int connectTimeoutMs = CONNECT_TIMEOUT_MS;
    int replyTimeoutMs = RESPONSE_TIMEOUT_MS;
    // Send the request line before each TCP/IP read. Off, a read waits for
    // what the instrument sends by itself, up to its line end.
    bool askForReply = true;
    // An NI-488.2 time-out code (0 none, 1 for 10 us up to 17 for 1000 s),
    // or GPIB_LIBRARY_TIMEOUT.
    int gpibTimeout = GPIB_LIBRARY_TIMEOUT;
    // The most of one reply that is kept; longer ones are read to their end
    // and cut.
    std::int64_t maxReplyBytes = DEFAULT_MAX_REPLY_BYTES;
    // The VISA Resource link: the machine's VISA library to go through
    // (empty: Tallix's own sessions), and its open and I/O time-outs.
    QString visaLibrary;
    int visaOpenTimeoutMs = VISA_OPEN_TIMEOUT_MS;
    int visaTimeoutMs = VISA_TIMEOUT_MS;
    // The parts of the sessions behind the VISA Resource link, each kind's
    // settings over its own (the "Serial" group of the serial ports).
    CKindOptions kinds;
    // GPIB board 0: empty for the machine's GPIB library, or a Prologix
    // adapter, "prologix:serial:PORT" or "prologix:tcp:HOST[:PORT]" (gpib-32's
    // own way of naming it).
    QString gpibBoard;

    bool operator==(const CLinkOptions &) const = default;
};
