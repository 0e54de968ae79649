// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFiles.h"

#include "common/SystemError.h"
#include "common/UiHooks.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

const QString BAD_LINE = QStringLiteral("Bad line in command file");

} // namespace

CCommandFiles::CCommandFiles(const CUiHooks *hooks) : m_hooks(hooks) {}

CCommandFiles::~CCommandFiles() = default;

void CCommandFiles::Message(const QString &text) const
{
    if (m_hooks)
        m_hooks->Message(text);
}

int CCommandFiles::ReadCommandLine(char *buffer)
{
    return m_commandFile->ReadCommandLine(buffer);
}

void CCommandFiles::CloseAndReport(int result, const QString &atEnd)
{
    // The reader's error is taken before it goes; the files are closed
    // before the message, so nothing stays open while it is shown.
    const int error = m_commandFile->LastError();
    CloseCommandFiles();
    // A bad line is never sent, not even the part of it that was accepted.
    if (result == LINE_BAD)
        Message(BAD_LINE);
    else if (result == LINE_READ_ERROR)
        Message(QStringLiteral("Error reading command file: %1").arg(SystemErrorText(error)));
    else if (!atEnd.isEmpty())
        Message(atEnd);
}

void CCommandFiles::CloseCommandFiles()
{
    m_commandFile.reset();
    m_logFile.Close();
}

void CCommandFiles::DropLog()
{
    m_logFile.Close();
    m_logFilePath.clear();
}

int CCommandFiles::FindNonEmptyLine(char *buffer, QByteArray &line)
{
    for (;;) {
        const int result = ReadCommandLine(buffer);
        if (result <= 0)
            return result;
        const char *cr = std::strchr(buffer, '\r');
        const auto length = cr ? cr - buffer : static_cast<qsizetype>(std::strlen(buffer));
        if (length > 0) {
            line = QByteArray(buffer, length);
            return 1;
        }
    }
}

int CCommandFiles::OpenCommandFile(const QString &path, QByteArray &line)
{
    m_commandFile = std::make_unique<CCommandFileReader>();
    if (!m_commandFile->Open(path)) {
        Message(QStringLiteral("Could not open file"));
        CloseCommandFiles();
        return 0;
    }
    m_resumePosition = 0;

    char buffer[COMMAND_LINE_BUFFER_SIZE];
    const int found = FindNonEmptyLine(buffer, line);
    if (found > 0)
        return 1;
    CloseAndReport(found, QStringLiteral("Blank file"));
    return 0;
}

bool CCommandFiles::OpenLogFile(const QString &path)
{
    if (!m_logFile.Open(path)) {
        Message(QStringLiteral("Could not open output file"));
        return false;
    }
    m_logFilePath = path;
    return true;
}

int CCommandFiles::StepToNextLine(QByteArray &line, char *buffer)
{
    char local[COMMAND_LINE_BUFFER_SIZE];
    if (!buffer)
        buffer = local;
    // Where the line about to be loaded starts (with any empty lines before
    // it): a batch run from here sends it first.
    m_resumePosition = m_commandFile->Position();
    const int found = FindNonEmptyLine(buffer, line);
    if (found > 0)
        return 1;
    CloseAndReport(found);
    return 0;
}

bool CCommandFiles::RunBatch(const std::function<int(const char *)> &sendCommand,
                             const std::function<void(std::uint32_t)> &delay)
{
    if (!m_commandFile) {
        // Used up by stepping or by an earlier run: the whole file again, with
        // its log, from the start.
        m_commandFile = std::make_unique<CCommandFileReader>();
        if (!m_commandFile->Open(m_commandFilePath)) {
            m_commandFile.reset();
            Message(QStringLiteral("Could not open file"));
            return false;
        }
        if (!m_logFilePath.isEmpty() && !m_logFile.Open(m_logFilePath)) {
            // Never run without the log the user chose.
            CloseCommandFiles();
            Message(QStringLiteral("Could not open output file"));
            return false;
        }
    } else {
        m_commandFile->Seek(m_resumePosition);
    }

    // Only where someone watches the progress, and only once the run is long
    // enough for it to show: the lines the run will send.
    const bool watched = m_hooks && m_hooks->Pulses();
    const std::int64_t from = m_commandFile->Position();
    const auto start = std::chrono::steady_clock::now();
    std::int64_t total = -1;
    std::int64_t sent = 0;
    char buffer[COMMAND_LINE_BUFFER_SIZE];
    int result = ReadCommandLine(buffer);
    while (result > 0) {
        if (buffer[0] != '\r') {
            const int outcome = sendCommand(buffer);
            if (outcome < 0)
                return false;
            if (outcome == 0)
                break;
            delay(m_delay);
            ++sent;
            if (watched) {
                // A slow run (a line a second) wants its total as soon as a
                // quick one: the clock is looked at after every line.
                if (total < 0 && std::chrono::steady_clock::now() - start >= COUNT_LINES_AFTER)
                    total = CountLinesToSend(from);
                // Stop takes effect before the next line: every line sent
                // has its whole record, and the run ends as a finished one
                // does.
                if (!m_hooks->Pulse({CProgress::Kind::Batch, sent, total})) {
                    CloseCommandFiles();
                    Message(QStringLiteral("Batch stopped after %L1 of %L2 lines")
                                .arg(sent)
                                .arg(std::max(total < 0 ? CountLinesToSend(from) : total, sent)));
                    return true;
                }
            }
        }
        result = ReadCommandLine(buffer);
    }
    CloseAndReport(result);
    return true;
}

std::int64_t CCommandFiles::CountLinesToSend(std::int64_t from) const
{
    CCommandFileReader reader;
    if (!reader.Open(m_commandFilePath) || !reader.Seek(from))
        return -1;
    char buffer[COMMAND_LINE_BUFFER_SIZE];
    std::int64_t lines = 0;
    while (reader.ReadCommandLine(buffer) > 0)
        if (buffer[0] != '\r')
            ++lines;
    return lines;
}
