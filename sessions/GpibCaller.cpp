// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/GpibCaller.h"

#include <memory>

std::mutex &CGpibCaller::LibraryLock()
{
    static std::mutex lock;
    return lock;
}

void CGpibCaller::SetSources(int *ibsta, int *iberr, int *ibcnt, long *ibcntl)
{
    m_ibsta = ibsta;
    m_iberr = iberr;
    m_ibcnt = ibcnt;
    m_ibcntl = ibcntl;
}

bool CGpibCaller::Run(const CUiHooks *hooks, const std::function<void()> &call,
                      const std::function<CProgress()> &progress,
                      const std::function<void(const CStatus &)> &after)
{
    const auto left = std::make_shared<CStatus>();
    int *const ibsta = m_ibsta;
    int *const iberr = m_iberr;
    int *const ibcnt = m_ibcnt;
    long *const ibcntl = m_ibcntl;
    // Read where the call ran, before another call can overwrite it.
    const std::function<void()> run = [=]() {
        std::lock_guard lock(LibraryLock());
        call();
        left->status = ibsta ? *ibsta : 0;
        left->error = iberr ? *iberr : 0;
        left->count = ibcnt ? *ibcnt : 0;
        left->longCount = ibcntl ? *ibcntl : left->count;
        if (after)
            after(*left);
    };
    CallEnd end = RunCall(m_thread, hooks, run, progress);
    if (end == CallEnd::NotStarted) {
        // No thread to be had: the call waits here rather than not at all.
        run();
        end = CallEnd::Done;
    }
    if (end != CallEnd::Done)
        return false;
    m_last = *left;
    return true;
}

void CGpibCaller::Queue(const std::function<void()> &call)
{
    const std::function<void()> run = [call]() {
        std::lock_guard lock(LibraryLock());
        call();
    };
    if (!m_thread.Queue(run))
        run();
}

bool CGpibCaller::Settle(const CUiHooks *hooks)
{
    return WaitForCall(m_thread, hooks, CProgress{CProgress::Kind::Reply, 0, -1});
}
