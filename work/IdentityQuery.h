// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkOptions.h"

#include <QString>

#include <atomic>
#include <chrono>

// One "*IDN?" of Find: open, write and read within one deadline of its own,
// which bytes arriving do not extend, and given up at once when the search is
// cancelled. An instrument that trickles its reply a byte at a time cannot
// keep it.
class CIdentityQuery
{
public:
    using Clock = std::chrono::steady_clock;

    CIdentityQuery(const std::atomic<bool> &cancelled, int limitMs);

    // Whether the query has to end now: the search was cancelled or the
    // deadline passed.
    bool Over() const;
    bool Cancelled() const { return m_cancelled.load(); }
    // What is left of the deadline, at least 1 ms so that no session takes 0
    // for "no time-out".
    int RemainingMs() const;
    int LimitMs() const { return m_limitMs; }

    // The first line of the resource's "*IDN?" reply, or why there is none:
    // "(no answer: <reason>)", "(no answer within <limit> s)".
    QString Ask(const QString &resource, const CLinkOptions &options) const;

private:
    const std::atomic<bool> &m_cancelled;
    int m_limitMs;
    Clock::time_point m_deadline;
};
