// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ReplyFramer.h"

#include <algorithm>
#include <cstring>

CReplyFramer::CReplyFramer(ReplyEnd end, std::int64_t maxBytes) : m_end(end), m_maxBytes(maxBytes) {}

void CReplyFramer::Reset()
{
    m_state = State::Start;
    m_reply = CReply();
    m_digitsWanted = 0;
    m_digitsSeen = 0;
    m_declared = 0;
    m_payloadLeft = 0;
    m_previous = '\0';
    m_beforePrevious = '\0';
    m_roomAt = -1;
}

CReply CReplyFramer::Take()
{
    CReply reply = std::move(m_reply);
    reply.whole = true;
    Reset();
    return reply;
}

std::int64_t CReplyFramer::KnownRemaining() const
{
    return m_state == State::Payload ? m_payloadLeft : 0;
}

std::int64_t CReplyFramer::ExpectedLength() const
{
    if (!m_reply.block || m_reply.indefinite)
        return -1;
    return m_reply.payloadOffset + m_declared;
}

char *CReplyFramer::PayloadRoom(std::size_t wanted)
{
    if (m_state != State::Payload || wanted == 0 || static_cast<std::int64_t>(wanted) > m_payloadLeft ||
        m_reply.cut || m_reply.bytes.size() + static_cast<std::int64_t>(wanted) > m_maxBytes)
        return nullptr;
    m_roomAt = m_reply.bytes.size();
    m_reply.bytes.resize(m_roomAt + static_cast<qsizetype>(wanted));
    return m_reply.bytes.data() + m_roomAt;
}

void CReplyFramer::CommitPayload(std::size_t n)
{
    if (m_roomAt < 0)
        return;
    m_reply.bytes.resize(m_roomAt + static_cast<qsizetype>(n));
    m_roomAt = -1;
    if (n == 0)
        return;
    m_reply.total += static_cast<std::int64_t>(n);
    m_beforePrevious = n >= 2 ? m_reply.bytes[m_reply.bytes.size() - 2] : m_previous;
    m_previous = m_reply.bytes.back();
    m_payloadLeft -= static_cast<std::int64_t>(n);
    if (m_payloadLeft == 0)
        m_state = State::Text;
}

void CReplyFramer::Keep(const char *data, std::size_t size)
{
    if (size == 0)
        return;
    m_reply.total += static_cast<std::int64_t>(size);
    m_beforePrevious = size >= 2 ? data[size - 2] : m_previous;
    m_previous = data[size - 1];
    const std::int64_t room = std::max<std::int64_t>(0, m_maxBytes - m_reply.bytes.size());
    if (static_cast<std::int64_t>(size) > room) {
        m_reply.cut = true;
        size = static_cast<std::size_t>(room);
    }
    if (size > 0)
        m_reply.bytes.append(data, static_cast<qsizetype>(size));
}

bool CReplyFramer::IsTerminatorAt(const char *data, std::size_t from, std::size_t stop) const
{
    const char byte = data[stop - 1];
    switch (m_end) {
    case ReplyEnd::Lf:
        return byte == '\n';
    case ReplyEnd::Cr:
        return byte == '\r';
    case ReplyEnd::CrLf:
        return byte == '\n' && (stop - 1 > from ? data[stop - 2] : m_previous) == '\r';
    case ReplyEnd::Mark:
        break;
    }
    return false;
}

void CReplyFramer::Finish(bool terminated)
{
    m_state = State::Done;
    if (!m_reply.indefinite)
        return;
    // An indefinite block's payload is what came between "#0" and its end:
    // the terminator, or the LF that goes with the end mark, is not part of
    // it, nor is a CR right before that LF (an instrument that ends its
    // lines with CR LF), whatever ends the reply.
    std::int64_t terminator = 0;
    if (terminated)
        terminator = m_end == ReplyEnd::CrLf ? 2 : 1;
    else if (m_previous == '\n')
        terminator = 1;
    if (terminator == 1 && m_previous == '\n' && m_beforePrevious == '\r')
        terminator = 2;
    m_reply.payloadLength = std::max<std::int64_t>(0, m_reply.total - m_reply.payloadOffset - terminator);
}

std::size_t CReplyFramer::Feed(const char *data, std::size_t size, bool endMark)
{
    std::size_t at = 0;
    while (at < size && m_state != State::Done) {
        switch (m_state) {
        case State::Start:
            if (data[at] == '#') {
                Keep(data + at, 1);
                ++at;
                m_state = State::Hash;
            } else {
                m_state = State::Text;
            }
            break;
        case State::Hash: {
            const char c = data[at];
            if (c == '0') {
                Keep(data + at, 1);
                ++at;
                m_reply.block = true;
                m_reply.indefinite = true;
                m_reply.payloadOffset = 2;
                m_state = State::Text;
            } else if (c >= '1' && c <= '9') {
                Keep(data + at, 1);
                ++at;
                m_digitsWanted = c - '0';
                m_state = State::Digits;
            } else {
                m_state = State::Text; // "#" and something else: plain text
            }
            break;
        }
        case State::Digits: {
            const char c = data[at];
            if (c < '0' || c > '9') {
                m_state = State::Text; // a broken header is plain text
                break;
            }
            Keep(data + at, 1);
            ++at;
            m_declared = m_declared * 10 + (c - '0');
            if (++m_digitsSeen == m_digitsWanted) {
                m_reply.block = true;
                m_reply.payloadOffset = 2 + m_digitsWanted;
                m_reply.payloadLength = m_declared;
                m_payloadLeft = m_declared;
                // One allocation for the whole block, as far as it is kept.
                m_reply.bytes.reserve(static_cast<qsizetype>(
                    std::min<std::int64_t>(m_maxBytes, m_reply.payloadOffset + m_declared + 2)));
                m_state = m_declared > 0 ? State::Payload : State::Text;
            }
            break;
        }
        case State::Payload: {
            const auto take = static_cast<std::size_t>(std::min<std::int64_t>(m_payloadLeft, size - at));
            Keep(data + at, take);
            at += take;
            m_payloadLeft -= static_cast<std::int64_t>(take);
            if (m_payloadLeft == 0)
                m_state = State::Text;
            break;
        }
        case State::Text: {
            std::size_t stop = size;
            if (m_end == ReplyEnd::Lf || m_end == ReplyEnd::Cr) {
                const char wanted = m_end == ReplyEnd::Lf ? '\n' : '\r';
                const auto *hit = static_cast<const char *>(std::memchr(data + at, wanted, size - at));
                if (hit)
                    stop = static_cast<std::size_t>(hit - data) + 1;
            } else if (m_end == ReplyEnd::CrLf) {
                for (std::size_t i = at; i < size; ++i) {
                    const char before = i > at ? data[i - 1] : m_previous;
                    if (data[i] == '\n' && before == '\r') {
                        stop = i + 1;
                        break;
                    }
                }
            }
            const bool terminated = stop < size || (stop > at && IsTerminatorAt(data, at, stop));
            Keep(data + at, stop - at);
            at = stop;
            if (terminated)
                Finish(true);
            break;
        }
        case State::Done:
            break;
        }
    }
    if (endMark && at == size && m_state != State::Done)
        Finish(false);
    return at;
}
