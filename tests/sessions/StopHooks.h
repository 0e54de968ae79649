// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/UiHooks.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

// The window's pulse as a session meets it: each pulse is recorded, and from
// the moment a command is to be stopped every pulse says stop, as the
// window's do until the command ends.
class CStopHooks
{
public:
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::milliseconds;

    struct CWatch
    {
        // The time from the first pulse that said stop to the command's end;
        // empty when none did.
        std::optional<Ms> sinceStop;
        // The longest the command went without a pulse, its start and end
        // included.
        Ms largestGap{0};
        QString Text() const
        {
            return QStringLiteral("stopped %1 ms before the end, largest gap between pulses %2 ms")
                .arg(sinceStop ? QString::number(sinceStop->count()) : QStringLiteral("never"))
                .arg(largestGap.count());
        }
    };

    CStopHooks()
    {
        hooks.pulse = [this](const CProgress &) {
            const Clock::time_point now = Clock::now();
            m_pulses.push_back(now);
            if (now < m_stopAt)
                return true;
            if (!m_stopped)
                m_stopped = now;
            return false;
        };
    }

    // A command starts; its pulses say stop once `stopAfter` has passed
    // (never when it is negative).
    void Begin(Ms stopAfter = Ms{-1})
    {
        m_start = Clock::now();
        m_stopAt = stopAfter.count() < 0 ? Clock::time_point::max() : m_start + stopAfter;
        m_stopped.reset();
        m_pulses.clear();
    }

    CWatch End() const
    {
        const Clock::time_point end = Clock::now();
        CWatch watch;
        if (m_stopped)
            watch.sinceStop = std::chrono::duration_cast<Ms>(end - *m_stopped);
        Clock::time_point last = m_start;
        for (const Clock::time_point at : m_pulses) {
            watch.largestGap = std::max(watch.largestGap, std::chrono::duration_cast<Ms>(at - last));
            last = at;
        }
        watch.largestGap = std::max(watch.largestGap, std::chrono::duration_cast<Ms>(end - last));
        return watch;
    }

    CUiHooks hooks;

private:
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_stopAt = Clock::time_point::max();
    std::optional<Clock::time_point> m_stopped;
    std::vector<Clock::time_point> m_pulses;
};
