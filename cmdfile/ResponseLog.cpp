// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/ResponseLog.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    do {
        fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_lastError = errno;
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
    if (m_fd < 0) {
        m_lastError = EBADF;
        return 0;
    }
    while (count > 0) {
        const ssize_t written = ::write(m_fd, data, static_cast<size_t>(count));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            m_lastError = errno;
            return 0;
        }
        if (written == 0) {
            // No progress and no error: the medium takes nothing more.
            m_lastError = ENOSPC;
            return 0;
        }
        data += written;
        count -= static_cast<long>(written);
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
    // What is left after the last piece that holds more than line ends is not
    // written: a response's closing blank lines carry nothing.
    std::size_t last = std::strlen(response);
    while (last > 0) {
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
        if (WriteAll(">", 1) == 0)
            return 0;
        if (WriteAll(piece, static_cast<long>(pieceEnd - piece)) == 0)
            return 0;
        // Without its own line end the next record would run on in this line.
        if (!lf && WriteAll("\r\n", 2) == 0)
            return 0;
        piece = pieceEnd;
    }
    return 1;
}
