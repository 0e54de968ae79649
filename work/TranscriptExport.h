// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Result.h"
#include "work/Transcript.h"

#include <QByteArray>
#include <QString>

// The forms a transcript is saved in.
enum class TranscriptForm
{
    // The response log's own records: a command's line, then the reply that
    // followed it; what the log would hold had it been open.
    Log,
    // One line an entry: time, link, address, direction, bytes, duration in
    // ms and the text, quoted as RFC 4180 says.
    Csv,
    // The commands sent, one a line, which Open File and Send File replay.
    CommandFile,
};

// Where Save As of the transcript goes, and in which form; an empty path
// when the user cancelled.
struct CTranscriptSaveChoice
{
    QString path;
    TranscriptForm form = TranscriptForm::Log;
};

// The transcript in that form, to `path` (a file of its own beside it that
// takes the name once written whole; a link is followed).
CResult SaveTranscript(const CTranscript &transcript, TranscriptForm form, const QString &path);

// The CSV form's text, and the command file's.
QByteArray TranscriptCsv(const CTranscript &transcript);
QByteArray TranscriptCommands(const CTranscript &transcript);
// One field, quoted when it holds a comma, a quote or a line end.
QByteArray CsvField(const QString &text);
