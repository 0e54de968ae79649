// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cmdfile/CommandFiles.h"
#include "common/UiHooks.h"
#include "work/ConsoleSettings.h"
#include "work/TranscriptExport.h"

#include <QString>

#include <functional>

// Every box and dialog the window asks the user with. The window fills each
// with its own; a test gives the ones it reads and answers (SetPrompts).
struct CConsolePrompts
{
    // The message box.
    MessageFn messageBox = nullptr;
    // A question with OK and Cancel: true for OK.
    std::function<bool(const QString &text)> askConfirm = nullptr;
    // The open dialog of Open File.
    std::function<COpenFileChoice()> askOpenFile = nullptr;
    // The save dialog of the response log: the chosen path, or an empty
    // text when cancelled.
    std::function<QString(const QString &title)> askSaveFile = nullptr;
    // The save dialog of Save Reply As, offered `suggestedName`: the chosen
    // path, or an empty text when cancelled.
    std::function<QString(const QString &suggestedName)> askSaveReply = nullptr;
    // The About box, run modally.
    std::function<void()> runAboutBox = nullptr;
    // The Link Settings dialog, run modally on `settings`: true and the
    // dialog's values in `settings` when the user says OK.
    std::function<bool(CConsoleSettings &settings)> runLinkSettings = nullptr;
    // The Find dialog, run modally: the resource the user took, or an empty
    // text.
    std::function<QString()> runFind = nullptr;
    // The save dialog of the transcript's Save As, with its three forms.
    std::function<CTranscriptSaveChoice()> askSaveTranscript = nullptr;
    // The hex view of a transcript entry's bytes.
    std::function<void(const QByteArray &bytes, const QString &title)> runHexView = nullptr;
};
