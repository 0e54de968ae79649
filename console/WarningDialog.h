// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QString;
class QWidget;

// The one kind of message the program shows: a modal box titled "Tallix"
// with a warning icon and one OK button.
void ShowWarningDialog(QWidget *parent, const QString &text);

// The one kind of question: the same box with OK and Cancel. true for OK.
bool AskOkCancel(QWidget *parent, const QString &text);

// The least width of that box, in pixels: enough for its title and the
// window frame's buttons, however short the text.
constexpr int WARNING_DIALOG_MIN_WIDTH = 220;
