// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/CommandSender.h"

#include "cmdfile/CommandFiles.h"
#include "common/SystemError.h"
#include "common/UiHooks.h"
#include "links/LinkDispatch.h"
#include "links/LinkTypes.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

CCommandSender::CCommandSender(CLinkDispatch &links, CCommandFiles &files, const CUiHooks *hooks,
                               std::function<void()> logWriteFailed)
    : m_links(links), m_files(files), m_hooks(hooks), m_logWriteFailed(std::move(logWriteFailed))
{
}

QByteArray CCommandSender::StampLine(const QDateTime &sent, double replyMs, bool replyRead)
{
    const int offset = sent.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    QByteArray stamp = "# " + sent.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toLatin1();
    stamp += QStringLiteral("%1%2:%3")
                 .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                 .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(minutes % 60, 2, 10, QLatin1Char('0'))
                 .toLatin1();
    if (replyRead)
        stamp += " reply " + QByteArray::number(replyMs, 'f', 1) + " ms\r\n";
    else
        stamp += " no reply read\r\n";
    return stamp;
}

QString CCommandSender::TooLongText(std::int64_t length, std::int64_t longest)
{
    if (length <= longest)
        return QString();
    return QStringLiteral("The command is %1 characters long; this link sends at most %2.")
        .arg(CountText(length), CountText(longest));
}

QString CCommandSender::HistoryText(const QString &command)
{
    if (command.size() <= COMMAND_MAX_CHARS)
        return command;
    return command.left(COMMAND_MAX_CHARS) + QChar(0x2026);
}

int CCommandSender::WriteLine(const QByteArray &stamp, const char *line)
{
    CResponseLog &log = m_files.Log();
    return (stamp.isEmpty() || log.WriteCommand(stamp.constData()) != 0) && log.WriteCommand(line) != 0;
}

int CCommandSender::WriteReply(const CReply &reply)
{
    return m_files.Log().WriteResponse(reply.bytes.constData(), static_cast<std::size_t>(reply.bytes.size()),
                                       reply.whole);
}

CResult CCommandSender::SendCommand(const char *line)
{
    m_loggedReply.reset();
    // The local time is dear to ask for on every line of a long batch: only
    // a stamp needs it.
    const QDateTime sent = m_timeStamps ? QDateTime::currentDateTime() : QDateTime();
    const auto start = std::chrono::steady_clock::now();
    const std::size_t length = std::strlen(line);
    if (CResult result = m_links.Send(std::string_view(line, length)); !result)
        return result;
    m_sent = std::chrono::steady_clock::now();
    if (m_transcript) {
        CReply sentLine;
        sentLine.bytes = QByteArray(line, static_cast<qsizetype>(length));
        sentLine.total = static_cast<std::int64_t>(length);
        sentLine.whole = true;
        Note(CTranscriptEntry::Kind::Command, std::move(sentLine), QString(), -1);
    }
    if (!m_files.Log().IsOpen())
        return CResult();
    // Without a stamp the line goes to the log before its reply is read, so
    // that the log has it whatever the read does. A stamp says how long the
    // reply took: it and the line wait for the reply.
    if (!m_timeStamps && WriteLine(QByteArray(), line) == 0)
        return LogWriteFailed();
    const bool expected = m_links.ChosenExpectsReply();
    CReply reply;
    CResult read = m_links.ReadForLog(reply);
    if (read.Ok() || reply.total > 0)
        NoteReply(reply);
    if (read.ToTell()) {
        // The read ended the command, but the command went: its record
        // stays, as a record without a reply, and the failure goes on to the
        // window.
        if (m_timeStamps && (WriteLine(StampLine(sent, 0, false), line) == 0 || WriteReply(CReply()) == 0))
            static_cast<void>(LogWriteFailed());
        return read;
    }
    if (m_timeStamps) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        // A read that failed (the link has said why) gave nothing at all.
        const bool replyRead = expected && reply.total > 0;
        if (WriteLine(StampLine(sent, ms, replyRead), line) == 0)
            return LogWriteFailed();
    }
    if (WriteReply(reply) == 0)
        return LogWriteFailed();
    if (m_links.ChosenAnswersOnce())
        m_loggedReply = std::move(reply);
    return CResult();
}

void CCommandSender::Note(CTranscriptEntry::Kind kind, CReply data, QString text, double durationMs)
{
    if (!m_transcript)
        return;
    CTranscriptEntry entry;
    entry.kind = kind;
    entry.link = m_links.ChosenName();
    entry.target = m_links.ChosenTarget();
    entry.data = std::move(data);
    entry.text = std::move(text);
    entry.durationMs = durationMs;
    m_transcript->Add(std::move(entry));
}

void CCommandSender::NoteReply(const CReply &reply)
{
    if (!m_transcript)
        return;
    const double ms =
        m_sent ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - *m_sent).count()
               : -1;
    Note(CTranscriptEntry::Kind::Reply, reply, QString(), ms);
}

void CCommandSender::NoteEvent(CTranscriptEntry::Kind kind, const QString &text)
{
    Note(kind, CReply(), text, -1);
}

bool CCommandSender::TakeLoggedReply(CReply &reply)
{
    if (!m_loggedReply)
        return false;
    reply = std::move(*m_loggedReply);
    m_loggedReply.reset();
    return true;
}

// A failed log write must never be silent: it stops a batch and steps no
// line, so the user knows the transcript is incomplete from here on.
CResult CCommandSender::LogWriteFailed()
{
    const CResult failed = CResult::Failure(
        QStringLiteral("Error writing response log: %1").arg(SystemErrorText(m_files.Log().LastError())),
        m_files.Log().LastError());
    // Told at once: the log is let go only once the user knows why.
    if (m_hooks)
        m_hooks->Message(failed.Text());
    m_files.DropLog();
    if (m_logWriteFailed)
        m_logWriteFailed();
    return failed.Told();
}
