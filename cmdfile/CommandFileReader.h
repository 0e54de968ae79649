// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// A line holds at most 199 characters; the caller's buffer needs room for them
// and CR, LF and NUL.
constexpr int COMMAND_LINE_MAX_CHARS = 199;
constexpr int COMMAND_LINE_BUFFER_SIZE = 202;

// What ReadCommandLine found.
constexpr int LINE_READ = 1;
constexpr int LINE_END_OF_FILE = 0;
constexpr int LINE_BAD = -1;
// The system failed to read the file: never its end, and nothing of the line
// being read may go out. LastError() tells why.
constexpr int LINE_READ_ERROR = -2;

// An open command file read line by line. Reads through a buffer of its own but
// reports the logical position: just after the last byte a call consumed.
class CCommandFileReader
{
public:
    CCommandFileReader() = default;
    ~CCommandFileReader();
    CCommandFileReader(const CCommandFileReader &) = delete;
    CCommandFileReader &operator=(const CCommandFileReader &) = delete;

    bool Open(const QString &path); // read only; false when it cannot be opened
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // LINE_READ a line (upper-cased, ended by CR LF NUL); LINE_END_OF_FILE;
    // LINE_BAD (accepted characters, the offending byte, NUL); LINE_READ_ERROR
    // (an empty text).
    int ReadCommandLine(char *buffer);

    std::int64_t Position() const; // logical position
    bool Seek(std::int64_t position);
    int LastError() const { return m_lastError; } // errno of a failed read

    // The system's read for every reader (tests put one in that fails on
    // demand); nullptr restores read(2).
    using ReadFunction = ssize_t (*)(int fd, void *buffer, std::size_t count);
    static void SetReadFunction(ReadFunction read);

private:
    int NextByte(); // -1 at end of file, -2 on a read error

    int m_fd = -1;
    int m_lastError = 0;
    std::int64_t m_bufferStart = 0; // file offset of m_buffer[0]
    int m_bufferLength = 0;
    int m_bufferIndex = 0;
    unsigned char m_buffer[65536];
};
