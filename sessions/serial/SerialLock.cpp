// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/serial/SerialLock.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The process id a lock file names; 0 when it names none. The first line is
// read as a number, so that the files of programs that add their name below
// it (as Qt's lock files do) are read as well.
qint64 HolderIn(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = file.readLine(64).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

bool Alive(qint64 pid)
{
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

CSerialLock::~CSerialLock()
{
    Release();
}

QString CSerialLock::Folder()
{
    const QString chosen = qEnvironmentVariable("TALLIX_LOCK_DIR");
    if (!chosen.isEmpty())
        return chosen;
    return QFileInfo::exists(QStringLiteral("/run/lock")) ? QStringLiteral("/run/lock")
                                                          : QStringLiteral("/var/lock");
}

QString CSerialLock::PathFor(const QString &device)
{
    const QFileInfo info(device);
    QString target = info.canonicalFilePath();
    if (target.isEmpty())
        target = info.absoluteFilePath();
    QString name = target.startsWith(QLatin1String("/dev/")) ? target.mid(5) : info.fileName();
    name.replace(u'/', u'_');
    return Folder() + QStringLiteral("/LCK..") + name;
}

CSerialLock::Result CSerialLock::Take(const QString &device, qint64 &holder)
{
    Release();
    holder = 0;
    const QString path = PathFor(device);
    const QByteArray name = QFile::encodeName(path);
    // Written whole under another name and then linked into place, so that
    // nobody reads the lock before its process id is in it.
    static std::atomic<int> counter{0};
    const QByteArray temporary =
        QFile::encodeName(QStringLiteral("%1/LTMP.%2.%3").arg(Folder()).arg(::getpid()).arg(++counter));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return Result::Unlocked;
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
    const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
    ::close(fd);
    Result result = Result::Unlocked;
    for (int attempt = 0; written && attempt < 3; ++attempt) {
        if (::link(temporary.constData(), name.constData()) == 0) {
            m_path = path;
            result = Result::Taken;
            break;
        }
        if (errno != EEXIST)
            break;
        holder = HolderIn(path);
        if (holder > 0 && Alive(holder)) {
            result = Result::Held;
            break;
        }
        // Stale: its process is gone (or it names none).
        holder = 0;
        ::unlink(name.constData());
    }
    ::unlink(temporary.constData());
    return result;
}

void CSerialLock::Release()
{
    if (m_path.isEmpty())
        return;
    if (HolderIn(m_path) == ::getpid())
        QFile::remove(m_path);
    m_path.clear();
}
