// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Reply.h"

#include <cstddef>
#include <cstdint>

// What ends a reply that is not a definite block.
enum class ReplyEnd
{
    Lf,   // its LF (a socket, a serial port by default)
    Cr,   // its CR
    CrLf, // an LF right after a CR
    Mark, // only the transport's end mark (GPIB END, a USBTMC or VXI-11 end)
};

// Tells where one reply ends, from its bytes as they come in pieces: at its
// terminator, except that a reply that starts with an IEEE 488.2 definite
// block (#<d><length>) is taken to its declared length whatever its bytes
// hold, and then to its terminator; an indefinite block (#0) ends at the
// transport's end mark or, where the transport has none, at its terminator.
// The transport's end mark always ends the reply. Past the bound the bytes
// are counted and scanned for the end, but no longer kept.
class CReplyFramer
{
public:
    explicit CReplyFramer(ReplyEnd end = ReplyEnd::Lf, std::int64_t maxBytes = DEFAULT_MAX_REPLY_BYTES);

    // Takes the next bytes as they came; `endMark` when the transport marked
    // the last of them as the end of the message. Returns how many belong to
    // this reply: all, or fewer when it ended inside them (the rest is the
    // transport's to keep). Takes nothing once the reply is complete.
    std::size_t Feed(const char *data, std::size_t size, bool endMark = false);

    bool Complete() const { return m_state == State::Done; }
    // Bytes that the reply certainly holds before anything can end it (the
    // rest of a definite block's payload): a reader may take that many
    // without looking. 0 when the next byte might end the reply.
    std::int64_t KnownRemaining() const;
    // Inside a block's payload that is kept whole: room for the next
    // `wanted` of its bytes (at most KnownRemaining()) at the end of the kept
    // reply, so that a reader can receive them in place; nullptr where they
    // would not all be kept. CommitPayload() then takes the `n` bytes that
    // went there.
    char *PayloadRoom(std::size_t wanted);
    void CommitPayload(std::size_t n);
    // The reply's whole length when its header declared it (the terminator
    // not counted), else -1: for a progress indication.
    std::int64_t ExpectedLength() const;
    std::int64_t Received() const { return m_reply.total; }

    // The reply as read so far (complete or not); the framer starts over.
    CReply Take();
    void Reset();

private:
    enum class State
    {
        Start,   // nothing yet
        Hash,    // "#" came first
        Digits,  // "#<d>" and some of its d length digits
        Payload, // inside a definite block's payload
        Text,    // looking for the terminator
        Done,
    };

    void Keep(const char *data, std::size_t size);
    // Whether data[stop - 1], the last of the bytes from `from`, ends the
    // reply.
    bool IsTerminatorAt(const char *data, std::size_t from, std::size_t stop) const;
    // `terminated`: by its terminator, not by the transport's end mark.
    void Finish(bool terminated);

    ReplyEnd m_end;
    std::int64_t m_maxBytes;
    State m_state = State::Start;
    CReply m_reply;
    int m_digitsWanted = 0;
    int m_digitsSeen = 0;
    std::int64_t m_declared = 0;
    std::int64_t m_payloadLeft = 0;
    char m_previous = '\0';
    char m_beforePrevious = '\0'; // the byte before m_previous
    qsizetype m_roomAt = -1;      // where the room of PayloadRoom() starts
};
