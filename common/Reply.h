// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

// How much of one reply is kept in memory: "Replies"/"MaxBytes", 64 MiB unless
// set, from 1 MiB to 1 GiB. A longer reply is still read to its end, so that
// none of it is left for the next command, but only its start is kept.
constexpr std::int64_t DEFAULT_MAX_REPLY_BYTES = std::int64_t{64} << 20;
constexpr std::int64_t MIN_MAX_REPLY_BYTES = std::int64_t{1} << 20;
constexpr std::int64_t MAX_MAX_REPLY_BYTES = std::int64_t{1} << 30;

// One reply of an instrument, read to its end.
struct CReply
{
    // Every byte that was kept, the terminator included, NULs and all.
    QByteArray bytes;
    // Every byte of the reply, also those thrown away past the bound.
    std::int64_t total = 0;
    // Longer than the bound: `bytes` holds its start only.
    bool cut = false;
    // The reply starts with an IEEE 488.2 block: definite (#<d><length>) or
    // indefinite (#0).
    bool block = false;
    bool indefinite = false;
    // Where the block's payload starts in `bytes`, and its length: as
    // declared for a definite block, as read (its terminator excluded) for an
    // indefinite one.
    qsizetype payloadOffset = 0;
    std::int64_t payloadLength = 0;
    // Read to its end by the rules of whole replies. Otherwise it is what one
    // read of the link's own protocol gave: text that ends at its first NUL.
    bool whole = false;

    // The block's payload as far as it was kept; the whole reply when it is
    // no block.
    QByteArray Payload() const;
    // The same without a copy; valid while `bytes` is unchanged.
    QByteArrayView PayloadView() const;
    bool IsEmpty() const { return bytes.isEmpty(); }
    // Empty again (the room its bytes had is kept).
    void Reset();
};

// A count with commas between its thousands ("16,777,216") whatever the
// user's locale: the program's texts are English.
QString CountText(std::int64_t n);

// What the user is told when a reply could not be read to its end, or was
// longer than the bound. `came`: the bytes of it that had come.
QString PartialReplyText(std::int64_t came);
QString StoppedReplyText(std::int64_t came);
QString ClosedReplyText(std::int64_t came);
// Empty unless the reply was cut.
QString CutReplyText(const CReply &reply);
