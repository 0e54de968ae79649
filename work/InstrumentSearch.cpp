// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/InstrumentSearch.h"

#include "sessions/SessionTable.h"
#include "sessions/visa/VisaFinder.h"
#include "work/IdentityQuery.h"

#include <QCoreApplication>
#include <QSet>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// How often the count beyond the list is told while it grows.
constexpr auto OVERFLOW_REPORT_EVERY = std::chrono::milliseconds(100);
// At the program's end the threads of a cancelled search get this long to
// leave Qt alone before it goes; whatever still runs then is abandoned.
constexpr auto EXIT_GRACE = std::chrono::milliseconds(2000);

// Every search thread of the process.
class CLiveThreads
{
public:
    void Enter()
    {
        std::lock_guard lock(m_lock);
        ++m_count;
    }
    void Leave()
    {
        std::lock_guard lock(m_lock);
        if (--m_count == 0)
            m_none.notify_all();
    }
    void WaitAll(Clock::duration limit)
    {
        std::unique_lock lock(m_lock);
        m_none.wait_for(lock, limit, [this] { return m_count == 0; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_none;
    int m_count = 0;
};

// Never destroyed: a thread may still leave after the program's end began.
CLiveThreads &Live()
{
    static CLiveThreads *live = new CLiveThreads;
    return *live;
}

void LetThreadsEnd()
{
    Live().WaitAll(EXIT_GRACE);
}

void DetachedThread(std::function<void()> work)
{
    std::thread(std::move(work)).detach();
}

} // namespace

// What the search and its threads share; `lock` guards everything below it,
// and every callback is made with it held, so that Cancel() returning means
// that none is under way and none will come.
struct CSearchState
{
    CLinkOptions options;
    bool askSerialPorts = false;
    CSearchParts parts;
    std::atomic<bool> cancelled{false};

    std::mutex lock;
    std::condition_variable idle;
    std::function<void(const CFoundResource &)> found;
    std::function<void(const QString &, const QString &)> identified;
    std::function<void(std::int64_t)> overflowed;
    std::function<void(const QString &)> failed;
    std::function<void()> finished;
    // Threads not yet ended, and those of them that ask identities.
    int running = 0;
    int querying = 0;
    std::deque<QString> queue;
    QSet<QString> listed;
    std::int64_t more = 0;
    std::int64_t moreTold = 0;
    Clock::time_point moreToldAt;
    QSet<QString> failures;
};

namespace {

using State = std::shared_ptr<CSearchState>;

void FailLocked(CSearchState &state, const QString &line)
{
    if (state.cancelled || state.failures.contains(line))
        return;
    state.failures.insert(line);
    if (state.failed)
        state.failed(line);
}

void TellMoreLocked(CSearchState &state, bool now)
{
    if (state.cancelled || state.more == state.moreTold)
        return;
    if (!now && Clock::now() - state.moreToldAt < OVERFLOW_REPORT_EVERY)
        return;
    state.moreTold = state.more;
    state.moreToldAt = Clock::now();
    if (state.overflowed)
        state.overflowed(state.more);
}

void FinishLocked(CSearchState &state)
{
    if (--state.running > 0)
        return;
    if (!state.cancelled) {
        TellMoreLocked(state, true);
        if (state.finished)
            state.finished();
    }
    state.idle.notify_all();
}

// Starts `work` on a thread of its own; false, with the system's reason in
// `why`, when there is none to be had.
bool LaunchLocked(const State &state, std::function<void()> work, QString &why)
{
    ++state->running;
    Live().Enter();
    try {
        const auto &start = state->parts.startThread ? state->parts.startThread : DetachedThread;
        start([shared = State(state), work = std::move(work)]() mutable {
            work();
            work = nullptr;
            {
                std::lock_guard lock(shared->lock);
                FinishLocked(*shared);
            }
            shared.reset();
            Live().Leave();
        });
        return true;
    } catch (const std::system_error &error) {
        --state->running;
        Live().Leave();
        why = QString::fromStdString(error.code().message());
        return false;
    }
}

// A query thread: takes the queue's resources one after another until it is
// empty.
void AskQueued(const State &state)
{
    for (;;) {
        QString resource;
        {
            std::lock_guard lock(state->lock);
            if (state->cancelled || state->queue.empty()) {
                --state->querying;
                return;
            }
            resource = state->queue.front();
            state->queue.pop_front();
        }
        const CIdentityQuery query(state->cancelled, CInstrumentSearch::IDENTITY_TIMEOUT_MS);
        const QString identity = state->parts.askIdentity
                                     ? state->parts.askIdentity(resource, state->options, query)
                                     : query.Ask(resource, state->options);
        std::lock_guard lock(state->lock);
        if (!state->cancelled && state->identified)
            state->identified(resource, identity);
    }
}

void OnFound(const State &state, const CFoundResource &resource)
{
    std::lock_guard lock(state->lock);
    if (state->cancelled || state->listed.contains(resource.resource))
        return;
    if (state->listed.size() >= CInstrumentSearch::MAX_LISTED) {
        ++state->more;
        TellMoreLocked(*state, false);
        return;
    }
    state->listed.insert(resource.resource);
    if (state->found)
        state->found(resource);
    if (!resource.mayAskIdentity && !state->askSerialPorts)
        return;
    state->queue.push_back(resource.resource);
    if (state->querying >= CInstrumentSearch::MAX_QUERIES)
        return;
    ++state->querying;
    QString why;
    if (LaunchLocked(
            state, [state]() { AskQueued(state); }, why))
        return;
    --state->querying;
    const QString line = QStringLiteral("Could not start a thread to ask the instruments found: %1").arg(why);
    FailLocked(*state, line);
    // With no query thread at all, nothing would ever take the queue.
    if (state->querying > 0)
        return;
    for (const QString &waiting : std::exchange(state->queue, {}))
        if (state->identified)
            state->identified(waiting, QStringLiteral("(not asked: %1)").arg(why));
}

} // namespace

CInstrumentSearch::CInstrumentSearch(CSearchParts parts) : m_parts(std::move(parts)) {}

CInstrumentSearch::~CInstrumentSearch()
{
    Cancel();
}

std::vector<std::unique_ptr<CFinder>> CInstrumentSearch::Finders(const CLinkOptions &options)
{
    std::vector<std::unique_ptr<CFinder>> finders;
    if (!options.visaLibrary.isEmpty()) {
        finders.push_back(std::make_unique<CVisaFinder>(options.visaLibrary));
        return finders;
    }
    for (const CSessionRow &row : SessionTable())
        if (row.makeFinder)
            finders.push_back(row.makeFinder());
    return finders;
}

void CInstrumentSearch::Start(const CLinkOptions &options, bool askSerialPorts, CSearchEvents events)
{
    Cancel();
    // Qt must outlive the last threads of a search: the program's end gives
    // them a moment, on Qt's own way out.
    static std::once_flag exitHook;
    if (QCoreApplication::instance())
        std::call_once(exitHook, []() { qAddPostRoutine(LetThreadsEnd); });

    auto state = std::make_shared<CSearchState>();
    state->options = options;
    state->askSerialPorts = askSerialPorts;
    state->parts = m_parts;
    state->found = std::move(events.found);
    state->identified = std::move(events.identified);
    state->overflowed = std::move(events.overflowed);
    state->failed = std::move(events.failed);
    state->finished = std::move(events.finished);
    m_state = state;

    std::vector<std::unique_ptr<CFinder>> finders =
        m_parts.finders ? m_parts.finders(options) : Finders(options);
    std::lock_guard lock(state->lock);
    // One count for the starting itself, so that the search cannot be seen
    // to have finished before every finder is on its way.
    ++state->running;
    for (std::unique_ptr<CFinder> &owned : finders) {
        std::shared_ptr<CFinder> finder(std::move(owned));
        QString why;
        if (!LaunchLocked(
                state,
                [state, finder]() {
                    finder->Find([&state](const CFoundResource &resource) { OnFound(state, resource); },
                                 state->cancelled);
                },
                why))
            FailLocked(*state,
                       QStringLiteral("Could not start a thread to search %1: %2").arg(finder->Name(), why));
    }
    FinishLocked(*state);
}

void CInstrumentSearch::Cancel()
{
    if (!m_state)
        return;
    std::lock_guard lock(m_state->lock);
    m_state->cancelled = true;
    m_state->queue.clear();
}

bool CInstrumentSearch::WaitIdle(int timeoutMs) const
{
    if (!m_state)
        return true;
    std::unique_lock lock(m_state->lock);
    return m_state->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return m_state->running == 0; });
}
