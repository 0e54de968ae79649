// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/tcp/ScpiInstrument.h"

#include "sim/model/SimSupport.h"

#include <cctype>

namespace tallixsim {

namespace {

constexpr int QUEUE_OVERFLOW = -350;

const char *ErrorText(int code)
{
    switch (code) {
    case 0:
        return "No error";
    case -113:
        return "Undefined header";
    case -222:
        return "Data out of range";
    case QUEUE_OVERFLOW:
        return "Queue overflow";
    default:
        return "Error";
    }
}

// SYSTem:ERRor? and SYSTem:ERRor:NEXT?, each node in its short or long form,
// with or without the leading colon. `header` is upper case.
bool IsErrorQuery(std::string header)
{
    if (header.empty() || header.back() != '?')
        return false;
    header.pop_back();
    if (!header.empty() && header.front() == ':')
        header.erase(0, 1);
    for (const char *form : {"SYST:ERR", "SYST:ERROR", "SYSTEM:ERR", "SYSTEM:ERROR"}) {
        const std::string base = form;
        if (header == base || header == base + ":NEXT")
            return true;
    }
    return false;
}

} // namespace

void ScpiInstrument::Push(int code)
{
    if (m_errors.size() >= ERROR_QUEUE_DEPTH) {
        m_errors.back() = QUEUE_OVERFLOW;
        return;
    }
    m_errors.push_back(code);
}

std::string ScpiInstrument::Pop()
{
    int code = 0;
    if (!m_errors.empty()) {
        code = m_errors.front();
        m_errors.pop_front();
    }
    return std::to_string(code) + ",\"" + ErrorText(code) + "\"";
}

bool ScpiInstrument::Command(const std::string &line, std::string &reply)
{
    const std::string text = Trimmed(line);
    if (text.empty())
        return false; // a blank line is no command, and no error either
    const std::string header = Upper(text.substr(0, text.find_first_of(" \t")));
    const bool query = header.back() == '?';
    if (IsErrorQuery(header)) {
        reply = Pop() + "\n";
        return true;
    }
    if (header == "*CLS")
        m_errors.clear();

    const bool answered = m_model.command(text);
    // Taken in any case: a command that is no query (ECHO, STATUS) has its
    // answer dropped, as such an instrument never sends unasked.
    std::string response = m_model.take();
    if (const int error = m_model.takeError(); error != 0)
        Push(error);
    if (!query || !answered)
        return false;
    while (!response.empty() && (response.back() == '\n' || response.back() == '\r'))
        response.pop_back();
    reply = response + "\n";
    return true;
}

} // namespace tallixsim
