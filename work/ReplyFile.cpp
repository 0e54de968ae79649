// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/ReplyFile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// As the kernel: a longer chain of links is a loop.
constexpr int MAX_LINKS = 40;

} // namespace

QString ResolveSaveTarget(const QString &path)
{
    QString at = QFileInfo(path).absoluteFilePath();
    for (int i = 0; i < MAX_LINKS; ++i) {
        const QFileInfo info(at);
        if (!info.isSymLink())
            return at;
        const QString next = info.symLinkTarget();
        if (next.isEmpty())
            return at;
        at = QFileInfo(info.absoluteDir(), next).absoluteFilePath();
    }
    return at;
}

QString CutSaveQuestion(const CReply &reply)
{
    if (!reply.cut)
        return QString();
    // The counts of what the file holds: a block's payload, or the reply.
    const qint64 kept = reply.PayloadView().size();
    const qint64 full = reply.block ? reply.payloadLength : reply.total;
    return QStringLiteral("The reply was cut at %1 of %2 bytes: the file will hold the first %1.")
        .arg(CountText(kept), CountText(full));
}

bool SaveReplyToFile(const CReply &reply, const QString &path, QString &error)
{
    // The bytes go to a file of their own beside the target, which takes the
    // target's name once they are all written: a save that fails leaves the
    // target as it was, and nothing else behind. The disk is not waited for
    // (as no program's plain save waits for it): the rename is what keeps a
    // half file from ever bearing the name. A link is not replaced but
    // followed: the file it names is the one the user means, and the new
    // file must be made in that file's folder for the rename to reach it.
    const QString real = ResolveSaveTarget(path);
    const QFileInfo target(real);
    QTemporaryFile file(target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(target.fileName())));
    const QByteArrayView payload = reply.PayloadView();
    // The flush is the write of the last bytes: a disk that is full then
    // must fail the save too.
    if (!file.open() || file.write(payload.data(), payload.size()) != payload.size() || !file.flush()) {
        error = QStringLiteral("Could not save the reply: %1").arg(file.errorString());
        return false;
    }
    const QByteArray from = QFile::encodeName(file.fileName());
    const QByteArray to = QFile::encodeName(real);
    const auto failed = [&error] {
        error =
            QStringLiteral("Could not save the reply: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false; // the temporary file goes with `file`
    };
    struct stat old
    {
    };
    const bool replaces = ::stat(to.constData(), &old) == 0 && !S_ISDIR(old.st_mode);
    mode_t mode = 0;
    if (replaces) {
        // What the file it replaces was: its owner and group where the user
        // may give them (root, or a group of the user's), and its mode,
        // after them, since a change of owner clears the set-id bits.
        if (::fchown(file.handle(), old.st_uid, old.st_gid) != 0 &&
            ::fchown(file.handle(), static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM)
            return failed();
        mode = old.st_mode & 07777;
    } else {
        // A new file as any other program would make it, not the temporary
        // file's private one.
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    // The file it replaces steps aside first and goes last: a rename over it
    // would make the file system write the new one out to disk on the spot,
    // which costs a save of a long reply half again its time, and removing
    // it first would lose it if the new one could not take its place.
    const QByteArray aside = from + ".old";
    if (::fchmod(file.handle(), mode) != 0 ||
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
