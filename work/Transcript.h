// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Reply.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>

// One event of the session: a command sent, a reply read, a failure the user
// was told of, a Stop.
struct CTranscriptEntry
{
    enum class Kind : std::uint8_t
    {
        Command,
        Reply,
        Failure,
        Stop,
    };

    Kind kind = Kind::Command;
    // When it happened, in milliseconds since the epoch (local time is asked
    // for only when it is shown: on a long batch it is dear).
    std::int64_t timeMs = 0;
    // A reply: how long it took from the end of the send; below 0 when no
    // send came before it.
    double durationMs = -1;
    // The link's name and the address or resource it went to.
    QString link;
    QString target;
    // A command's line (its line end included) or a reply, as read. A reply
    // larger than the byte bound keeps its size alone (`total`), no bytes.
    CReply data;
    // A failure's or a Stop's text; the summary of a reply whose bytes were
    // not kept.
    QString text;
    // Its number in the transcript since it began: numbers never repeat, so
    // a view can tell which entries went while it was not looking.
    std::uint64_t serial = 0;

    bool BytesKept() const { return text.isEmpty() || kind != Kind::Reply; }
};

// Which entries a view shows.
enum class TranscriptFilter
{
    Everything,
    CommandsAndReplies,
    FailuresOnly,
};
bool Passes(const CTranscriptEntry &entry, TranscriptFilter filter);

// The session's events, oldest first, within a bound on their number and on
// the bytes of the replies they keep: past either the oldest go, and the
// count of those that went is kept to be shown.
class CTranscript
{
public:
    static constexpr qsizetype DEFAULT_MAX_ENTRIES = 100000;
    static constexpr std::int64_t DEFAULT_MAX_BYTES = std::int64_t{64} << 20;

    void SetBounds(qsizetype maxEntries, std::int64_t maxBytes);
    qsizetype MaxEntries() const { return m_maxEntries; }
    std::int64_t MaxBytes() const { return m_maxBytes; }

    // Stamps the entry with the time, when it has none, and its serial.
    void Add(CTranscriptEntry entry);
    void Clear();

    qsizetype Size() const { return static_cast<qsizetype>(m_entries.size()); }
    const CTranscriptEntry &At(qsizetype i) const { return m_entries[static_cast<std::size_t>(i)]; }
    // The serial the next entry gets, and that of the oldest kept.
    std::uint64_t NextSerial() const { return m_nextSerial; }
    std::uint64_t FirstSerial() const { return m_nextSerial - static_cast<std::uint64_t>(m_entries.size()); }
    // The entry with that serial; nullptr when it went or never was.
    const CTranscriptEntry *BySerial(std::uint64_t serial) const;
    // The bytes that the kept replies hold.
    std::int64_t Bytes() const { return m_bytes; }
    // How many went to keep the bounds since the last Clear.
    std::int64_t Dropped() const { return m_dropped; }
    // Counted up by each Clear.
    int Generation() const { return m_generation; }

    // Runs after every change (a view arranges to catch up once).
    void SetChanged(std::function<void()> changed) { m_changed = std::move(changed); }

    // The index of the next entry from `from` (exclusive) on, forward or
    // back and round past the end, that `filter` lets through and whose
    // shown text holds `needle`, case ignored; -1 when none does.
    qsizetype Find(const QString &needle, qsizetype from, bool forward, TranscriptFilter filter) const;

private:
    void DropFront();

    std::deque<CTranscriptEntry> m_entries;
    qsizetype m_maxEntries = DEFAULT_MAX_ENTRIES;
    std::int64_t m_maxBytes = DEFAULT_MAX_BYTES;
    std::int64_t m_bytes = 0;
    std::int64_t m_dropped = 0;
    std::uint64_t m_nextSerial = 0;
    int m_generation = 0;
    std::function<void()> m_changed;
};

// The text an entry shows as, on one line: a command or a reply that is text
// with its control characters escaped (\r, \n, \t, \x00), at most `maxChars`
// of it and an ellipsis; a block or a reply that is not text as its summary
// ("Block of 392,045 bytes (PNG image)"); a failure's or a Stop's text.
QString TranscriptEntryText(const CTranscriptEntry &entry, qsizetype maxChars = 4096);
// "Command", "Reply", "Failure", "Stop".
QString TranscriptKindName(CTranscriptEntry::Kind kind);
// The entry's time as local time to the millisecond: "2026-12-09 13:52:15.123".
QString TranscriptTimeText(std::int64_t timeMs);
