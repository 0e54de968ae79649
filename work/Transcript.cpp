// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/Transcript.h"

#include "work/ResponseText.h"

#include <QDateTime>

#include <utility>

bool Passes(const CTranscriptEntry &entry, TranscriptFilter filter)
{
    switch (filter) {
    case TranscriptFilter::Everything:
        return true;
    case TranscriptFilter::CommandsAndReplies:
        return entry.kind == CTranscriptEntry::Kind::Command || entry.kind == CTranscriptEntry::Kind::Reply;
    case TranscriptFilter::FailuresOnly:
        return entry.kind == CTranscriptEntry::Kind::Failure;
    }
    return true;
}

void CTranscript::SetBounds(qsizetype maxEntries, std::int64_t maxBytes)
{
    m_maxEntries = std::max<qsizetype>(1, maxEntries);
    m_maxBytes = std::max<std::int64_t>(0, maxBytes);
    DropFront();
    if (m_changed)
        m_changed();
}

void CTranscript::Add(CTranscriptEntry entry)
{
    if (entry.timeMs == 0)
        entry.timeMs = QDateTime::currentMSecsSinceEpoch();
    entry.serial = m_nextSerial++;
    if (entry.kind == CTranscriptEntry::Kind::Reply && entry.data.bytes.size() > m_maxBytes) {
        // Too large to keep beside anything else: what it was and its size.
        const CReply &reply = entry.data;
        entry.text = reply.block
                         ? QStringLiteral("Block of %L1 bytes (%2)")
                               .arg(reply.payloadLength)
                               .arg(PayloadKind(reply.PayloadView()))
                         : QStringLiteral("Reply of %L1 bytes (%2)")
                               .arg(reply.total)
                               .arg(IsText(reply.bytes) ? QStringLiteral("text") : PayloadKind(reply.bytes));
        entry.data.bytes = QByteArray();
    }
    m_bytes += entry.data.bytes.size();
    m_entries.push_back(std::move(entry));
    DropFront();
    if (m_changed)
        m_changed();
}

void CTranscript::DropFront()
{
    while (!m_entries.empty() &&
           (static_cast<qsizetype>(m_entries.size()) > m_maxEntries || m_bytes > m_maxBytes)) {
        m_bytes -= m_entries.front().data.bytes.size();
        m_entries.pop_front();
        ++m_dropped;
    }
}

void CTranscript::Clear()
{
    m_entries.clear();
    m_bytes = 0;
    m_dropped = 0;
    ++m_generation;
    if (m_changed)
        m_changed();
}

const CTranscriptEntry *CTranscript::BySerial(std::uint64_t serial) const
{
    if (serial < FirstSerial() || serial >= m_nextSerial)
        return nullptr;
    return &m_entries[static_cast<std::size_t>(serial - FirstSerial())];
}

qsizetype CTranscript::Find(const QString &needle, qsizetype from, bool forward,
                            TranscriptFilter filter) const
{
    const qsizetype n = Size();
    if (n == 0 || needle.isEmpty())
        return -1;
    qsizetype i = from;
    for (qsizetype step = 0; step < n; ++step) {
        if (forward)
            i = i < 0 || i >= n - 1 ? 0 : i + 1;
        else
            i = i <= 0 || i >= n ? n - 1 : i - 1;
        const CTranscriptEntry &entry = At(i);
        if (Passes(entry, filter) && TranscriptEntryText(entry).contains(needle, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

namespace {

// Escaped as the byte view escapes it, on one line.
QString OneLine(const QByteArray &bytes, qsizetype maxChars)
{
    const bool longer = bytes.size() > maxChars;
    QString text = ResponseDisplayText(longer ? bytes.left(maxChars) : bytes, true);
    // The view of control characters breaks the line after each \n.
    text.remove(u'\n');
    if (longer)
        text += QChar(0x2026);
    return text;
}

} // namespace

QString TranscriptEntryText(const CTranscriptEntry &entry, qsizetype maxChars)
{
    switch (entry.kind) {
    case CTranscriptEntry::Kind::Command:
        return OneLine(entry.data.bytes, maxChars);
    case CTranscriptEntry::Kind::Reply: {
        if (!entry.BytesKept())
            return entry.text;
        const CReply &reply = entry.data;
        if (!reply.whole) {
            // One of the link's own protocols: its text ends at the first NUL.
            const qsizetype nul = reply.bytes.indexOf('\0');
            return OneLine(nul < 0 ? reply.bytes : reply.bytes.left(nul), maxChars);
        }
        if (reply.block || reply.total > MAX_SHOWN_REPLY_BYTES || !IsText(reply.bytes))
            return ReplyDisplayText(reply);
        return OneLine(reply.bytes, maxChars);
    }
    case CTranscriptEntry::Kind::Failure:
    case CTranscriptEntry::Kind::Stop:
        return entry.text;
    }
    return QString();
}

QString TranscriptKindName(CTranscriptEntry::Kind kind)
{
    switch (kind) {
    case CTranscriptEntry::Kind::Command:
        return QStringLiteral("Command");
    case CTranscriptEntry::Kind::Reply:
        return QStringLiteral("Reply");
    case CTranscriptEntry::Kind::Failure:
        return QStringLiteral("Failure");
    case CTranscriptEntry::Kind::Stop:
        return QStringLiteral("Stop");
    }
    return QString();
}

QString TranscriptTimeText(std::int64_t timeMs)
{
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}
