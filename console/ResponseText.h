// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QByteArray;
class QString;

// The text the response box shows for the bytes a link returned: valid UTF-8
// as UTF-8, anything else byte for byte as Latin-1, so that an instrument
// that answers "25.0\xB0C" shows a degree sign, not a replacement character.
QString ResponseDisplayText(const QByteArray &bytes);
