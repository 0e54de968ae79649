// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/Link.h"

#include "common/UiHooks.h"

#include <QByteArray>

#include <cstring>

CLinkError::CLinkError(const QString &text) : std::runtime_error(text.toStdString()) {}

QString CLinkError::Text() const
{
    return QString::fromStdString(what());
}

CLink::~CLink() = default;

void CLink::ReportFailure(const QString &text) const
{
    if (m_context.hooks)
        m_context.hooks->Message(text);
}

void CLink::ReportIfCut(const CReply &reply) const
{
    if (reply.cut)
        ReportFailure(CutReplyText(reply));
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
