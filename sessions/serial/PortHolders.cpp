// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/serial/PortHolders.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Unix 98 pseudo-terminal slaves (/dev/pts/N) have these majors, the
// multiplexer /dev/ptmx that hands out their masters is 5:2.
constexpr unsigned PTS_FIRST_MAJOR = 136;
constexpr unsigned PTS_LAST_MAJOR = 143;
const dev_t PTMX = makedev(5, 2);

// The slave a master descriptor belongs to, from its "tty-index:" line.
int TtyIndexOf(const QString &fdinfo)
{
    QFile file(fdinfo);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("tty-index:")) {
            bool ok = false;
            const int index = line.mid(10).trimmed().toInt(&ok);
            return ok ? index : -1;
        }
    return -1;
}

} // namespace

QString CPortHolder::Text() const
{
    return name.isEmpty() ? QStringLiteral("process %1").arg(pid)
                          : QStringLiteral("%1, process %2").arg(name).arg(pid);
}

QString ProcessName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}

QList<CPortHolder> PortHolders(const QString &device)
{
    struct stat wanted
    {
    };
    if (::stat(QFile::encodeName(device).constData(), &wanted) != 0 || !S_ISCHR(wanted.st_mode))
        return {};
    const unsigned major = ::major(wanted.st_rdev);
    const bool pts = major >= PTS_FIRST_MAJOR && major <= PTS_LAST_MAJOR;
    const int ptsIndex =
        pts ? static_cast<int>((major - PTS_FIRST_MAJOR) * 256 + ::minor(wanted.st_rdev)) : -1;

    QList<CPortHolder> holders;
    const qint64 self = ::getpid();
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : processes) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == self)
            continue;
        const QString folder = QStringLiteral("/proc/%1/").arg(pid);
        bool opened = false;
        bool master = false;
        const QStringList fds =
            QDir(folder + QStringLiteral("fd")).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            struct stat open
            {
            };
            if (::stat(QFile::encodeName(folder + QStringLiteral("fd/") + fd).constData(), &open) != 0 ||
                !S_ISCHR(open.st_mode))
                continue;
            // Each devpts instance counts its own slaves from 0.
            if (open.st_rdev == wanted.st_rdev && (!pts || open.st_dev == wanted.st_dev))
                opened = true;
            else if (pts && open.st_rdev == PTMX && !master)
                master = TtyIndexOf(folder + QStringLiteral("fdinfo/") + fd) == ptsIndex;
        }
        if (opened)
            holders.push_back({pid, ProcessName(pid), master});
    }
    return holders;
}
