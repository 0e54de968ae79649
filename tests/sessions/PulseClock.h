// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/UiHooks.h"

#include <algorithm>
#include <chrono>
#include <vector>

// Hooks that pulse and note when: how long the window went without its
// turn while a call blocked.
struct CPulseClock
{
    using Clock = std::chrono::steady_clock;
    CUiHooks hooks;
    std::vector<Clock::time_point> at;

    CPulseClock()
    {
        hooks.pulse = [this](const CProgress &) {
            at.push_back(Clock::now());
            return true;
        };
    }
    void Start() { at = {Clock::now()}; }
    // The longest time between the start, each pulse and now.
    std::chrono::milliseconds LongestGap() const
    {
        std::vector<Clock::time_point> all = at;
        all.push_back(Clock::now());
        Clock::duration longest{};
        for (std::size_t i = 1; i < all.size(); ++i)
            longest = std::max(longest, all[i] - all[i - 1]);
        return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
    }
};
