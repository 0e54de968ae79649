// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/ReplyFile.h"

#include <QSaveFile>

bool SaveReplyToFile(const CReply &reply, const QString &path, QString &error)
{
    QSaveFile file(path);
    const QByteArrayView payload = reply.PayloadView();
    if (!file.open(QIODevice::WriteOnly) || file.write(payload.data(), payload.size()) != payload.size() ||
        !file.commit()) {
        error = QStringLiteral("Could not save the reply: %1").arg(file.errorString());
        return false;
    }
    return true;
}
