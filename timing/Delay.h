// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>

// Busy-wait pauses, each calibrated once per run against the millisecond tick
// counter. Neither sleeps nor yields.

extern float g_loopsPerMicrosecond;             // 0.0: not yet calibrated
extern std::uint32_t g_spinLoopsPerMillisecond; // 0: not yet calibrated
extern volatile std::int32_t g_spinIndex;
extern volatile std::int32_t g_spinTotal;

constexpr std::uint32_t DELAY_CALIBRATION_LOOPS = 40000000u;
constexpr std::int32_t SPIN_CALIBRATION_LOOPS = 50000000;

// Pauses for `us` microseconds: the calibrated counting loop, run on the real
// clock in slices between which the clock is read, so that the pause ends
// when the time has passed, however fast the core runs now.
void DelayMicroseconds(std::uint32_t us);
void SpinLoops(std::int32_t count);
void CalibrateSpinLoops();
// The GPIB read pause: SpinLoops of what the calibration says makes `ms`
// milliseconds; on the real clock the same loop in slices, until the clock
// says `ms` have passed.
void SpinPause(std::int32_t ms);

// Runs the calibration of DelayMicroseconds on a thread of its own, beside the
// start-up of the window. The first delay waits for it to end, and so does the
// spin calibration, so that the two never measure at the same time. Only the
// user-interface thread calls these.
void StartDelayCalibration();

// The counting loop shared by the calibration and the delay; returns the
// number of iterations it ran (64-bit, so long delays do not wrap).
std::uint64_t RunCountingLoop(std::uint64_t bound);

// Milliseconds of a monotonic clock, as an unsigned 32-bit count that wraps.
std::uint32_t TickCount();
// Replaces the tick source (tests); an empty function restores the default.
void SetTickSource(std::function<std::uint32_t()> source);
// Forgets both calibrations, so that the next calls measure again (tests).
void ResetDelayCalibration();
// The counting loop's bound for the delay of a run (tests): a hook that, when
// set, sees every bound instead of the loop running it.
void SetCountingLoopObserver(std::function<void(std::uint64_t)> observer);
