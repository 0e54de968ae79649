// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkOptions.h"
#include "sessions/Finder.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CIdentityQuery;
struct CSearchState;

// What a search is made of; each left empty is the real one. Tests put fakes
// in their place.
struct CSearchParts
{
    // The finders to run (empty: CInstrumentSearch::Finders).
    std::function<std::vector<std::unique_ptr<CFinder>>(const CLinkOptions &)> finders;
    // One identity query (empty: CIdentityQuery::Ask).
    std::function<QString(const QString &resource, const CLinkOptions &, const CIdentityQuery &)> askIdentity;
    // Runs `work` on a new thread that nobody joins (empty: a detached
    // std::thread); throws std::system_error where the system refuses one.
    std::function<void(std::function<void()> work)> startThread;
};

// The search behind Find: every finder on a thread of its own, and for each
// instrument found its "*IDN?", at most MAX_QUERIES at a time from a queue,
// each within IDENTITY_TIMEOUT_MS, so that the list fills in as answers come.
// Through the machine's VISA library when the settings name one, else
// Tallix's own finders.
//
// The threads share what they need with the search by reference count and
// are never joined: Cancel() returns at once, and from then on no callback
// comes; a cancelled search's threads end on their own, their results
// dropped. The callbacks come from the search's threads, one at a time, and
// must not call back into the search.
// What a run of the search tells, from its threads (see below); each may be
// left empty.
struct CSearchEvents
{
    // Each instrument as it is found, the first MAX_LISTED of them.
    std::function<void(const CFoundResource &)> found = nullptr;
    // Its identity: the first line of its "*IDN?" reply, or why there is
    // none ("(no answer...)").
    std::function<void(const QString &resource, const QString &identity)> identified = nullptr;
    // How many answered beyond the first MAX_LISTED, now and then as the
    // count grows, and once more before `finished`.
    std::function<void(std::int64_t more)> overflowed = nullptr;
    // Something the search could not do, as a line for the user (a thread
    // the system refused).
    std::function<void(const QString &line)> failed = nullptr;
    // Every finder and every query has ended.
    std::function<void()> finished = nullptr;
};

class CInstrumentSearch
{
public:
    explicit CInstrumentSearch(CSearchParts parts = {});
    ~CInstrumentSearch();
    CInstrumentSearch(const CInstrumentSearch &) = delete;
    CInstrumentSearch &operator=(const CInstrumentSearch &) = delete;

    // `askSerialPorts`: serial ports are asked too (a query can upset a
    // device that speaks no SCPI). `events` tells what this run finds.
    void Start(const CLinkOptions &options, bool askSerialPorts, CSearchEvents events = {});
    // Stops the callbacks at once and asks every thread to end soon.
    void Cancel();
    // Tests and benches: whether every thread of the search ended within
    // `timeoutMs`. The window never waits.
    bool WaitIdle(int timeoutMs) const;

    // The finders the settings call for.
    static std::vector<std::unique_ptr<CFinder>> Finders(const CLinkOptions &options);

    static constexpr int IDENTITY_TIMEOUT_MS = 1500;
    static constexpr int MAX_QUERIES = 16;
    static constexpr int MAX_LISTED = 256;

private:
    std::shared_ptr<CSearchState> m_state;
    CSearchParts m_parts;
};
