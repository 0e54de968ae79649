// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cmdfile/CommandFileReader.h"
#include "cmdfile/ResponseLog.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class CUiHooks;

// A batch that has run this long counts the lines it will send, for the
// progress that shows soon after.
constexpr std::chrono::milliseconds COUNT_LINES_AFTER{250};

// What the open-file dialog returned.
struct COpenFileChoice
{
    bool accepted = false;
    QString path; // full path
    QString name; // file name with extension
    bool logResponses = false;
};

// The command file and the response log with their paths, the resume position
// and the batch delay; opening, stepping and the batch run. The window asks the
// user and updates its controls; everything else happens here.
class CCommandFiles
{
public:
    explicit CCommandFiles(const CUiHooks *hooks = nullptr);
    ~CCommandFiles();

    int ReadCommandLine(char *buffer);
    void CloseCommandFiles();
    bool IsCommandFileOpen() const { return m_commandFile != nullptr; }

    // Opens the command file at `path` and finds its first line that is not
    // empty. 1: found (`line` holds it without its CR LF); 0: failed ("Could
    // not open file", "Blank file", "Bad line in command file" or a read error
    // was shown, the files closed first).
    int OpenCommandFile(const QString &path, QByteArray &line);
    // Opens the log chosen with the command file. false: "Could not open
    // output file" was shown and there is no log.
    bool OpenLogFile(const QString &path);
    // Stepping: 1 the next non-empty line is in `line`; 0 the file is used up
    // (both files closed; a bad line or a read error has been reported).
    // `buffer`, when given, is the caller's line buffer of at least
    // COMMAND_LINE_BUFFER_SIZE bytes.
    int StepToNextLine(QByteArray &line, char *buffer = nullptr);

    // The batch run of Send File, once the links are up: from the line shown
    // (or, when the file was used up, the whole file again with its log), a
    // pause after each line sent, until the end, a bad line, a read error or
    // a failed send. `sendCommand` gives 1 for a line sent, 0 for a failed
    // send, which ends the run as the end of the file would, and -1 for a
    // failure that ends the command at once: the run stops where it is, with
    // nothing after it. Returns true when the run reached the state File used
    // up (Send and Read get disabled); false when reopening failed (reported),
    // which leaves the state as it was, and after a -1.
    bool RunBatch(const std::function<int(const char *)> &sendCommand,
                  const std::function<void(std::uint32_t)> &delay);

    // The response log, open while the command file's responses go to it.
    CResponseLog &Log() { return m_logFile; }
    const CResponseLog &Log() const { return m_logFile; }
    // After a failed write: the log closed and its path forgotten, so that a
    // later batch does not open it again.
    void DropLog();

    // What a batch opens again once the file has been used up: the command
    // file chosen last, and its log (empty: none).
    const QString &CommandFilePath() const { return m_commandFilePath; }
    void SetCommandFilePath(const QString &path) { m_commandFilePath = path; }
    const QString &LogFilePath() const { return m_logFilePath; }
    void SetLogFilePath(const QString &path) { m_logFilePath = path; }
    // Where the next batch starts in the command file.
    std::int64_t ResumePosition() const { return m_resumePosition; }
    // The pause after each line of a batch, in microseconds.
    std::uint32_t Delay() const { return m_delay; }
    void SetDelay(std::uint32_t microseconds) { m_delay = microseconds; }

private:
    // Reads until a line that is not empty: 1 found (in `line`, without its
    // CR LF), else the reader's result for the end of the file, a bad line or
    // a read error.
    int FindNonEmptyLine(char *buffer, QByteArray &line);
    // Where reading stopped with `result`: closes both files, then says why
    // (a bad line, a read error, or `atEnd` at the end of the file).
    void CloseAndReport(int result, const QString &atEnd = QString());
    void Message(const QString &text) const;
    // The lines that a run from `from` sends (those that are not empty, up
    // to a bad one or the end); -1 when the file cannot be read again.
    std::int64_t CountLinesToSend(std::int64_t from) const;

    const CUiHooks *m_hooks;
    std::unique_ptr<CCommandFileReader> m_commandFile;
    CResponseLog m_logFile;
    QString m_commandFilePath;
    QString m_logFilePath;
    std::int64_t m_resumePosition = 0;
    std::uint32_t m_delay = 0;
};
