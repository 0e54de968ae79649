// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cmdfile/CommandFileReader.h"
#include "cmdfile/ResponseLog.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class CUiHooks;

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

    // Open File, steps 3 to 5: opens `path` and finds the first non-empty line.
    // 1: found (`line` holds it without its CR LF); 0: failed, the message was
    // shown and both files are closed.
    int OpenCommandFile(const QString &path, QByteArray &line);
    // Open File, step 7.2: opens the log. false: "Could not open output file"
    // was shown and there is no log.
    bool OpenLogFile(const QString &path);
    // Stepping: 1 the next non-empty line is in `line`; 0 the file is used up
    // (both files closed).
    int StepToNextLine(QByteArray &line);

    // Send File, steps 4 to 8, after ConnectLinks succeeded. Returns true when
    // the run reached the state File used up (Send and Read get disabled).
    bool RunBatch(const std::function<int(const char *)> &sendCommand,
                  const std::function<void(std::uint32_t)> &delay);

    // Called when a log write failed: shows the message, closes the log and
    // forgets its path.
    void LogWriteFailed();

    std::unique_ptr<CCommandFileReader> m_commandFile;
    CResponseLog m_logFile;
    QString m_commandFilePath;
    QString m_logFilePath;
    std::int64_t m_resumePosition = 0;
    std::uint32_t m_delay = 0;

private:
    const CUiHooks *m_hooks;
};
