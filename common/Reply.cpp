// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Reply.h"

#include <QLocale>

#include <algorithm>

void CReply::Reset()
{
    bytes.resize(0);
    total = 0;
    cut = false;
    block = false;
    indefinite = false;
    payloadOffset = 0;
    payloadLength = 0;
    whole = false;
}

QByteArrayView CReply::PayloadView() const
{
    if (!block)
        return QByteArrayView(bytes);
    const qsizetype kept = std::max<qsizetype>(0, bytes.size() - payloadOffset);
    const auto length = static_cast<qsizetype>(std::min<std::int64_t>(payloadLength, kept));
    return QByteArrayView(bytes).sliced(std::min(payloadOffset, bytes.size()), length);
}

QByteArray CReply::Payload() const
{
    return block ? PayloadView().toByteArray() : bytes;
}

QString CountText(std::int64_t n)
{
    QLocale c(QLocale::C);
    c.setNumberOptions(QLocale::DefaultNumberOptions);
    return c.toString(static_cast<qlonglong>(n));
}

QString PartialReplyText(std::int64_t came)
{
    return QStringLiteral("the reply stopped after %L1 bytes, before its end; the connection to the "
                          "instrument was reset so that the rest of it is not taken for the next reply")
        .arg(came);
}

QString StoppedReplyText(std::int64_t came)
{
    return QStringLiteral("stopped after %L1 bytes of the reply; the connection to the instrument was "
                          "reset so that the rest of it is not taken for the next reply")
        .arg(came);
}

QString ClosedReplyText(std::int64_t came)
{
    if (came == 0)
        return QStringLiteral("the instrument closed the connection before it replied");
    return QStringLiteral("the instrument closed the connection after %L1 bytes of its reply, before its end")
        .arg(came);
}

QString CutReplyText(const CReply &reply)
{
    if (!reply.cut)
        return QString();
    return QStringLiteral(
               "The reply was cut: it had %L1 bytes, and only its first %L2 are kept (the limit is "
               "\"Replies\"/\"MaxBytes\" in the settings).")
        .arg(reply.total)
        .arg(reply.bytes.size());
}
