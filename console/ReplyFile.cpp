// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/ReplyFile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool SaveReplyToFile(const CReply &reply, const QString &path, QString &error)
{
    // The bytes go to a file of their own beside the target, which takes the
    // target's name once they are all written: a save that fails leaves the
    // target as it was, and nothing else behind. The disk
    // is not waited for (as no program's plain save waits for it): the
    // rename is what keeps a half file from ever bearing the name.
    const QFileInfo target(path);
    QTemporaryFile file(target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(target.fileName())));
    const QByteArrayView payload = reply.PayloadView();
    if (!file.open() || file.write(payload.data(), payload.size()) != payload.size() || !file.flush()) {
        error = QStringLiteral("Could not save the reply: %1").arg(file.errorString());
        return false;
    }
    // A new file as any other program would make it, not the temporary
    // file's private one.
    const mode_t mask = umask(0);
    umask(mask);
    const QByteArray from = QFile::encodeName(file.fileName());
    const QByteArray to = QFile::encodeName(path);
    // The file it replaces steps aside first and goes last: a rename over it
    // would make the file system write the new one out to disk on the spot,
    // which costs a save of a long reply half again its time, and removing
    // it first would lose it if the new one could not take its place.
    const QByteArray aside = from + ".old";
    const bool replaces = target.exists() && !target.isDir();
    const auto failed = [&error] {
        error =
            QStringLiteral("Could not save the reply: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false; // the temporary file goes with `file`
    };
    if (fchmod(file.handle(), 0666 & ~mask) != 0 ||
        (replaces && std::rename(to.constData(), aside.constData()) != 0))
        return failed();
    if (std::rename(from.constData(), to.constData()) != 0) {
        const int code = errno;
        if (replaces)
            std::rename(aside.constData(), to.constData());
        errno = code;
        return failed();
    }
    file.setAutoRemove(false);
    if (replaces)
        ::unlink(aside.constData());
    return true;
}
