// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/model/SimSupport.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tallixsim {

namespace {
constexpr long DEFAULT_GPIB_ADDRESS = 14;
}

long EnvNumber(const char *name, long fallback)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0')
        return fallback;
    return value;
}

bool EnvGpibFailure(const char *name, int &error, long &count)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return false;
    char *end = nullptr;
    errno = 0;
    const long code = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || code < 0 || code > 0xFFFF)
        return false;
    long n = 0;
    if (*end == ':') {
        const char *countText = end + 1;
        n = std::strtol(countText, &end, 0);
        if (errno != 0 || end == countText)
            return false;
    }
    if (*end != '\0')
        return false;
    error = static_cast<int>(code);
    count = n;
    return true;
}

int GpibInstrumentAddress()
{
    const long a = EnvNumber("TALLIX_SIM_GPIB_ADDRESS", DEFAULT_GPIB_ADDRESS);
    return static_cast<int>(a >= 0 && a <= 30 ? a : DEFAULT_GPIB_ADDRESS);
}

void TraceLine(const char *variable, const char *format, ...)
{
    const char *path = std::getenv(variable);
    if (!path || !*path)
        return;
    FILE *file = std::fopen(path, "a");
    if (!file)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

bool ReadWholeFile(const char *path, std::string &data)
{
    FILE *file = path ? std::fopen(path, "rb") : nullptr;
    if (!file)
        return false;
    data.clear();
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        data.append(chunk, got);
    std::fclose(file);
    return true;
}

void SleepMs(long ms)
{
    if (ms <= 0)
        return;
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

bool ParseDecimal(const char *text, long low, long high, long &value)
{
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || n < low || n > high)
        return false;
    value = n;
    return true;
}

std::string Escaped(const std::string &bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\\') {
            text += "\\\\";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

std::string Trimmed(const std::string &text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])) != 0)
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])) != 0)
        --e;
    return text.substr(b, e - b);
}

std::string Upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace tallixsim
