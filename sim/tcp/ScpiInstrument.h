// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim/model/InstrumentModel.h"

#include <cstddef>
#include <string>

namespace tallixsim {

// One reply of the instrument and how it travels: its bytes exactly as they
// go out, in pieces of `pace.pieceBytes` with `pace.pauseMs` between them
// (all at once for 0 bytes), and the last `lateBytes` of them only `lateMs`
// after the rest.
struct ScpiReply
{
    std::string bytes;
    InstrumentModel::Pace pace;
    std::size_t lateBytes = 0;
    int lateMs = 0;
};

// The instrument model as a SCPI instrument on a raw socket shows it: a query
// (a command whose header ends in "?") is answered by itself, a text reply
// ended by LF and a block reply byte for byte; any other command is answered
// by nothing, and a command the instrument does not know (the console's
// "Please respond" among them) goes into the model's error queue, which
// SYSTem:ERRor[:NEXT]? reads back one entry at a time, as <code>,"<text>".
// One query of its own, for a client's patience:
//   TEST:LATE? ms  answers "LATE" at once and the LF only ms (0 to 60000)
//                  milliseconds later
class ScpiInstrument
{
public:
    ScpiInstrument();

    // Takes one command line without its line end. Returns true when a reply
    // is to go out; `reply` then holds it.
    bool Command(const std::string &line, ScpiReply &reply);

    static constexpr int MAX_LATE_MS = 60000;

private:
    InstrumentModel m_model;
};

} // namespace tallixsim
