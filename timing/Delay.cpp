// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "timing/Delay.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

float g_loopsPerMicrosecond = 0.0f;
std::uint32_t g_spinLoopsPerMillisecond = 0;
volatile std::int32_t g_spinIndex = 0;
volatile std::int32_t g_spinTotal = 0;

namespace {

std::function<std::uint32_t()> &TickSource()
{
    static std::function<std::uint32_t()> source;
    return source;
}

std::function<void(std::uint64_t)> &CountingObserver()
{
    static std::function<void(std::uint64_t)> observer;
    return observer;
}

// The calibration started beside the start-up, joined at the first use of its
// factor or, at the latest, when the program ends.
struct CalibrationThread
{
    std::thread thread;
    ~CalibrationThread() { Join(); }
    void Join()
    {
        if (thread.joinable())
            thread.join();
    }
};

CalibrationThread &Calibration()
{
    static CalibrationThread calibration;
    return calibration;
}

} // namespace

std::uint32_t TickCount()
{
    if (TickSource())
        return TickSource()();
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetTickSource(std::function<std::uint32_t()> source)
{
    TickSource() = std::move(source);
}

void SetCountingLoopObserver(std::function<void(std::uint64_t)> observer)
{
    CountingObserver() = std::move(observer);
}

void ResetDelayCalibration()
{
    Calibration().Join();
    g_loopsPerMicrosecond = 0.0f;
    g_spinLoopsPerMillisecond = 0;
    g_spinIndex = 0;
    g_spinTotal = 0;
}

std::uint64_t RunCountingLoop(std::uint64_t bound)
{
    if (CountingObserver()) {
        CountingObserver()(bound);
        return bound;
    }
    // The empty asm makes the counter opaque to the optimiser at every
    // iteration, so the loop can be neither dropped nor folded into one
    // addition; unlike a volatile counter it keeps the counter in a register,
    // so an iteration costs about a cycle and calibration stays short.
    std::uint64_t counter = 0;
    while (counter < bound) {
        ++counter;
        asm volatile("" : "+r"(counter));
    }
    return counter;
}

namespace {

// Loops per microsecond of the counting loop, measured once per run.
double MeasureLoopsPerMicrosecond()
{
    double elapsedMs = 0.0;
    if (TickSource()) {
        // A replaced tick source counts whole milliseconds in 32 bits; the
        // unsigned difference still gives the elapsed time across a wrap.
        const std::uint32_t t0 = TickCount();
        RunCountingLoop(DELAY_CALIBRATION_LOOPS);
        elapsedMs = static_cast<double>(static_cast<std::uint32_t>(TickCount() - t0));
    } else {
        // The loop runs on a shared, frequency-scaled core: a calibration that
        // is preempted, or that starts before the core has left its idle
        // clock, counts fewer loops per microsecond than later pauses run,
        // and every pause comes out a third short. The same loops in slices,
        // each timed to the sub-millisecond, and the fastest slice taken,
        // measure the rate that the pauses see.
        using namespace std::chrono;
        constexpr int slices = 8;
        constexpr std::uint64_t perSlice = DELAY_CALIBRATION_LOOPS / slices;
        double fastestMs = 0.0;
        for (int i = 0; i < slices; ++i) {
            const auto t0 = steady_clock::now();
            RunCountingLoop(perSlice);
            const double ms = duration<double, std::milli>(steady_clock::now() - t0).count();
            if (i == 0 || ms < fastestMs)
                fastestMs = ms;
        }
        elapsedMs = fastestMs * slices;
    }
    // A loop that finishes within one tick is taken as 1 ms: with 0 ms there
    // is nothing to divide by, and taking the raw count would make every
    // pause a thousand times too long.
    if (elapsedMs == 0.0)
        elapsedMs = 1.0;
    return static_cast<double>(DELAY_CALIBRATION_LOOPS) / elapsedMs / 1000.0;
}

} // namespace

void StartDelayCalibration()
{
    if (g_loopsPerMicrosecond != 0.0f || Calibration().thread.joinable())
        return;
    Calibration().thread = std::thread([]() {
        // Beside the start-up, not in its way: the window and the display
        // server come first on a machine with few cores. Its fastest slice
        // still sets the factor, and whoever needs the factor waits for it.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
        g_loopsPerMicrosecond = static_cast<float>(MeasureLoopsPerMicrosecond());
    });
}

namespace {

// Whether the pauses run on the real clock, and may be held to it: tests
// that script the tick counter or watch the loop's bounds see the counting
// loops alone.
bool RealClock()
{
    return !TickSource() && !CountingObserver();
}

// Slices of a pause between two looks at the clock: short against the 2 %
// that a pause may be off by, long against the look's own cost.
constexpr double SLICE_US = 2.0;

// Runs `loop` on slices of `perSlice` iterations, without sleeping or
// yielding, until `end`: the clock, not the calibration, decides when a pause
// on the real clock ends, so that a core that runs slower or faster than
// when it was calibrated, or a preemption, does not make it short or long.
template <typename Loop> void SpinUntil(std::chrono::steady_clock::time_point end, Loop loop)
{
    while (std::chrono::steady_clock::now() < end)
        loop();
}

} // namespace

void DelayMicroseconds(std::uint32_t us)
{
    Calibration().Join();
    if (g_loopsPerMicrosecond == 0.0f)
        g_loopsPerMicrosecond = static_cast<float>(MeasureLoopsPerMicrosecond());
    // 64-bit bound: a long delay runs whole instead of wrapping at 2^32.
    const auto bound =
        static_cast<std::uint64_t>(static_cast<double>(us) * static_cast<double>(g_loopsPerMicrosecond));
    if (!RealClock() || bound == 0) {
        RunCountingLoop(bound);
        return;
    }
    // The calibration (or the wait for it) is not part of the pause.
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    const auto slice = std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(SLICE_US * static_cast<double>(g_loopsPerMicrosecond)));
    SpinUntil(end, [slice]() { RunCountingLoop(slice); });
}

