// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// One thread on which the GPIB link runs a transfer that the window must not
// wait for without a break: the library's Receive blocks for as long as the
// device takes, up to the board's time-out, and cannot be cut short. The
// window's thread hands a transfer over and waits for it in slices, staying
// alive between them; when the user stops, it goes on without it, and the
// next call of the library waits for the transfer to end first.
class CGpibReadWorker
{
public:
    CGpibReadWorker();
    ~CGpibReadWorker();
    CGpibReadWorker(const CGpibReadWorker &) = delete;
    CGpibReadWorker &operator=(const CGpibReadWorker &) = delete;

    // Hands `work` to the thread; only one at a time.
    void Start(std::function<void()> work);
    // Waits up to `slice` for the work handed over to end; true when it has
    // (or when there is none).
    bool Wait(std::chrono::milliseconds slice);

private:
    void Run();

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::function<void()> m_work;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_thread;
};
