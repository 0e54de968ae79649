// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <utility>

namespace tallixsim {

// A small SCPI-like instrument. Commands are case-insensitive; trailing CR, LF
// and blanks are ignored, and so is a colon before the header. Text replies
// end in the model's line end (CR LF unless setLineEnd says otherwise):
//   *IDN?        identity line
//   *RST         reset (clears the output, the error queue and the service
//                request)
//   *CLS         clears the error queue and the service request
//   STATUS       a status line (ERR: the oldest error waiting, 0 when none)
//   MEAS:VOLT?   a voltage, e.g. 1.250
//   MEAS:CURR?   a current, e.g. 0.010
//   SOUR:VOLT v  sets the voltage MEAS:VOLT? reads
//   DATA? n      a text reply of exactly n bytes, 0 to 16 MiB: digits, ending
//                in the line end when n holds it
//   ECHO text    answers text
//   BYTES hex    answers exactly the bytes that the hex digits spell, with no
//                line end of its own (an instrument's odd reply, e.g. NULs or
//                Latin-1 text)
//   SRQ          requests service (RQS in the status byte)
//   SYST:ERR?    the oldest error of the queue as <code>,"<text>", and takes
//                it off; 0,"No error" when the queue is empty. Also
//                SYSTem:ERRor[:NEXT]? in short or long form
// Block replies, each a binary IEEE 488.2 block and then LF (whatever the
// line end), their payloads from BlockData.h:
//   DISP:DATA?      the screen as a PNG image of about 392 KB, as a definite
//                   block (#6...). The instrument renders it as it sends it:
//                   pace() asks for pieces of 64 KiB with 5 ms between them
//   CURV?           1,048,576 waveform bytes as a definite block (#71048576...)
//   WAV:DATA? n     n waveform bytes (0 to 256 MiB) as a definite block;
//                   WAV:DATA? 1048576 is CURV?'s reply
//   WAV:INDEF?      an indefinite block: #0, 300 bytes that hold no LF, LF
// Anything else queues -113 "Undefined header" and has no reply; a number out
// of range queues -222 "Data out of range". The queue holds 16 errors; past
// that, the newest becomes -350 "Queue overflow", as the standard has it.
class InstrumentModel
{
public:
    static constexpr const char *IDENTITY = "KORVANE,TALLIX-SIM,SN0001,1.0";
    static constexpr std::size_t ERROR_QUEUE_DEPTH = 16;
    static constexpr std::size_t MAX_DATA_BYTES = 16 * 1024 * 1024;
    static constexpr std::size_t MAX_WAVEFORM_BYTES = 256 * 1024 * 1024;
    static constexpr std::size_t CURVE_BYTES = 1024 * 1024;
    static constexpr std::size_t INDEFINITE_BYTES = 300;

    // How a reply wants to travel over a stream: in pieces of `pieceBytes`
    // with `pauseMs` between them; 0 bytes: all at once.
    struct Pace
    {
        std::size_t pieceBytes = 0;
        int pauseMs = 0;
    };

    // The line end of text replies: "\r\n" by default; a SCPI instrument on
    // a raw socket ends them with "\n".
    void setLineEnd(std::string lineEnd) { m_lineEnd = std::move(lineEnd); }
    // Whether latest() keeps the latest reply after it was taken (the TCP
    // server answers every request with it); off, take() hands the reply
    // over without a copy.
    void setKeepLatest(bool keep) { m_keepLatest = keep; }

    // Takes one command line; returns true when the command produced a
    // response (then pending() holds it until it is taken).
    bool command(const std::string &line);

    bool hasResponse() const { return m_hasResponse; }
    // The waiting response; empty when none.
    const std::string &pending() const;
    // How the waiting (or latest) response wants to travel.
    const Pace &pace() const { return m_pace; }
    // Takes the waiting response (and clears it).
    std::string take();
    // Drops the waiting response, as reading it to its end does.
    void drop();
    // The latest response produced, when setKeepLatest(true); empty else.
    const std::string &latest() const;

    // Takes the oldest error off the queue; 0 when none.
    int takeError();
    // Queues an error, as the instrument itself does (a -420 when it is
    // addressed to talk with nothing to say).
    void pushError(int code);
    // What an IEEE 488.2 device does when addressed to talk with nothing to
    // say: -420 "Query UNTERMINATED".
    void queryUnterminated() { pushError(QUERY_UNTERMINATED); }
    // The device clear: a half-received command (kept by the bus) and the
    // waiting reply are dropped; the settings and the error queue stay.
    void deviceClear();

    // Serial-poll status byte: MAV (0x10) while a response waits, RQS (0x40)
    // after SRQ; reading it clears RQS, as a serial poll does.
    int serialPoll();
    // Whether the instrument asserts SRQ (RQS is set); a serial poll ends it.
    bool serviceRequested() const { return m_serviceRequest; }

    void reset();

    static constexpr int UNDEFINED_HEADER = -113;
    static constexpr int DATA_OUT_OF_RANGE = -222;
    static constexpr int QUEUE_OVERFLOW = -350;
    static constexpr int QUERY_UNTERMINATED = -420;
    static const char *ErrorText(int code);

private:
    void respond(std::string text) { respond(std::move(text), Pace{0, 0}); }
    void respond(std::string text, Pace pace);
    bool blockQuery(const std::string &cmd);
    std::string line(const std::string &text) const { return text + m_lineEnd; }

    std::shared_ptr<std::string> m_response; // the latest; waiting while m_hasResponse
    Pace m_pace;
    bool m_hasResponse = false;
    bool m_keepLatest = false;
    bool m_serviceRequest = false;
    std::deque<int> m_errors;
    std::string m_lineEnd = "\r\n";
    double m_volts = 1.25;
};

} // namespace tallixsim
