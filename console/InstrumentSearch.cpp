// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/InstrumentSearch.h"

#include "sessions/SessionTable.h"
#include "sessions/VisaFinder.h"

CInstrumentSearch::~CInstrumentSearch()
{
    Cancel();
    Wait();
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

QString CInstrumentSearch::AskIdentity(const QString &text, const CLinkOptions &options, int timeoutMs)
{
    CSessionOptions sessionOptions;
    sessionOptions.openTimeoutMs = timeoutMs;
    sessionOptions.ioTimeoutMs = timeoutMs;
    sessionOptions.maxReplyBytes = MIN_MAX_REPLY_BYTES;
    sessionOptions.serial = options.serial.InRange();
    QString error;
    std::unique_ptr<CSession> session = SessionFor(text, sessionOptions, options.visaLibrary, error);
    CReply reply;
    if (!session || !session->Open(error) || !session->Write("*IDN?\r\n", error) ||
        !session->Read(reply, error)) {
        if (session)
            session->Close();
        return QStringLiteral("(no answer: %1)").arg(error);
    }
    session->Close();
    QByteArray line = reply.bytes;
    const qsizetype end = line.indexOf('\n');
    if (end >= 0)
        line.truncate(end);
    return QString::fromLatin1(line).trimmed();
}

void CInstrumentSearch::Run(std::function<void()> work)
{
    ++m_running;
    std::lock_guard lock(m_lock);
    m_threads.emplace_back([this, work = std::move(work)]() {
        work();
        Done();
    });
}

void CInstrumentSearch::Done()
{
    if (--m_running == 0 && finished)
        finished();
}

void CInstrumentSearch::Start(const CLinkOptions &options, bool askSerialPorts)
{
    m_options = options;
    m_askSerialPorts = askSerialPorts;
    m_cancelled = false;
    // One count for the starting itself, so that the search cannot be seen
    // to have finished before every finder is on its way.
    ++m_running;
    for (std::unique_ptr<CFinder> &owned : Finders(options)) {
        std::shared_ptr<CFinder> finder(std::move(owned));
        Run([this, finder]() {
            finder->Find(
                [this](const CFoundResource &resource) {
                    if (m_cancelled)
                        return;
                    if (found)
                        found(resource);
                    if (!resource.mayAskIdentity && !m_askSerialPorts)
                        return;
                    Run([this, text = resource.resource]() {
                        if (m_cancelled)
                            return;
                        const QString identity = AskIdentity(text, m_options, IDENTITY_TIMEOUT_MS);
                        if (!m_cancelled && identified)
                            identified(text, identity);
                    });
                },
                m_cancelled);
        });
    }
    Done();
}

void CInstrumentSearch::Wait()
{
    // Threads may start threads: take them until none is left.
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(m_lock);
            threads.swap(m_threads);
        }
        if (threads.empty())
            return;
        for (std::thread &thread : threads)
            thread.join();
    }
}
