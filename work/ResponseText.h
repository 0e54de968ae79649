// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Reply.h"

class QByteArray;
class QString;

// The text the response box shows for the bytes a link returned: valid UTF-8
// as UTF-8, anything else byte for byte as Latin-1, so that an instrument
// that answers "25.0\xB0C" shows a degree sign, not a replacement character.
//
// With `showControlCharacters`, every byte is shown: CR as \r, LF as \n and a
// line break, TAB as \t, a backslash as \\, the other bytes below 0x20 and
// 0x7F as \xNN, and so are the bytes from 0x80 when the response is not
// valid UTF-8.
QString ResponseDisplayText(const QByteArray &bytes, bool showControlCharacters = false);

// The most of a reply that the response box shows: a longer one, a block or a
// reply that is not text shows as one line that says what it is, and the view
// of control characters shows its first this many bytes.
constexpr qsizetype MAX_SHOWN_REPLY_BYTES = 64 * 1024;

// What the response box shows for a reply. One of the link's own protocols
// shows its text, which ends at the first NUL (or, with
// `showControlCharacters`, every byte it counted). A reply read whole shows
// as text while it is text of at most MAX_SHOWN_REPLY_BYTES; a block, or
// anything else, as a summary such as "Block of 153,654 bytes (PNG image)".
QString ReplyDisplayText(const CReply &reply, bool showControlCharacters = false);

// What the bytes are, from their first bytes: "PNG image", "BMP image",
// "JPEG image", "GIF image", "TIFF image", or "data".
QString PayloadKind(QByteArrayView payload);
// The file name suffix for that kind ("png" ...), or "bin".
QString PayloadSuffix(QByteArrayView payload);
// Whether the bytes are text: no control bytes but TAB, CR and LF.
bool IsText(const QByteArray &bytes);
