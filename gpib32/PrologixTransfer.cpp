// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Data to a device and its reply back: the reply as the adapter streams it,
// its end told by the mark the adapter adds after EOI.
#include "gpib32/PrologixBackend.h"

#include <algorithm>
#include <cstring>

namespace gpib32 {

namespace {

std::string Escaped(const char *data, std::size_t size)
{
    std::string out;
    out.reserve(size + size / 8 + 1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\r' || c == '\n' || c == 27 || c == '+')
            out += static_cast<char>(27);
        out += c;
    }
    return out;
}

} // namespace

GpibResult CPrologixBackend::SendLocked(Addr4882_t address, const void *buffer, long count, int eotMode)
{
    if (count < 0 || (count > 0 && !buffer) || !ValidAddress(address) ||
        (eotMode != NULL_END && eotMode != NL_END && eotMode != DAB_END))
        return Refused(EARG);
    GpibResult result;
    if (!Ready(result) || !EndIncoming(result) || !SetAddress(address, result))
        return result;
    const int eoi = eotMode == NULL_END ? 0 : 1;
    if (eoi != m_adapterEoi) {
        if (!Command("++eoi " + std::to_string(eoi), result))
            return result;
        m_adapterEoi = eoi;
    }
    std::string data(static_cast<const char *>(buffer), static_cast<std::size_t>(count));
    if (eotMode == NL_END)
        data += '\n';
    if (data.empty())
        return Done();
    if (!Command(Escaped(data.data(), data.size()), result))
        return result;
    return Done(static_cast<long>(data.size()));
}

GpibResult CPrologixBackend::ReceiveLocked(Addr4882_t address, void *buffer, long count, int termination)
{
    if (count < 0 || (count > 0 && !buffer) || !ValidAddress(address))
        return Refused(EARG);
    GpibResult result;
    if (!Ready(result))
        return result;
    if (m_in.active && m_in.address != address && !EndIncoming(result))
        return result;
    const int timeoutMs = TimeoutMs();
    const auto deadline =
        timeoutMs == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto ask = [&]() {
        if (!UseTimeout(result) || !SetAddress(address, result) || !Command("++read eoi", result))
            return false;
        m_in.lastByte = Clock::now();
        return true;
    };
    if (!m_in.active) {
        m_in = Incoming();
        m_in.active = true;
        m_in.address = address;
        if (!ask())
            return result;
    }
    const bool stopOnEos = termination != STOP_END;
    const char eos = static_cast<char>(termination & 0xFF);
    const auto want = static_cast<std::size_t>(count);
    for (;;) {
        const std::size_t held = m_in.bytes.size() - m_in.taken;
        // Until the adapter has stopped, its last byte may be the EOT it
        // adds after EOI.
        std::size_t ready = m_in.ended ? held : (held > 0 ? held - 1 : 0);
        std::size_t n = std::min(ready, want);
        bool eosSeen = false;
        if (stopOnEos) {
            const char *from = m_in.bytes.data() + m_in.taken;
            if (const void *hit = std::memchr(from, eos, n)) {
                n = static_cast<std::size_t>(static_cast<const char *>(hit) - from) + 1;
                eosSeen = true;
            }
        }
        // A full buffer whose next byte may only be the end mark waits to
        // learn whether its last byte came with END.
        const bool markNext = !m_in.ended && n == want && held == want + 1 && MarkLast();
        if (eosSeen || m_in.ended || (n == want && !markNext)) {
            if (n > 0)
                std::memcpy(buffer, m_in.bytes.data() + m_in.taken, n);
            m_in.taken += n;
            const bool all = m_in.ended && m_in.taken == m_in.bytes.size();
            const bool timedOut = all && !m_in.eoi;
            int extra = (eosSeen || (all && m_in.eoi)) ? END : 0;
            if (all)
                m_in = Incoming();
            if (timedOut) {
                GpibResult late = Refused(EABO);
                late.status |= TIMO;
                late.count = static_cast<int>(n);
                late.longCount = static_cast<long>(n);
                return late;
            }
            return Done(static_cast<long>(n), extra);
        }
        // More is needed: wait for it, for the end mark to stand, or for the
        // adapter to give up (and ask again while the call's time-out lasts).
        if (!Step(deadline, result))
            return result;
    }
}

bool CPrologixBackend::MarkLast() const
{
    if (m_in.bytes.size() <= m_in.taken || m_in.bytes.back() != EOT_MARK)
        return false;
    // Inside a definite block's payload an EOT is data.
    const std::size_t last = m_in.dropped + m_in.bytes.size() - 1;
    return m_in.blockEnd < 0 || static_cast<long long>(last) >= m_in.blockEnd;
}

void CPrologixBackend::Take(const char *data, std::size_t size)
{
    // What the caller has taken goes only once the header is known: it is
    // read from the reply's first bytes.
    if (m_in.headerKnown && m_in.taken > 0 && m_in.taken >= m_in.bytes.size() / 2) {
        m_in.bytes.erase(0, m_in.taken);
        m_in.dropped += m_in.taken;
        m_in.taken = 0;
    }
    m_in.bytes.append(data, size);
    m_in.lastByte = Clock::now();
    if (m_in.headerKnown || m_in.bytes.size() < 2)
        return;
    // #<d><d digits of length>: the block's length is known once its header
    // has come.
    const std::string &b = m_in.bytes;
    if (b[0] != '#' || b[1] < '1' || b[1] > '9') {
        m_in.headerKnown = true;
        return;
    }
    const std::size_t digits = static_cast<std::size_t>(b[1] - '0');
    if (b.size() < 2 + digits)
        return;
    long long length = 0;
    for (std::size_t i = 2; i < 2 + digits; ++i) {
        if (b[i] < '0' || b[i] > '9') {
            m_in.headerKnown = true;
            return;
        }
        length = length * 10 + (b[i] - '0');
    }
    m_in.blockEnd = static_cast<long long>(2 + digits) + length;
    m_in.headerKnown = true;
}

bool CPrologixBackend::Step(Clock::time_point deadline, GpibResult &result)
{
    const bool markLast = MarkLast();
    const auto quietUntil =
        m_in.lastByte +
        std::chrono::milliseconds(markLast ? MARK_QUIET_MS : m_adapterTimeout + ADAPTER_GRACE_MS);
    const auto now = Clock::now();
    if (now >= quietUntil) {
        if (markLast) {
            m_in.bytes.pop_back();
            m_in.ended = true;
            m_in.eoi = true;
        } else if (now < deadline) {
            // The adapter's own time-out is shorter than the call's.
            if (!UseTimeout(result) || !SetAddress(m_in.address, result) || !Command("++read eoi", result))
                return false;
            m_in.lastByte = Clock::now();
        } else {
            m_in.ended = true;
            m_in.eoi = false;
        }
        return true;
    }
    char piece[4096];
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(quietUntil - now).count() + 1;
    const long got = m_link.ReadSome(piece, sizeof piece, static_cast<int>(wait));
    if (got < 0) {
        result = LinkFailure(static_cast<int>(-got));
        return false;
    }
    if (got > 0)
        Take(piece, static_cast<std::size_t>(got));
    return true;
}

} // namespace gpib32
