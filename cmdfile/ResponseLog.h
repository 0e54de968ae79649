// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstddef>

struct iovec;

// The response log: an append-only transcript. Every record goes to the
// operating system at once (no buffer of ours), so the file on disk is complete
// up to the last record after any crash.
class CResponseLog
{
public:
    CResponseLog() = default;
    ~CResponseLog();
    CResponseLog(const CResponseLog &) = delete;
    CResponseLog &operator=(const CResponseLog &) = delete;

    // Opens for writing: created when missing, never truncated, at its end.
    bool Open(const QString &path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // The command bytes up to the NUL. 1 on success, 0 on a failed write
    // (LastError() then holds errno).
    int WriteCommand(const char *line);
    // The response, losslessly: pieces behind ">", each up to and including
    // its LF; a last piece without LF gets CR LF; trailing pieces of nothing
    // but CR and LF are not written, unless `everyPiece` (a reply read whole,
    // which may be binary: every byte of it goes to the log). 1 on success, 0
    // on a failed write.
    int WriteResponse(const char *response, std::size_t size, bool everyPiece = false);
    // A response that is text, up to its first NUL.
    int WriteResponse(const char *response);

    int LastError() const { return m_lastError; }

private:
    int WriteAll(const char *data, long count);
    int WriteAllV(iovec *parts, int count);

    int m_fd = -1;
    int m_lastError = 0;
};
