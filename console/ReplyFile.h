// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Reply.h"

#include <QString>

// Writes a reply to a file: a block's payload without its "#" header, or the
// whole reply when it is no block. The bytes go to a temporary file beside
// the target, which takes the target's name only once every byte is written,
// so that a failed save leaves no half file. false with the reason in
// `error` ("Could not save the reply: ...").
bool SaveReplyToFile(const CReply &reply, const QString &path, QString &error);
