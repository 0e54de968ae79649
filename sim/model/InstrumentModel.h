// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace tallixsim {

// A small SCPI-like instrument. Commands are case-insensitive; trailing CR, LF
// and blanks are ignored. Queries leave a response that ends in CR LF:
//   *IDN?        identity line
//   *RST         reset (clears the output, the error and the service request)
//   *CLS         clears the status byte
//   STATUS       a status line
//   MEAS:VOLT?   a voltage, e.g. 1.250
//   MEAS:CURR?   a current, e.g. 0.010
//   DATA? n      a response of exactly n bytes (digits, ending in CR LF when n >= 2)
//   ECHO text    answers text
//   BYTES hex    answers exactly the bytes that the hex digits spell, with no
//                line end of its own (an instrument's odd reply, e.g. NULs or
//                Latin-1 text)
//   SRQ          requests service (RQS in the status byte)
//   SYST:ERR?    the last error, 0 when none
// Anything else sets error -113 "Undefined header" and has no response.
class InstrumentModel
{
public:
    static constexpr const char *IDENTITY = "KORVANE,TALLIX-SIM,SN0001,1.0";

    // Takes one command line; returns true when the command produced a
    // response (then pending() holds it until it is taken).
    bool command(const std::string &line);

    bool hasResponse() const { return m_hasResponse; }
    // The waiting response; empty when none.
    const std::string &pending() const { return m_pending; }
    // Takes the waiting response (and clears it).
    std::string take();
    // The latest response produced, kept after it was taken (the TCP server
    // answers every request with it).
    const std::string &latest() const { return m_latest; }

    // The error that the latest failing command left (0 when none), cleared
    // as a read of it by SYST:ERR? clears it.
    int takeError();

    // Serial-poll status byte: MAV (0x10) while a response waits, RQS (0x40)
    // after SRQ; reading it clears RQS, as a serial poll does.
    int serialPoll();

    void reset();

private:
    void respond(std::string text);

    std::string m_pending;
    std::string m_latest;
    bool m_hasResponse = false;
    bool m_serviceRequest = false;
    int m_error = 0;
    double m_volts = 1.25;
};

} // namespace tallixsim
