// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/UiHooks.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// A thread of its own for calls that block where the caller cannot cut them
// short: a library's GPIB transfer, an RPC call, a VISA library's read. The
// window's thread hands a call over and waits for it in slices, staying
// alive between them; when the user stops, it goes on without the call.
//
// A call may therefore end long after its caller gave up on it: whatever it
// touches must be its own (held by a shared_ptr it captured) or live for
// the rest of the run. The thread is never joined while a call runs on it:
// dropping a CCallThread with a call still running leaves the thread to end
// it by itself.
class CCallThread
{
public:
    CCallThread();
    ~CCallThread();
    CCallThread(const CCallThread &) = delete;
    CCallThread &operator=(const CCallThread &) = delete;

    // True while no call runs.
    bool Idle() const;
    // Hands `call` over. One at a time: false, with nothing started, while
    // an earlier call runs, or when the system gives no thread (`error` then
    // says why).
    bool Start(std::function<void()> call, QString *error = nullptr);
    // Hands `call` over to run after whatever runs or waits to run there
    // now, without waiting for any of it: for what must follow a call that
    // nobody waits for any more (a device cleared once a stopped transfer
    // has ended, a descriptor given back when its session goes). false, with
    // nothing queued, when the system gives no thread.
    bool Queue(std::function<void()> call, QString *error = nullptr);
    // As Queue, for the wrap-up of a call the user stopped (an abort, a
    // clear) that must not run beside it, and only one at a time: false when
    // one already waits behind the call that runs.
    bool After(std::function<void()> call, QString *error = nullptr);
    // Waits up to `slice` for the call, and what was queued after it, to
    // end; true once they have, or when none runs.
    bool Wait(std::chrono::milliseconds slice);

private:
    struct State;
    static void Serve(const std::shared_ptr<State> &state);
    // Makes the thread when there is none yet; called with the state locked.
    // Hands `call` over when no more than `most` calls are unfinished (-1:
    // however many); `tooMany` says why not.
    bool HandOver(std::function<void()> call, int most, const QString &tooMany, QString *error);
    static bool Spawn(const std::shared_ptr<State> &state, QString *error);

    std::shared_ptr<State> m_state;
};

// How a call waited for with the window alive ended.
enum class CallEnd
{
    Done,
    // The user stopped the wait; the call may still run.
    Stopped,
    // No thread could run it (`error` says why); it did not run.
    NotStarted,
};

// The longest the window goes without a pulse while a call runs.
constexpr std::chrono::milliseconds CALL_PULSE_EVERY{20};

// Runs `call` on `thread` and waits for it, pulsing `hooks` with
// `progress()` at least every CALL_PULSE_EVERY. Without a pulse to give
// (no hooks, or hooks that do not pulse) the call runs on the caller's
// thread. When the user stops, `onStop` runs (to cut the call short where
// that can be done: a socket shut down, an abort sent) and the wait goes on
// for at most `grace` for the call to end; Stopped either way, and
// thread.Idle() tells whether it has.
CallEnd RunCall(CCallThread &thread, const CUiHooks *hooks, std::function<void()> call,
                const std::function<CProgress()> &progress = {}, const std::function<void()> &onStop = {},
                std::chrono::milliseconds grace = std::chrono::milliseconds{0}, QString *error = nullptr);

// The progress of a wait of `totalMs` that starts now: the milliseconds
// waited so far, each time it is asked.
std::function<CProgress()> WaitProgress(std::int64_t totalMs);

// Waits, pulsing, for a call that was stopped earlier to end; false when the
// user stops this wait too (the call still runs).
bool WaitForCall(CCallThread &thread, const CUiHooks *hooks, const CProgress &progress = {});

// Waits at most `bound` for the call to end, pulsing as RunCall does but
// heedless of Stop: for the short wrap-up of work that the user has stopped
// already, which must end the command within the second that Stop allows.
// True once the call has ended.
bool FinishCall(CCallThread &thread, const CUiHooks *hooks, std::chrono::milliseconds bound,
                const CProgress &progress = {});
