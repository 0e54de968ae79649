// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/TranscriptExport.h"

#include "cmdfile/ResponseLog.h"
#include "common/SystemError.h"
#include "work/ReplyFile.h"

#include <QDir>
#include <QTemporaryFile>

#include <cerrno>
#include <limits>

namespace {

QString Direction(CTranscriptEntry::Kind kind)
{
    switch (kind) {
    case CTranscriptEntry::Kind::Command:
        return QStringLiteral("sent");
    case CTranscriptEntry::Kind::Reply:
        return QStringLiteral("received");
    case CTranscriptEntry::Kind::Failure:
        return QStringLiteral("failure");
    case CTranscriptEntry::Kind::Stop:
        return QStringLiteral("stop");
    }
    return QString();
}

CResult Failed(int code)
{
    return CResult::Failure(QStringLiteral("Error saving the transcript: %1").arg(SystemErrorText(code)),
                            code);
}

// The records as the log writes them, into the open log.
bool WriteLog(const CTranscript &transcript, CResponseLog &log)
{
    for (qsizetype i = 0; i < transcript.Size(); ++i) {
        const CTranscriptEntry &entry = transcript.At(i);
        if (entry.kind == CTranscriptEntry::Kind::Command) {
            if (log.WriteCommand(entry.data.bytes.constData()) == 0)
                return false;
            // The reply that the command's read took; a second read of the
            // same command (the Read button) is no part of its record.
            if (i + 1 < transcript.Size() && transcript.At(i + 1).kind == CTranscriptEntry::Kind::Reply) {
                const CReply &reply = transcript.At(++i).data;
                if (log.WriteResponse(reply.bytes.constData(), static_cast<std::size_t>(reply.bytes.size()),
                                      reply.whole) == 0)
                    return false;
            }
        }
    }
    return true;
}

} // namespace

QByteArray CsvField(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\r') && !utf8.contains('\n'))
        return utf8;
    QByteArray quoted = utf8;
    quoted.replace("\"", "\"\"");
    return '"' + quoted + '"';
}

QByteArray TranscriptCsv(const CTranscript &transcript)
{
    QByteArray csv = "time,link,address,direction,bytes,duration_ms,text\r\n";
    for (qsizetype i = 0; i < transcript.Size(); ++i) {
        const CTranscriptEntry &entry = transcript.At(i);
        const bool counted =
            entry.kind == CTranscriptEntry::Kind::Command || entry.kind == CTranscriptEntry::Kind::Reply;
        csv += CsvField(TranscriptTimeText(entry.timeMs)) + ',' + CsvField(entry.link) + ',' +
               CsvField(entry.target) + ',' + CsvField(Direction(entry.kind)) + ',' +
               (counted ? QByteArray::number(entry.data.total) : QByteArray()) + ',' +
               (entry.durationMs >= 0 ? QByteArray::number(entry.durationMs, 'f', 3) : QByteArray()) + ',' +
               CsvField(TranscriptEntryText(entry, std::numeric_limits<qsizetype>::max())) + "\r\n";
    }
    return csv;
}

QByteArray TranscriptCommands(const CTranscript &transcript)
{
    QByteArray commands;
    for (qsizetype i = 0; i < transcript.Size(); ++i) {
        const CTranscriptEntry &entry = transcript.At(i);
        if (entry.kind != CTranscriptEntry::Kind::Command)
            continue;
        QByteArray line = entry.data.bytes;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        commands += line + "\r\n";
    }
    return commands;
}

CResult SaveTranscript(const CTranscript &transcript, TranscriptForm form, const QString &path)
{
    CReply whole;
    whole.whole = true;
    if (form == TranscriptForm::Log) {
        // The log's own writer, so that the records are the log's to the byte.
        QTemporaryFile scratch(QDir::temp().filePath(QStringLiteral("tallix-transcript.XXXXXX")));
        if (!scratch.open())
            return Failed(errno != 0 ? errno : EACCES);
        CResponseLog log;
        if (!log.Open(scratch.fileName()) || !WriteLog(transcript, log))
            return Failed(log.LastError() != 0 ? log.LastError() : EIO);
        log.Close();
        whole.bytes = scratch.readAll();
    } else {
        whole.bytes =
            form == TranscriptForm::Csv ? TranscriptCsv(transcript) : TranscriptCommands(transcript);
    }
    whole.total = whole.bytes.size();
    // As a reply is saved: whole or not at all, a link followed, the mode
    // of the file it replaces kept.
    QString error;
    if (!SaveReplyToFile(whole, path, error))
        return CResult::Failure(error.replace(QStringLiteral("the reply"), QStringLiteral("the transcript")));
    return CResult();
}
