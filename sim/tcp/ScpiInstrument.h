// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim/model/InstrumentModel.h"

#include <deque>
#include <string>

namespace tallixsim {

// The instrument model as a SCPI instrument on a raw socket shows it: a query
// (a command whose header ends in "?") is answered by itself with one line
// ended by LF, any other command is answered by nothing, and a command the
// instrument does not know (the console's "Please respond" among them) goes
// into an error queue that SYSTem:ERRor[:NEXT]? reads back one entry at a
// time, as <code>,"<text>".
class ScpiInstrument
{
public:
    // Takes one command line without its line end. Returns true when a reply
    // is to go out; `reply` then holds it, ending in LF.
    bool Command(const std::string &line, std::string &reply);

    // Deep enough for any sequence of bad commands a test sends; past it the
    // newest entry becomes a queue overflow, as the standard has it.
    static constexpr std::size_t ERROR_QUEUE_DEPTH = 16;

private:
    void Push(int code);
    std::string Pop();

    InstrumentModel m_model;
    std::deque<int> m_errors;
};

} // namespace tallixsim
