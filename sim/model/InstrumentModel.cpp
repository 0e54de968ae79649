// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/model/InstrumentModel.h"

#include "sim/model/SimSupport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace tallixsim {

namespace {

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

} // namespace

void InstrumentModel::respond(std::string text)
{
    m_pending = std::move(text);
    m_latest = m_pending;
    m_hasResponse = true;
}

std::string InstrumentModel::take()
{
    std::string out;
    out.swap(m_pending);
    m_hasResponse = false;
    return out;
}

void InstrumentModel::reset()
{
    m_pending.clear();
    m_hasResponse = false;
    m_serviceRequest = false;
    m_error = 0;
    m_volts = 1.25;
}

int InstrumentModel::takeError()
{
    const int error = m_error;
    m_error = 0;
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

bool InstrumentModel::command(const std::string &line)
{
    const std::string text = Trimmed(line);
    const std::string cmd = Upper(text);
    char buf[64];

    if (cmd == "*IDN?") {
        respond(std::string(IDENTITY) + "\r\n");
    } else if (cmd == "*RST") {
        reset();
        return false;
    } else if (cmd == "*CLS") {
        m_serviceRequest = false;
        m_error = 0;
        return false;
    } else if (cmd == "STATUS") {
        std::snprintf(buf, sizeof buf, "STATUS READY,ERR %d,SRQ %d\r\n", m_error, m_serviceRequest ? 1 : 0);
        respond(buf);
    } else if (cmd == "MEAS:VOLT?") {
        std::snprintf(buf, sizeof buf, "%.3f\r\n", m_volts);
        respond(buf);
    } else if (cmd == "MEAS:CURR?") {
        respond("0.010\r\n");
    } else if (cmd.rfind("DATA?", 0) == 0) {
        const long n = std::strtol(cmd.c_str() + 5, nullptr, 10);
        if (n < 0 || n > 16 * 1024 * 1024) {
            m_error = -222;
            return false;
        }
        std::string data(static_cast<std::size_t>(n), '0');
        for (long i = 0; i < n; ++i)
            data[static_cast<std::size_t>(i)] = static_cast<char>('0' + i % 10);
        if (n >= 2) {
            data[static_cast<std::size_t>(n - 2)] = '\r';
            data[static_cast<std::size_t>(n - 1)] = '\n';
        }
        respond(std::move(data));
    } else if (cmd.rfind("ECHO ", 0) == 0) {
        respond(text.substr(5) + "\r\n");
    } else if (cmd.rfind("BYTES ", 0) == 0) {
        respond(fromHex(cmd.substr(6)));
    } else if (cmd == "SRQ") {
        m_serviceRequest = true;
        return false;
    } else if (cmd == "SYST:ERR?") {
        std::snprintf(buf, sizeof buf, "%d\r\n", m_error);
        m_error = 0;
        respond(buf);
    } else if (cmd.rfind("SOUR:VOLT ", 0) == 0) {
        m_volts = std::strtod(cmd.c_str() + 10, nullptr);
        return false;
    } else {
        m_error = -113;
        return false;
    }
    return true;
}

} // namespace tallixsim
