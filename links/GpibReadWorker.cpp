// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/GpibReadWorker.h"

CGpibReadWorker::CGpibReadWorker() : m_thread([this]() { Run(); }) {}

CGpibReadWorker::~CGpibReadWorker()
{
    {
        std::unique_lock lock(m_lock);
        // A transfer still running ends first: it writes into what it was
        // given, and the library goes after the thread.
        m_changed.wait(lock, [this]() { return !m_busy; });
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void CGpibReadWorker::Start(std::function<void()> work)
{
    {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [this]() { return !m_busy; });
        m_work = std::move(work);
        m_busy = true;
    }
    m_changed.notify_all();
}

bool CGpibReadWorker::Wait(std::chrono::milliseconds slice)
{
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, slice, [this]() { return !m_busy; });
}

void CGpibReadWorker::Run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this]() { return m_quit || m_busy; });
        if (m_quit)
            return;
        std::function<void()> work = std::move(m_work);
        lock.unlock();
        work();
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}
