// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>

// A line holds at most 199 characters; the caller's buffer needs room for them
// and CR, LF and NUL.
constexpr int COMMAND_LINE_MAX_CHARS = 199;
constexpr int COMMAND_LINE_BUFFER_SIZE = 202;

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

    // 1 a line (upper-cased, ended by CR LF NUL), 0 end of file, -1 bad line
    // (accepted characters, the offending byte, NUL).
    int ReadCommandLine(char *buffer);

    std::int64_t Position() const; // logical position
    bool Seek(std::int64_t position);

private:
    int NextByte(); // -1 at end of file (or a read error)

    int m_fd = -1;
    std::int64_t m_bufferStart = 0; // file offset of m_buffer[0]
    int m_bufferLength = 0;
    int m_bufferIndex = 0;
    unsigned char m_buffer[65536];
};
