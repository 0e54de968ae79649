// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/UiHooks.h"

#include <QElapsedTimer>

#include <algorithm>
#include <vector>

// The window's pulse as the tests of a wait see it: every pulse recorded, in
// milliseconds from Begin, and Stop pressed from `stopAfterMs` on (never
// when negative), as the window's Stop keeps saying until the command ends.
class CPulseRecorder
{
public:
    explicit CPulseRecorder(qint64 stopAfterMs = -1) : m_stopAfterMs(stopAfterMs)
    {
        hooks.pulse = [this](const CProgress &) {
            const qint64 now = m_clock.elapsed();
            m_at.push_back(now);
            if (m_stopAfterMs < 0 || now < m_stopAfterMs)
                return true;
            if (m_stoppedAt < 0)
                m_stoppedAt = now;
            return false;
        };
        Begin();
    }

    // The command starts now.
    void Begin()
    {
        m_clock.restart();
        m_at.clear();
        m_stoppedAt = -1;
    }
    // The command has returned: how long after the first pulse that said
    // stop (-1: none did).
    qint64 SinceStop() const { return m_stoppedAt < 0 ? -1 : m_clock.elapsed() - m_stoppedAt; }
    // The longest the window went without a pulse, from Begin until now.
    qint64 LargestGap() const
    {
        qint64 gap = 0;
        qint64 last = 0;
        for (const qint64 at : m_at) {
            gap = std::max(gap, at - last);
            last = at;
        }
        return std::max(gap, m_clock.elapsed() - last);
    }
    int Count() const { return static_cast<int>(m_at.size()); }

    CUiHooks hooks;

private:
    QElapsedTimer m_clock;
    std::vector<qint64> m_at;
    qint64 m_stopAfterMs;
    qint64 m_stoppedAt = -1;
};
