// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkOptions.h"
#include "sessions/Finder.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The search behind Find: every finder on a thread of its own, and for each
// instrument found its "*IDN?" asked on a thread of its own with a short
// time-out, so that the list fills in as answers come. Through the machine's
// VISA library when the settings name one, else Tallix's own finders. The
// callbacks come from those threads; the caller hands them to its own.
class CInstrumentSearch
{
public:
    CInstrumentSearch() = default;
    ~CInstrumentSearch();
    CInstrumentSearch(const CInstrumentSearch &) = delete;
    CInstrumentSearch &operator=(const CInstrumentSearch &) = delete;

    // Each instrument as it is found.
    std::function<void(const CFoundResource &)> found;
    // Its identity: the first line of its "*IDN?" reply, or why there is
    // none ("(no answer)").
    std::function<void(const QString &resource, const QString &identity)> identified;
    // Every finder and every query has ended (or been stopped).
    std::function<void()> finished;

    // `askSerialPorts`: serial ports are asked too (a query can upset a
    // device that speaks no SCPI).
    void Start(const CLinkOptions &options, bool askSerialPorts);
    // Asks everything to stop soon; Wait() then returns quickly.
    void Cancel() { m_cancelled = true; }
    void Wait();

    // The finders the settings call for.
    static std::vector<std::unique_ptr<CFinder>> Finders(const CLinkOptions &options);
    // One "*IDN?" over the resource's session, with `timeoutMs` to open and
    // to answer.
    static QString AskIdentity(const QString &resource, const CLinkOptions &options, int timeoutMs);

    static constexpr int IDENTITY_TIMEOUT_MS = 1500;

private:
    void Run(std::function<void()> work);
    void Done();

    CLinkOptions m_options;
    bool m_askSerialPorts = false;
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_running{0};
    std::mutex m_lock;
    std::vector<std::thread> m_threads;
};
