// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Reply.h"

#include <QString>

// Writes a reply to a file: a block's payload without its "#" header, or the
// whole reply when it is no block. The bytes go to a temporary file beside
// the target, which takes the target's name only once every byte is written,
// so that a failed save leaves no half file. A path that is a symbolic link
// (or a chain of them) saves into the file it names, and the link stays; a
// file that is replaced passes its mode, and where the user may, its owner
// and group, to the new one. false with the reason in `error` ("Could not
// save the reply: ...").
bool SaveReplyToFile(const CReply &reply, const QString &path, QString &error);

// Where a save to `path` lands: the file at the end of its chain of links
// (relative links taken from the folder of the link), or `path` itself.
QString ResolveSaveTarget(const QString &path);

// What the user is asked before a cut reply is saved: how much of it the file
// will hold. Empty when the reply was not cut.
QString CutSaveQuestion(const CReply &reply);
