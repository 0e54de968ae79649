// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/ResponseLog.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

bool OnlyLineEnds(const char *begin, const char *end)
{
    for (const char *p = begin; p < end; ++p) {
        if (*p != '\r' && *p != '\n')
            return false;
    }
    return true;
}

} // namespace

CResponseLog::~CResponseLog()
{
    Close();
}

bool CResponseLog::Open(const QString &path)
{
    Close();
    const QByteArray native = QFile::encodeName(path);
    int fd;
    // Appending mode: every write lands at the end, whatever else writes to
    // the file, and nothing already in it is ever cut.
    // A named pipe with no reader would hold the open, and the window with
    // it: opened without waiting it fails at once (ENXIO); with a reader the
    // log goes on blocking as a file's writes do.
    do {
        fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_lastError = errno;
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        m_lastError = errno;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_lastError = 0;
    return true;
}

void CResponseLog::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int CResponseLog::WriteAll(const char *data, long count)
{
    iovec part{const_cast<char *>(data), static_cast<std::size_t>(count)};
    return WriteAllV(&part, 1);
}

int CResponseLog::WriteAllV(iovec *parts, int count)
{
    if (m_fd < 0) {
        m_lastError = EBADF;
        return 0;
    }
    while (count > 0) {
        const ssize_t written = ::writev(m_fd, parts, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            m_lastError = errno;
            return 0;
        }
        if (written == 0) {
            m_lastError = ENOSPC;
            return 0;
        }
        // A short write: skip what went out and send the rest.
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<char *>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
    return 1;
}

int CResponseLog::WriteCommand(const char *line)
{
    const auto length = static_cast<long>(std::strlen(line));
    if (length == 0)
        return 1;
    return WriteAll(line, length);
}

int CResponseLog::WriteResponse(const char *response)
{
    return WriteResponse(response, std::strlen(response));
}

int CResponseLog::WriteResponse(const char *response, std::size_t size, bool everyPiece)
{
    // What is left after the last piece that holds more than line ends is not
    // written: a response's closing blank lines carry nothing.
    std::size_t last = size;
    while (!everyPiece && last > 0) {
        std::size_t start = last;
        if (response[start - 1] == '\n')
            --start; // the LF belongs to the piece it closes
        while (start > 0 && response[start - 1] != '\n')
            --start;
        if (!OnlyLineEnds(response + start, response + last))
            break;
        last = start;
    }

    const char *piece = response;
    const char *const stop = response + last;
    while (piece < stop) {
        const auto *lf =
            static_cast<const char *>(std::memchr(piece, '\n', static_cast<std::size_t>(stop - piece)));
        const char *pieceEnd = lf ? lf + 1 : stop;
        // One system call for the marker, the piece and (without its own line
        // end, so that the next record does not run on in this line) the CR LF
        // added to it: still straight through, a third of the calls.
        iovec parts[3] = {{const_cast<char *>(">"), 1},
                          {const_cast<char *>(piece), static_cast<std::size_t>(pieceEnd - piece)},
                          {const_cast<char *>("\r\n"), 2}};
        if (WriteAllV(parts, lf ? 2 : 3) == 0)
            return 0;
        piece = pieceEnd;
    }
    return 1;
}
