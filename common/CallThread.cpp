// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/CallThread.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

struct CCallThread::State
{
    std::mutex lock;
    std::condition_variable changed;
    // The call handed over first, then those queued after it.
    std::deque<std::function<void()>> calls;
    bool busy = false;
    // Calls handed over that have not ended: the one running among them.
    int unfinished = 0;
    bool quit = false;
    bool running = false; // the thread exists
};

CCallThread::CCallThread() : m_state(std::make_shared<State>()) {}

CCallThread::~CCallThread()
{
    std::unique_lock lock(m_state->lock);
    m_state->quit = true;
    m_state->changed.notify_all();
    // The thread holds the state too: it ends by itself, after the call
    // that runs now, if one does.
}

bool CCallThread::Idle() const
{
    std::lock_guard lock(m_state->lock);
    return !m_state->busy;
}

bool CCallThread::Spawn(const std::shared_ptr<State> &state, QString *error)
{
    if (state->running)
        return true;
    try {
        std::thread([state]() { Serve(state); }).detach();
    } catch (const std::system_error &failure) {
        if (error)
            *error = QStringLiteral("the system gives no thread for the call (%1)")
                         .arg(QString::fromLocal8Bit(failure.what()));
        return false;
    }
    state->running = true;
    return true;
}

bool CCallThread::Start(std::function<void()> call, QString *error)
{
    return HandOver(std::move(call), 0, QStringLiteral("an earlier call is still running"), error);
}

bool CCallThread::Queue(std::function<void()> call, QString *error)
{
    return HandOver(std::move(call), -1, QString(), error);
}

bool CCallThread::After(std::function<void()> call, QString *error)
{
    return HandOver(std::move(call), 1, QStringLiteral("another call already waits for the one running"),
                    error);
}

bool CCallThread::HandOver(std::function<void()> call, int most, const QString &tooMany, QString *error)
{
    std::lock_guard lock(m_state->lock);
    if (most >= 0 && m_state->unfinished > most) {
        if (error)
            *error = tooMany;
        return false;
    }
    if (!Spawn(m_state, error))
        return false;
    m_state->calls.push_back(std::move(call));
    ++m_state->unfinished;
    m_state->busy = true;
    m_state->changed.notify_all();
    return true;
}

bool CCallThread::Wait(std::chrono::milliseconds slice)
{
    std::unique_lock lock(m_state->lock);
    return m_state->changed.wait_for(lock, slice, [this]() { return !m_state->busy; });
}

void CCallThread::Serve(const std::shared_ptr<State> &state)
{
    std::unique_lock lock(state->lock);
    for (;;) {
        state->changed.wait(lock, [&]() { return state->quit || state->busy; });
        if (!state->busy)
            return; // quit, and nothing left to run
        while (!state->calls.empty()) {
            std::function<void()> call = std::move(state->calls.front());
            state->calls.pop_front();
            lock.unlock();
            call();
            // What the call captured goes before the wait says it ended.
            call = nullptr;
            lock.lock();
            --state->unfinished;
        }
        state->busy = false;
        state->changed.notify_all();
    }
}

CallEnd RunCall(CCallThread &thread, const CUiHooks *hooks, std::function<void()> call,
                const std::function<CProgress()> &progress, const std::function<void()> &onStop,
                std::chrono::milliseconds grace, QString *error)
{
    if (!hooks || !hooks->Pulses()) {
        // A call stopped earlier still runs: this one waits for it, as the
        // library cannot take two.
        while (!thread.Wait(std::chrono::milliseconds(1000))) {
        }
        call();
        return CallEnd::Done;
    }
    if (!WaitForCall(thread, hooks, progress ? progress() : CProgress{CProgress::Kind::Wait}))
        return CallEnd::Stopped;
    if (!thread.Start(std::move(call), error))
        return CallEnd::NotStarted;
    while (!thread.Wait(CALL_PULSE_EVERY)) {
        if (hooks->Pulse(progress ? progress() : CProgress{CProgress::Kind::Wait}))
            continue;
        if (onStop)
            onStop();
        if (grace.count() > 0)
            thread.Wait(grace);
        return CallEnd::Stopped;
    }
    return CallEnd::Done;
}

std::function<CProgress()> WaitProgress(std::int64_t totalMs)
{
    const auto start = std::chrono::steady_clock::now();
    return [start, totalMs]() {
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return CProgress{CProgress::Kind::Wait, waited.count(), totalMs};
    };
}

bool WaitForCall(CCallThread &thread, const CUiHooks *hooks, const CProgress &progress)
{
    while (!thread.Wait(CALL_PULSE_EVERY))
        if (hooks && hooks->Pulses() && !hooks->Pulse(progress))
            return false;
    return true;
}

bool FinishCall(CCallThread &thread, const CUiHooks *hooks, std::chrono::milliseconds bound,
                const CProgress &progress)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + bound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (thread.Wait(std::clamp(left, std::chrono::milliseconds{0}, CALL_PULSE_EVERY)))
            return true;
        if (Clock::now() >= until)
            return false;
        // The answer is false once the user has stopped; the window still
        // gets its turn.
        if (hooks && hooks->Pulses())
            hooks->Pulse(progress);
    }
}
