// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/IdentityQuery.h"

#include "common/UiHooks.h"
#include "sessions/SessionTable.h"

#include <algorithm>
#include <memory>

CIdentityQuery::CIdentityQuery(const std::atomic<bool> &cancelled, int limitMs)
    : m_cancelled(cancelled), m_limitMs(limitMs),
      m_deadline(Clock::now() + std::chrono::milliseconds(limitMs))
{
}

bool CIdentityQuery::Over() const
{
    return m_cancelled.load() || Clock::now() >= m_deadline;
}

int CIdentityQuery::RemainingMs() const
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<std::int64_t>(left, 1, m_limitMs));
}

QString CIdentityQuery::Ask(const QString &text, const CLinkOptions &options) const
{
    // The session's waits look at the pulse between slices: that is what
    // holds the deadline while bytes keep coming, each of which would start
    // a session's own time-out again. Sessions that do not pulse everywhere
    // still get no more than what is left for each step.
    CUiHooks hooks;
    hooks.pulse = [this](const CProgress &) { return !Over(); };
    CSessionOptions sessionOptions;
    sessionOptions.maxReplyBytes = MIN_MAX_REPLY_BYTES;
    sessionOptions.kinds = options.kinds;
    sessionOptions.hooks = &hooks;
    const auto cut = [&]() {
        sessionOptions.openTimeoutMs = RemainingMs();
        sessionOptions.ioTimeoutMs = RemainingMs();
    };
    cut();
    QString error;
    std::unique_ptr<CSession> session = SessionFor(text, sessionOptions, options.visaLibrary, error);
    CReply reply;
    bool ok = session && !Over() && session->Open(error);
    if (ok) {
        cut();
        session->SetOptions(sessionOptions);
        ok = !Over() && session->Write("*IDN?\r\n", error);
    }
    if (ok) {
        cut();
        session->SetOptions(sessionOptions);
        ok = !Over() && session->Read(reply, error);
    }
    if (session) {
        cut();
        session->SetOptions(sessionOptions);
        session->Close();
    }
    if (!ok) {
        if (Over() && !Cancelled())
            return QStringLiteral("(no answer within %L1 s)").arg(m_limitMs / 1000.0);
        return QStringLiteral("(no answer: %1)").arg(error);
    }
    QByteArray line = reply.bytes;
    const qsizetype end = line.indexOf('\n');
    if (end >= 0)
        line.truncate(end);
    return QString::fromLatin1(line).trimmed();
}
