// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/tcp/ScpiInstrument.h"

#include "sim/model/SimSupport.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace tallixsim {

namespace {

// The milliseconds of TEST:LATE?, or -1 when the parameter is not a number
// of them.
long LateMs(const std::string &parameter)
{
    const std::string text = Trimmed(parameter);
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0])) == 0)
        return -1;
    char *end = nullptr;
    errno = 0;
    const long ms = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || ms > ScpiInstrument::MAX_LATE_MS)
        return -1;
    return ms;
}

} // namespace

ScpiInstrument::ScpiInstrument()
{
    m_model.setLineEnd("\n");
}

bool ScpiInstrument::Command(const std::string &line, ScpiReply &reply)
{
    const std::string text = Trimmed(line);
    if (text.empty())
        return false; // a blank line is no command, and no error either
    const std::size_t headerEnd = text.find_first_of(" \t");
    std::string header = Upper(text.substr(0, headerEnd));
    if (header.front() == ':')
        header.erase(0, 1);
    const bool query = !header.empty() && header.back() == '?';

    reply = ScpiReply();
    if (header == "TEST:LATE?") {
        const long ms = LateMs(headerEnd == std::string::npos ? std::string() : text.substr(headerEnd));
        if (ms < 0) {
            m_model.pushError(InstrumentModel::DATA_OUT_OF_RANGE);
            return false;
        }
        reply.bytes = "LATE\n";
        reply.lateBytes = 1;
        reply.lateMs = static_cast<int>(ms);
        return true;
    }

    const bool answered = m_model.command(text);
    // Taken in any case: a command that is no query (ECHO, STATUS) has its
    // answer dropped, as such an instrument never sends unasked.
    reply.pace = m_model.pace();
    reply.bytes = m_model.take();
    return query && answered;
}

} // namespace tallixsim
