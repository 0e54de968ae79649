// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// A simulated message library. The build names its two entry points
// (TALLIX_MSGLIB_INPUT and TALLIX_MSGLIB_OUTPUT), so one source gives both
// libordal.so and liblumec.so; the broken variants for the tests are switched
// on by the other TALLIX_MSGLIB_ definitions.
//
// The input entry point hands the line to the instrument. The output entry
// point copies the reply to the latest input into the caller's buffer; asking
// again gives the same reply until the next input replaces it (an input that
// draws no reply leaves an empty one), so a console that reads once for its
// log and once for its display sees the same text twice.

#include "sim/model/InstrumentModel.h"

#include <algorithm>
#include <cstring>
#include <string>

#define TALLIX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

tallixsim::InstrumentModel g_instrument;
std::string g_reply;
std::string g_lastInput;
int g_inputCalls = 0;
int g_outputCalls = 0;

} // namespace

#ifndef TALLIX_MSGLIB_NO_INPUT
TALLIX_EXPORT int TALLIX_MSGLIB_INPUT(char *line)
{
    ++g_inputCalls;
    if (line == nullptr)
        return 0;
    g_lastInput = line;
    if (g_instrument.command(g_lastInput))
        g_reply = g_instrument.take();
    else
        g_reply.clear();
    return 1;
}
#endif

#ifndef TALLIX_MSGLIB_NO_OUTPUT
TALLIX_EXPORT int TALLIX_MSGLIB_OUTPUT(char *buffer, int size)
{
    ++g_outputCalls;
    if (buffer == nullptr || size <= 0)
        return 0;
#if defined(TALLIX_MSGLIB_WRITE_NOTHING)
    return 0;
#elif defined(TALLIX_MSGLIB_FILL_WITHOUT_NUL)
    // Every byte of the buffer, and no terminator anywhere.
    std::memset(buffer, '#', static_cast<std::size_t>(size));
    std::memcpy(buffer, g_reply.data(), std::min(g_reply.size(), static_cast<std::size_t>(size)));
    return size;
#else
    const std::size_t n = std::min(g_reply.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, g_reply.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
#endif
}
#endif

// For the tests only: what the console did to the library since it was loaded.
TALLIX_EXPORT int TallixSimInputCalls()
{
    return g_inputCalls;
}

TALLIX_EXPORT int TallixSimOutputCalls()
{
    return g_outputCalls;
}

// The last line exactly as the input entry point received it, cut to fit.
TALLIX_EXPORT int TallixSimLastInput(char *buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return 0;
    const std::size_t n = std::min(g_lastInput.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, g_lastInput.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}
