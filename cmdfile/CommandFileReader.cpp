// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFileReader.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned char CR = 0x0D;
constexpr unsigned char LF = 0x0A;

// HT, LF, VT, FF and the printable range; judged on the unsigned byte, never
// through the locale.
inline bool IsAllowed(unsigned char c)
{
    return (c >= 0x09 && c <= 0x0C) || (c >= 0x20 && c <= 0x7E);
}

inline char UpperCase(unsigned char c)
{
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
}

CCommandFileReader::ReadFunction g_read = nullptr;

inline ssize_t SystemRead(int fd, void *buffer, std::size_t count)
{
    return g_read ? g_read(fd, buffer, count) : ::read(fd, buffer, count);
}

} // namespace

CCommandFileReader::~CCommandFileReader()
{
    Close();
}

void CCommandFileReader::SetReadFunction(ReadFunction read)
{
    g_read = read;
}

bool CCommandFileReader::Open(const QString &path)
{
    Close();
    const QByteArray native = QFile::encodeName(path);
    int fd;
    // Without O_NONBLOCK, opening a named pipe waits for a writer, and the
    // window with it. Only a regular file can be stepped through and sent
    // again from a saved position; anything else is a file that cannot be
    // opened.
    do {
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_lastError = 0;
    m_bufferStart = 0;
    m_bufferLength = 0;
    m_bufferIndex = 0;
    return true;
}

void CCommandFileReader::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_bufferStart = 0;
    m_bufferLength = 0;
    m_bufferIndex = 0;
}

std::int64_t CCommandFileReader::Position() const
{
    return m_bufferStart + m_bufferIndex;
}

bool CCommandFileReader::Seek(std::int64_t position)
{
    if (m_fd < 0 || position < 0)
        return false;
    // Within what we already hold (stepping back to the line just shown is the
    // usual case): no system call at all.
    if (position >= m_bufferStart && position <= m_bufferStart + m_bufferLength) {
        m_bufferIndex = static_cast<int>(position - m_bufferStart);
        return true;
    }
    if (::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) < 0)
        return false;
    m_bufferStart = position;
    m_bufferLength = 0;
    m_bufferIndex = 0;
    return true;
}

inline int CCommandFileReader::NextByte()
{
    if (m_bufferIndex < m_bufferLength)
        return m_buffer[m_bufferIndex++];
    // The descriptor's own offset always stands at the end of the buffer, so a
    // refill simply continues from there.
    ssize_t got;
    do {
        got = SystemRead(m_fd, m_buffer, sizeof m_buffer);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        m_lastError = errno;
    m_bufferStart += m_bufferLength;
    m_bufferIndex = 0;
    if (got <= 0) {
        m_bufferLength = 0;
        return got < 0 ? -2 : -1;
    }
    m_bufferLength = static_cast<int>(got);
    return m_buffer[m_bufferIndex++];
}

int CCommandFileReader::ReadCommandLine(char *buffer)
{
    buffer[0] = '\0';
    int n = 0;
    for (;;) {
        const int next = NextByte();
        if (next == -2) {
            // A line cut short by a failing disk must not go out as if whole.
            buffer[0] = '\0';
            return LINE_READ_ERROR;
        }
        if (next < 0)
            break;
        const auto c = static_cast<unsigned char>(next);
        buffer[n] = static_cast<char>(c);
        // Left over from the previous line's CR LF, or LFs before a line.
        if (n == 0 && c == LF)
            continue;
        // The CR test comes first: a line of exactly 199 characters ends well.
        if (c == CR) {
            buffer[n + 1] = '\n';
            buffer[n + 2] = '\0';
            return LINE_READ;
        }
        buffer[n + 1] = '\0';
        // The offending byte stays in the buffer as it was read.
        if (!IsAllowed(c) || n >= COMMAND_LINE_MAX_CHARS)
            return LINE_BAD;
        buffer[n] = UpperCase(c);
        ++n;
    }
    if (n == 0)
        return LINE_END_OF_FILE;
    buffer[n] = '\r';
    buffer[n + 1] = '\n';
    buffer[n + 2] = '\0';
    return LINE_READ;
}