void SpinLoops(std::int32_t count)
{
    g_spinTotal = 0;
    if (count <= 0)
        return;
    for (std::int32_t i = 0; i < count; ++i)
        g_spinIndex = i;
    g_spinTotal = count;
}

void CalibrateSpinLoops()
{
    Calibration().Join();
    if (g_spinLoopsPerMillisecond != 0)
        return;
    g_spinLoopsPerMillisecond = static_cast<std::uint32_t>(SPIN_CALIBRATION_LOOPS);
    if (!TickSource()) {
        // As for the delay: the same loops in slices, each timed to the
        // sub-millisecond, and the fastest taken; a whole-millisecond tick
        // over the run was some percent off, and a slice that was preempted
        // or ran before the core left its idle clock counts too few loops.
        using namespace std::chrono;
        constexpr int slices = 8;
        constexpr std::int32_t perSlice = SPIN_CALIBRATION_LOOPS / slices;
        double fastestMs = 0.0;
        for (int i = 0; i < slices; ++i) {
            const auto t0 = steady_clock::now();
            SpinLoops(perSlice);
            const double ms = duration<double, std::milli>(steady_clock::now() - t0).count();
            if (i == 0 || ms < fastestMs)
                fastestMs = ms;
        }
        g_spinTotal = SPIN_CALIBRATION_LOOPS;
        if (fastestMs > 0.0)
            g_spinLoopsPerMillisecond = static_cast<std::uint32_t>(perSlice / fastestMs);
        return;
    }
    const std::uint32_t t0 = TickCount();
    SpinLoops(SPIN_CALIBRATION_LOOPS);
    const std::uint32_t t1 = TickCount();
    const std::uint32_t elapsed = t1 - t0;
    if (elapsed != 0)
        g_spinLoopsPerMillisecond = static_cast<std::uint32_t>(SPIN_CALIBRATION_LOOPS) / elapsed;
}

void SpinPause(std::int32_t pauseMs)
{
    const auto count =
        static_cast<std::int32_t>(g_spinLoopsPerMillisecond * static_cast<std::uint32_t>(pauseMs));
    const auto ms = static_cast<std::uint32_t>(std::max<std::int32_t>(pauseMs, 0));
    if (!RealClock() || count <= 0 || ms == 0) {
        SpinLoops(count);
        return;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    const auto slice = std::max<std::int32_t>(
        1, static_cast<std::int32_t>(SLICE_US * (static_cast<double>(count) / ms) / 1000.0));
    SpinUntil(end, [slice]() { SpinLoops(slice); });
}
