// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/CallThread.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>

// The NI-488.2 library gpib-32 as one user has it (a GPIB session, the GPIB
// finder, the Remote GPIB link): the one place that loads it, and the calls
// the user makes of it. The library's status word, error and counts are the
// process's (or its thread's): every call, and the reading of what it left,
// holds the one lock of the process, on the thread that made the call.
//
// Every user that loads a library by the same name shares the one loaded
// copy; it is unloaded when the last user lets go of it and none of its
// calls still runs.
//
// A call cannot be cut short: while the window watches the work, each runs
// on a thread of the user's own and the window waits for it in slices,
// alive; Stop gives the window back at once, the call runs on, and the next
// one waits for it.
class CGpibCaller
{
public:
    // What a call left, read right after it.
    struct CStatus
    {
        int status = 0;
        int error = 0;
        int count = 0;
        // The long count where the library has one, else the count.
        long longCount = 0;
    };

    CGpibCaller();
    ~CGpibCaller();
    CGpibCaller(const CGpibCaller &) = delete;
    CGpibCaller &operator=(const CGpibCaller &) = delete;

    // Held around every call of the library and the reading of its status,
    // by every user of the library in the process.
    static std::mutex &LibraryLock();

    // Loads the library `name` as the loader is asked for it ("gpib-32", or
    // a full path in tests), or shares the copy another user loaded; false
    // with the loader's reason in `error`. Once loaded, it stays loaded for
    // this user until Unload().
    bool Load(const QString &name, QString &error);
    bool Loaded() const { return m_library != nullptr; }
    // Lets go of the library; it goes once no other user has it and no call
    // of this one still runs.
    void Unload();
    // An entry point or variable of the library; null when it lacks it (or
    // none is loaded).
    void *Resolve(const char *symbol) const;
    // The file the library was loaded from.
    QString LibraryFile() const;

    // Where the library publishes what a call left; any may be null (read
    // as 0).
    void SetSources(int *ibsta, int *iberr, int *ibcnt, long *ibcntl);

    // Runs `call` with the lock held, off the window's thread while `hooks`
    // pulse with `progress` (on this thread when nothing pulses), keeps what
    // it left in Last(), then runs `after` with it, the lock still held.
    // false when the user stopped the wait: the call runs on, and keeps the
    // library loaded until it ends.
    bool Run(const CUiHooks *hooks, const std::function<void()> &call,
             const std::function<CProgress()> &progress,
             const std::function<void(const CStatus &)> &after = {});
    // Runs `call` with the lock held once what runs now has ended, waiting
    // for none of it: a device cleared after a stopped transfer, a
    // descriptor given back.
    void Queue(const std::function<void()> &call);
    // Waits, the window alive, for what still runs; false when that wait is
    // stopped too.
    bool Settle(const CUiHooks *hooks);
    // True while nothing runs.
    bool Idle() const { return m_thread.Idle(); }

    const CStatus &Last() const { return m_last; }

private:
    class CLibrary;

    CCallThread m_thread;
    std::shared_ptr<CLibrary> m_library;
    CStatus m_last;
    int *m_ibsta = nullptr;
    int *m_iberr = nullptr;
    int *m_ibcnt = nullptr;
    long *m_ibcntl = nullptr;
};
