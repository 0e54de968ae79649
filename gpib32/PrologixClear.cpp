// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Serial polls and device clears, and what stands between a reply still
// coming and the next command: it is read to its end and thrown away, or the
// device is silenced.
#include "gpib32/PrologixBackend.h"

#include <algorithm>
#include <cstdlib>

namespace gpib32 {

bool CPrologixBackend::Drain(int quietMs, int limitMs, GpibResult &result, bool *quiet)
{
    char buffer[4096];
    const auto limit = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        const long n = m_link.ReadSome(buffer, sizeof buffer, quietMs);
        if (n < 0) {
            result = LinkFailure(static_cast<int>(-n));
            return false;
        }
        if (quiet)
            *quiet = n == 0;
        if (n == 0 || Clock::now() > limit)
            return true;
    }
}

int CPrologixBackend::DrainLimitMs() const
{
    // The adapter may take its own time-out after the last byte to give up;
    // a device that talks for longer than the call may wait talks on.
    const int ms = TimeoutMs();
    return std::max(ms == 0 ? MAX_ADAPTER_TIMEOUT_MS : ms, m_adapterTimeout + ADAPTER_GRACE_MS);
}

bool CPrologixBackend::Silence(Addr4882_t address, GpibResult &result)
{
    // Anything the host sends ends the adapter's read: the clear goes out at
    // once, and what was under way when it came is dropped.
    m_in = Incoming();
    if (!SetAddress(address, result) || !Command("++clr", result))
        return false;
    bool quiet = false;
    if (!Drain(ADAPTER_GRACE_MS, DrainLimitMs(), result, &quiet))
        return false;
    if (quiet)
        return true;
    // An adapter that reads on whatever it is told is let go, and met afresh.
    m_link.Close();
    m_ready = false;
    return Ready(result);
}

bool CPrologixBackend::EndIncoming(GpibResult &result)
{
    // The adapter stops at the instrument's EOI (and marks it) or after its
    // own time-out; what it sends until then is thrown away. A device that
    // talks on for longer than the call may wait is cleared to silence it.
    const auto limit = Clock::now() + std::chrono::milliseconds(DrainLimitMs());
    while (m_in.active && !m_in.ended) {
        if (Clock::now() >= limit)
            return Silence(m_in.address, result);
        m_in.taken = m_in.bytes.size();
        if (!Step(Clock::time_point::min(), result))
            return false;
    }
    m_in = Incoming();
    return true;
}

GpibResult CPrologixBackend::PollLocked(Addr4882_t address, short *status)
{
    if (!ValidAddress(address))
        return Refused(EARG);
    GpibResult result;
    std::string line;
    if (!Ready(result) || !EndIncoming(result) || !UseTimeout(result) ||
        !Query("++spoll " + AddressText(address), line, result))
        return result;
    char *end = nullptr;
    const long value = std::strtol(line.c_str(), &end, 10);
    if (line.empty() || *end != '\0' || value < 0 || value > 255) {
        // Nobody answered the poll within the adapter's time-out.
        GpibResult none = Refused(EABO);
        none.status |= TIMO;
        return none;
    }
    if (status)
        *status = static_cast<short>(value);
    return Done(1);
}

GpibResult CPrologixBackend::ClearLocked(Addr4882_t address)
{
    // The universal clear (DCL) has no adapter command.
    if (address == NO_ADDR)
        return Refused(ECAP);
    if (!ValidAddress(address))
        return Refused(EARG);
    GpibResult result;
    if (!Ready(result))
        return result;
    // The device's own reply is not waited for: the clear drops it.
    if (m_in.active && !m_in.ended && m_in.address == address)
        return Silence(address, result) ? Done() : result;
    if (!EndIncoming(result) || !SetAddress(address, result) || !Command("++clr", result))
        return result;
    return Done();
}

} // namespace gpib32
