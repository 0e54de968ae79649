// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/Link.h"

#include "common/UiHooks.h"

#include <QByteArray>

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

void CLink::ReadIntoText(QByteArray &text, const std::function<void(LogBuffer)> &read)
{
    const qsizetype keep = text.size();
    text.resize(RESPONSE_BUFFER_SIZE + 1);
    if (keep < RESPONSE_BUFFER_SIZE + 1)
        text[keep] = '\0';
    text[RESPONSE_BUFFER_SIZE] = '\0';
    read(LogBuffer(text.data(), RESPONSE_BUFFER_SIZE + 1));
    text.truncate(text.indexOf('\0'));
}
