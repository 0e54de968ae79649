// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Reply.h"
#include "common/Result.h"
#include "work/Transcript.h"

#include <QByteArray>
#include <QDateTime>

#include <chrono>
#include <functional>
#include <optional>

class CCommandFiles;
class CLinkDispatch;
class CUiHooks;

// Sends one command line over the chosen link and, while the log is open,
// reads the response and writes the record of both: the one place where the
// links and the log meet.
class CCommandSender
{
public:
    // `logWriteFailed`, when given, runs after a failed log write (the window
    // empties its label).
    CCommandSender(CLinkDispatch &links, CCommandFiles &files, const CUiHooks *hooks,
                   std::function<void()> logWriteFailed = {});

    // Sends the line and writes its record. Failed when the send failed, when
    // a failure of the log read ended the command (the record is kept, with
    // no reply), or when a log write failed (told here; the log is closed and
    // its path forgotten, so that a later batch does not open it again).
    CResult SendCommand(const char *line);

    // The reply that the log read of the last command took from an
    // instrument that sends each reply once: the window shows it instead of
    // reading again, which would wait for a reply that never comes. Given
    // once; false when there is none.
    bool TakeLoggedReply(CReply &reply);

    // Where every command sent and reply read is kept, with the failures
    // and Stops the window notes; none by default.
    void SetTranscript(CTranscript *transcript) { m_transcript = transcript; }
    // A reply the window read to show, and how long it took from the end of
    // the last send.
    void NoteReply(const CReply &reply);
    // A failure the user was told of, or a Stop, on the chosen link.
    void NoteEvent(CTranscriptEntry::Kind kind, const QString &text);

    // "Log"/"TimeStamps": each record preceded by a line that says when the
    // command went and how long its reply took. Off, the log is as it has
    // always been.
    bool TimeStamps() const { return m_timeStamps; }
    void SetTimeStamps(bool on) { m_timeStamps = on; }

    // The line that precedes a record: "# 2026-12-08T18:30:01.123+01:00
    // reply 12.4 ms", or "... no reply read" when none was, with CR LF.
    static QByteArray StampLine(const QDateTime &sent, double replyMs, bool replyRead);

    // Why a command of `length` characters is not sent over a link that
    // sends at most `longest`: "The command is 1,500 characters long; this
    // link sends at most 1,023."; empty when it is sent.
    static QString TooLongText(std::int64_t length, std::int64_t longest);
    // How a command shows in the command box's list: one longer than the
    // original links' longest, by its start and an ellipsis.
    static QString HistoryText(const QString &command);

private:
    CResult LogWriteFailed();
    // The parts of a record: the line, after its stamp when there is one;
    // the reply. 0 when a write failed.
    int WriteLine(const QByteArray &stamp, const char *line);
    int WriteReply(const CReply &reply);

    void Note(CTranscriptEntry::Kind kind, CReply data, QString text, double durationMs);

    CLinkDispatch &m_links;
    CCommandFiles &m_files;
    const CUiHooks *m_hooks;
    std::function<void()> m_logWriteFailed;
    bool m_timeStamps = false;
    std::optional<CReply> m_loggedReply;
    CTranscript *m_transcript = nullptr;
    // When the last send ended; none before the first.
    std::optional<std::chrono::steady_clock::time_point> m_sent;
};
