// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/UiHooks.h"

#include <chrono>
#include <functional>
#include <utility>

// Keeps the window alive during long work: a command that has run for half
// a second shows a progress indication with Stop, and from then on, between
// slices of its waits (the pulses of CUiHooks), the window's events are
// processed, so that it repaints, moves and hears Stop. A command that ends
// sooner costs a look at the clock per pulse and nothing else.
class CWorkMonitor
{
public:
    using Clock = std::chrono::steady_clock;

    // How long work runs before the indication shows, and how often its
    // events are processed from then on.
    static constexpr std::chrono::milliseconds SHOW_AFTER{500};
    static constexpr std::chrono::milliseconds EVENTS_EVERY{40};

    // The window's side: show or update the indication, take it down, and
    // process the events that have come.
    struct CWindowSide
    {
        std::function<void(const CProgress &)> show = nullptr;
        std::function<void()> hide = nullptr;
        std::function<void()> processEvents = nullptr;
    };

    CWorkMonitor() = default;
    explicit CWorkMonitor(CWindowSide window);

    // The clock (tests put one of their own in).
    void SetClock(std::function<Clock::time_point()> now) { m_now = std::move(now); }

    // A command starts and ends; commands that run inside one (Send's read)
    // are part of it.
    void Begin();
    void End();
    bool Busy() const { return m_depth > 0; }
    bool Shown() const { return m_shown; }

    // From the work, between slices: false once the user has stopped it.
    bool Pulse(const CProgress &progress);
    // Stop, Escape, or closing the window during work.
    void Stop();

    // A batch stopped while a line's reply comes lets that reply end for
    // this long, so that the line keeps its whole record and the batch ends
    // before its next line; a reply that takes longer is stopped after it.
    static constexpr std::chrono::milliseconds LINE_GRACE{400};

private:
    bool InLineGrace(const CProgress &progress) const;

    CWindowSide m_window;
    std::function<Clock::time_point()> m_now = [] { return Clock::now(); };

    int m_depth = 0;
    bool m_shown = false;
    bool m_stopped = false;
    // A batch shows its lines, not the replies and waits of each line: the
    // indication would change its kind every few milliseconds.
    bool m_batch = false;
    CProgress m_batchProgress;
    Clock::time_point m_start;
    Clock::time_point m_lastEvents;
    Clock::time_point m_stoppedAt;
};
