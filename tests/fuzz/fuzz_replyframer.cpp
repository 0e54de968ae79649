// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// Where a reply ends, as the framer finds it from pieces, against a plain
// reading of the whole input: the framer must take exactly the reply's bytes
// (a definite block to its declared length whatever it holds, then to the
// terminator; "#0" to the terminator or the end mark), keep at most the
// bound, count every byte, and never depend on where the pieces break.
//
// The first three bytes choose how: the line end (LF, CR, CR LF, the end
// mark only), the bound (small, so that cut replies are common), and the
// size of the pieces; the rest is the reply, marked as the message's end
// when the mode asks for it.
#include "FuzzCheck.h"

#include "common/ReplyFramer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

namespace {

struct Expected
{
    bool complete = false;
    std::size_t end = 0; // bytes of the reply (all the input when not complete)
    bool block = false;
    bool indefinite = false;
    std::size_t payloadOffset = 0;
    std::int64_t payloadLength = 0;
};

bool Terminates(ReplyEnd mode, const std::uint8_t *data, std::size_t i)
{
    switch (mode) {
    case ReplyEnd::Lf:
        return data[i] == '\n';
    case ReplyEnd::Cr:
        return data[i] == '\r';
    case ReplyEnd::CrLf:
        return data[i] == '\n' && i > 0 && data[i - 1] == '\r';
    case ReplyEnd::Mark:
        break;
    }
    return false;
}

// The first terminator at or after `from`, or nothing.
std::optional<std::size_t> FindEnd(ReplyEnd mode, const std::uint8_t *data, std::size_t size,
                                   std::size_t from)
{
    for (std::size_t i = from; i < size; ++i)
        if (Terminates(mode, data, i))
            return i + 1;
    return std::nullopt;
}

Expected Reference(ReplyEnd mode, bool mark, const std::uint8_t *data, std::size_t size)
{
    Expected e;
    std::size_t scanFrom = 0;
    if (size >= 2 && data[0] == '#' && data[1] == '0') {
        e.block = e.indefinite = true;
        e.payloadOffset = 2;
        scanFrom = 2;
    } else if (size >= 2 && data[0] == '#' && data[1] >= '1' && data[1] <= '9') {
        const std::size_t digits = data[1] - '0';
        std::size_t seen = 0;
        std::int64_t length = 0;
        while (seen < digits && 2 + seen < size && data[2 + seen] >= '0' && data[2 + seen] <= '9')
            length = length * 10 + (data[2 + seen++] - '0');
        if (seen == digits) {
            e.block = true;
            e.payloadOffset = 2 + digits;
            e.payloadLength = length;
            const auto payloadEnd =
                static_cast<std::uint64_t>(e.payloadOffset) + static_cast<std::uint64_t>(length);
            if (payloadEnd > size) {
                // Cut short: only the end mark can end it, within the payload.
                e.complete = mark;
                e.end = size;
                return e;
            }
            scanFrom = static_cast<std::size_t>(payloadEnd);
        } else {
            // A broken header is text, scanned from where it broke (its
            // digits are digits, never a terminator).
            scanFrom = 2 + seen;
        }
    }
    // The byte before the scan start counts for CR LF only when it was not
    // inside a payload: a CR at a payload's end and an LF after it do end it.
    const std::optional<std::size_t> end = FindEnd(mode, data, size, scanFrom);
    if (end) {
        e.complete = true;
        e.end = *end;
    } else {
        e.complete = mark;
        e.end = size;
    }
    if (e.indefinite) {
        std::int64_t terminator = 0;
        if (end)
            terminator = mode == ReplyEnd::CrLf ? 2 : 1;
        else if (e.end > 0 && data[e.end - 1] == '\n')
            terminator = 1;
        // A CR before the closing LF goes with it.
        if (terminator == 1 && e.end >= 4 && data[e.end - 1] == '\n' && data[e.end - 2] == '\r')
            terminator = 2;
        e.payloadLength = std::max<std::int64_t>(0, static_cast<std::int64_t>(e.end) - 2 - terminator);
    }
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    const ReplyEnd modes[] = {ReplyEnd::Lf, ReplyEnd::Cr, ReplyEnd::CrLf, ReplyEnd::Mark};
    const ReplyEnd mode = modes[data[0] % 4];
    const bool mark = (data[0] & 0x10) != 0 || mode == ReplyEnd::Mark;
    const std::int64_t bound = 1 + data[1] % 64;
    const std::size_t piece = 1 + data[2] % 17;
    data += 3;
    size -= 3;

    const Expected e = Reference(mode, mark, data, size);
    CReplyFramer framer(mode, bound);
    std::size_t consumed = 0;
    // A message of no bytes at all can still carry its end mark.
    if (size == 0)
        framer.Feed(nullptr, 0, mark);
    for (std::size_t at = 0; at < size && !framer.Complete(); at += piece) {
        const std::size_t n = std::min(piece, size - at);
        const std::size_t took =
            framer.Feed(reinterpret_cast<const char *>(data) + at, n, mark && at + n == size);
        FUZZ_CHECK(took <= n, "took %zu of %zu", took, n);
        consumed += took;
        if (took < n) {
            FUZZ_CHECK(framer.Complete(), "left %zu bytes of a piece without completing", n - took);
            break;
        }
    }
    FUZZ_CHECK(framer.Complete() == e.complete, "complete %d, expected %d", framer.Complete(), e.complete);
    FUZZ_CHECK(consumed == e.end, "took %zu bytes, expected %zu", consumed, e.end);
    FUZZ_CHECK(framer.Received() == static_cast<std::int64_t>(consumed), "counted %lld of %zu",
               static_cast<long long>(framer.Received()), consumed);
    const CReply reply = framer.Take();
    const auto kept =
        static_cast<std::size_t>(std::min<std::int64_t>(bound, static_cast<std::int64_t>(consumed)));
    FUZZ_CHECK(reply.bytes.size() == static_cast<qsizetype>(kept), "kept %lld bytes, expected %zu",
               static_cast<long long>(reply.bytes.size()), kept);
    FUZZ_CHECK(std::memcmp(reply.bytes.constData(), data, kept) == 0,
               "the kept bytes are not the reply's start");
    FUZZ_CHECK(reply.cut == (static_cast<std::int64_t>(consumed) > bound), "cut %d after %zu bytes",
               reply.cut, consumed);
    FUZZ_CHECK(reply.block == e.block && reply.indefinite == e.indefinite, "block %d/%d, expected %d/%d",
               reply.block, reply.indefinite, e.block, e.indefinite);
    if (e.block && e.complete) {
        FUZZ_CHECK(reply.payloadOffset == static_cast<qsizetype>(e.payloadOffset), "payload at %lld",
                   static_cast<long long>(reply.payloadOffset));
        FUZZ_CHECK(reply.payloadLength == e.payloadLength, "payload of %lld, expected %lld",
                   static_cast<long long>(reply.payloadLength), static_cast<long long>(e.payloadLength));
        const QByteArrayView payload = reply.PayloadView();
        FUZZ_CHECK(payload.size() <= reply.bytes.size(), "payload view past the kept bytes");
    }
    return 0;
}
