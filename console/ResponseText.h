// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
