// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/model/InstrumentModel.h"

#include "sim/model/BlockData.h"
#include "sim/model/SimSupport.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace tallixsim {

namespace {

// The screen goes out as the instrument renders it.
constexpr std::size_t SCREEN_PIECE_BYTES = 64 * 1024;
constexpr int SCREEN_PAUSE_MS = 5;

// "3F0A" to "?\n"; stops at the first pair that is not two hex digits.
std::string fromHex(const std::string &hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (std::isxdigit(static_cast<unsigned char>(hex[i])) == 0 ||
            std::isxdigit(static_cast<unsigned char>(hex[i + 1])) == 0)
            break;
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// The number after a query's header: decimal, within [0, most]; false when
// there is none, or it is out of range or followed by anything.
bool Parameter(const std::string &text, std::size_t most, std::size_t &value)
{
    const std::string digits = Trimmed(text);
    if (digits.empty() || std::isdigit(static_cast<unsigned char>(digits[0])) == 0)
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(digits.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n > most)
        return false;
    value = static_cast<std::size_t>(n);
    return true;
}

// SYSTem:ERRor? and SYSTem:ERRor:NEXT?, each node in its short or long form.
bool IsErrorQuery(const std::string &cmd)
{
    for (const char *form : {"SYST:ERR", "SYST:ERROR", "SYSTEM:ERR", "SYSTEM:ERROR"}) {
        const std::string base = form;
        if (cmd == base + "?" || cmd == base + ":NEXT?")
            return true;
    }
    return false;
}

// A definite block of `count` waveform bytes and the LF after it, made in
// place.
std::string WaveformReply(std::size_t count)
{
    std::string reply = BlockHeader(count);
    reply.reserve(reply.size() + count + 1);
    AppendWaveform(reply, count);
    reply += '\n';
    return reply;
}

const std::string &Empty()
{
    static const std::string empty;
    return empty;
}

} // namespace

const char *InstrumentModel::ErrorText(int code)
{
    switch (code) {
    case 0:
        return "No error";
    case UNDEFINED_HEADER:
        return "Undefined header";
    case DATA_OUT_OF_RANGE:
        return "Data out of range";
    case QUEUE_OVERFLOW:
        return "Queue overflow";
    case QUERY_UNTERMINATED:
        return "Query UNTERMINATED";
    default:
        return "Error";
    }
}

void InstrumentModel::respond(std::string text, Pace pace)
{
    m_response = std::make_shared<std::string>(std::move(text));
    m_pace = pace;
    m_hasResponse = true;
}

const std::string &InstrumentModel::pending() const
{
    return m_hasResponse ? *m_response : Empty();
}

const std::string &InstrumentModel::latest() const
{
    return m_keepLatest && m_response ? *m_response : Empty();
}

std::string InstrumentModel::take()
{
    if (!m_hasResponse)
        return {};
    m_hasResponse = false;
    if (m_keepLatest)
        return *m_response;
    std::string out = std::move(*m_response);
    m_response.reset();
    return out;
}

void InstrumentModel::drop()
{
    m_hasResponse = false;
    if (!m_keepLatest)
        m_response.reset();
}

void InstrumentModel::deviceClear()
{
    drop();
}

void InstrumentModel::reset()
{
    drop();
    m_serviceRequest = false;
    m_errors.clear();
    m_volts = 1.25;
}

void InstrumentModel::pushError(int code)
{
    if (m_errors.size() >= ERROR_QUEUE_DEPTH) {
        m_errors.back() = QUEUE_OVERFLOW;
        return;
    }
    m_errors.push_back(code);
}

int InstrumentModel::takeError()
{
    if (m_errors.empty())
        return 0;
    const int error = m_errors.front();
    m_errors.pop_front();
    return error;
}

int InstrumentModel::serialPoll()
{
    int status = 0;
    if (m_hasResponse)
        status |= 0x10;
    if (m_serviceRequest)
        status |= 0x40;
    m_serviceRequest = false;
    return status;
}

// The queries without a parameter whose replies are binary blocks; false
// when `cmd` is none of them.
bool InstrumentModel::blockQuery(const std::string &cmd)
{
    if (cmd == "DISP:DATA?") {
        std::string reply = DefiniteBlock(ScreenPng());
        reply += '\n';
        respond(std::move(reply), Pace{SCREEN_PIECE_BYTES, SCREEN_PAUSE_MS});
    } else if (cmd == "CURV?") {
        respond(WaveformReply(CURVE_BYTES));
    } else if (cmd == "WAV:INDEF?") {
        respond("#0" + IndefinitePayload(INDEFINITE_BYTES) + "\n");
    } else {
        return false;
    }
    return true;
}

bool InstrumentModel::command(const std::string &commandLine)
{
    std::string text = Trimmed(commandLine);
    if (!text.empty() && text.front() == ':')
        text.erase(0, 1);
    const std::string cmd = Upper(text);
    char buf[64];
    std::size_t n = 0;

    if (cmd == "*IDN?") {
        respond(line(IDENTITY));
    } else if (cmd == "*RST") {
        reset();
        return false;
    } else if (cmd == "*CLS") {
        m_serviceRequest = false;
        m_errors.clear();
        return false;
    } else if (cmd == "STATUS") {
        std::snprintf(buf, sizeof buf, "STATUS READY,ERR %d,SRQ %d", m_errors.empty() ? 0 : m_errors.front(),
                      m_serviceRequest ? 1 : 0);
        respond(line(buf));
    } else if (cmd == "MEAS:VOLT?") {
        std::snprintf(buf, sizeof buf, "%.3f", m_volts);
        respond(line(buf));
    } else if (cmd == "MEAS:CURR?") {
        respond(line("0.010"));
    } else if (cmd.rfind("DATA?", 0) == 0) {
        if (!Parameter(cmd.substr(5), MAX_DATA_BYTES, n)) {
            pushError(DATA_OUT_OF_RANGE);
            return false;
        }
        std::string data(n, '0');
        for (std::size_t i = 0; i < n; ++i)
            data[i] = static_cast<char>('0' + i % 10);
        if (n >= m_lineEnd.size())
            data.replace(n - m_lineEnd.size(), m_lineEnd.size(), m_lineEnd);
        respond(std::move(data));
    } else if (cmd.rfind("ECHO ", 0) == 0) {
        respond(line(text.substr(5)));
    } else if (cmd.rfind("BYTES ", 0) == 0) {
        respond(fromHex(cmd.substr(6)));
    } else if (cmd == "SRQ") {
        m_serviceRequest = true;
        return false;
    } else if (IsErrorQuery(cmd)) {
        const int error = takeError();
        std::snprintf(buf, sizeof buf, "%d,\"%s\"", error, ErrorText(error));
        respond(line(buf));
    } else if (cmd.rfind("SOUR:VOLT ", 0) == 0) {
        m_volts = std::strtod(cmd.c_str() + 10, nullptr);
        return false;
    } else if (cmd.rfind("WAV:DATA?", 0) == 0) {
        if (!Parameter(cmd.substr(9), MAX_WAVEFORM_BYTES, n)) {
            pushError(DATA_OUT_OF_RANGE);
            return false;
        }
        respond(WaveformReply(n));
    } else if (!blockQuery(cmd)) {
        pushError(UNDEFINED_HEADER);
        return false;
    }
    return true;
}

} // namespace tallixsim
