// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/Link.h"

#include "common/UiHooks.h"

#include <QByteArray>

#include <cstring>

CLink::~CLink() = default;

void CLink::ReportFailure(const QString &text) const
{
    m_failure = text;
    Inform(text);
}

CResult CLink::Fail(const QString &text) const
{
    ReportFailure(text);
    return CResult::Failure(text).Told();
}

void CLink::Inform(const QString &text) const
{
    if (m_context.hooks)
        m_context.hooks->Message(text);
}

CResult CLink::Outcome() const
{
    return m_failure ? CResult::Failure(*m_failure).Told() : CResult();
}

CResult CLink::Outcome(bool worked) const
{
    if (worked)
        return CResult();
    return CResult::Failure(m_failure.value_or(QString())).Told();
}

void CLink::ReportIfCut(const CReply &reply) const
{
    if (reply.cut)
        Inform(CutReplyText(reply));
}

const CUiHooks &CLink::Hooks() const
{
    static const CUiHooks none;
    return m_context.hooks ? *m_context.hooks : none;
}

void CLink::ReadIntoReply(CReply &reply, const std::function<void(LogBuffer)> &read)
{
    char buffer[RESPONSE_BUFFER_SIZE + 1];
    buffer[0] = '\0';
    buffer[RESPONSE_BUFFER_SIZE] = '\0';
    read(LogBuffer(buffer, RESPONSE_BUFFER_SIZE + 1));
    reply.Reset();
    const auto n = static_cast<qsizetype>(std::strlen(buffer));
    reply.bytes.resize(n);
    std::memcpy(reply.bytes.data(), buffer, static_cast<std::size_t>(n));
    reply.total = n;
}
