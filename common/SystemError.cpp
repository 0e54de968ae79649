// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/SystemError.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::size_t SYSTEM_TEXT_BUFFER = 128; // room for 127 characters and the NUL

// strerror_r comes in two shapes: the XSI one returns a status and always
// writes into the buffer, the GNU one returns the text, which may be a static
// string that never touched the buffer. Overloading on the result type picks
// the right reading for whichever the C library declared.
[[maybe_unused]] const char *StrerrorResult(int status, const char *buffer)
{
    // glibc's XSI variant writes "Unknown error N" and still says EINVAL;
    // ERANGE means the text did not fit.
    if (status == 0 || (status == EINVAL && buffer[0] != '\0'))
        return buffer;
    return "";
}

[[maybe_unused]] const char *StrerrorResult(const char *text, const char *)
{
    return text ? text : "";
}

} // namespace

QString SystemErrorText(int code)
{
    char buffer[SYSTEM_TEXT_BUFFER];
    buffer[0] = '\0';
    const char *text = StrerrorResult(strerror_r(code, buffer, sizeof buffer), buffer);
    // The window's message boxes take at most 127 characters of it; a text
    // that does not fit is no text at all rather than a cut one.
    if (std::strlen(text) > SYSTEM_TEXT_BUFFER - 1)
        return QString();
    return QString::fromLocal8Bit(text);
}
