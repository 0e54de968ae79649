// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/gpib/GpibCaller.h"

#include <QLibrary>

#include <map>

// One loaded copy of the library, shared by its users and by the calls that
// still run; unloaded when the last of them lets go.
class CGpibCaller::CLibrary
{
public:
    explicit CLibrary(const QString &name) : m_library(name) {}
    ~CLibrary()
    {
        if (m_library.isLoaded())
            m_library.unload();
    }
    CLibrary(const CLibrary &) = delete;
    CLibrary &operator=(const CLibrary &) = delete;

    QLibrary m_library;
};

CGpibCaller::CGpibCaller() = default;

CGpibCaller::~CGpibCaller() = default;

std::mutex &CGpibCaller::LibraryLock()
{
    static std::mutex lock;
    return lock;
}

bool CGpibCaller::Load(const QString &name, QString &error)
{
    if (m_library)
        return true;
    // The copies loaded now, by the name they were asked for.
    static std::mutex loadedLock;
    static std::map<QString, std::weak_ptr<CLibrary>> loaded;
    std::lock_guard lock(loadedLock);
    std::shared_ptr<CLibrary> library = loaded[name].lock();
    if (!library) {
        library = std::make_shared<CLibrary>(name);
        if (!library->m_library.load()) {
            error = library->m_library.errorString();
            return false;
        }
        loaded[name] = library;
    }
    m_library = std::move(library);
    return true;
}

void CGpibCaller::Unload()
{
    m_library.reset();
    SetSources(nullptr, nullptr, nullptr, nullptr);
}

void *CGpibCaller::Resolve(const char *symbol) const
{
    // An exported variable comes back through the same lookup as a
    // function; only its address is wanted.
    return m_library ? reinterpret_cast<void *>(m_library->m_library.resolve(symbol)) : nullptr;
}

QString CGpibCaller::LibraryFile() const
{
    return m_library ? m_library->m_library.fileName() : QString();
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
    const std::function<void()> run = [=, library = m_library]() {
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
    const std::function<void()> run = [call, library = m_library]() {
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
