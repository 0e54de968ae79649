// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The adapter's side of the conversation: reaching it and setting it up,
// its "++" commands and the one-line answers some of them give, and the
// time-outs it is told.
#include "gpib32/PrologixBackend.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace gpib32 {

namespace {

constexpr int CONNECT_TIMEOUT_MS = 5000;
constexpr int WRITE_TIMEOUT_MS = 5000;
// How long an answer to a command that needs no bus (++ver) may take.
constexpr int ANSWER_TIMEOUT_MS = 1000;
// The longest the adapter is given, when it is reached, to have sent what it
// had to send before.
constexpr int SETTLE_LIMIT_MS = 2500;

} // namespace

std::string CPrologixBackend::AddressText(Addr4882_t address)
{
    const int pad = address & 0xFF;
    const int sad = (address >> 8) & 0xFF;
    return sad ? std::to_string(pad) + " " + std::to_string(sad) : std::to_string(pad);
}

bool CPrologixBackend::ValidAddress(Addr4882_t address)
{
    const int pad = address & 0xFF;
    const int sad = (address >> 8) & 0xFF;
    return pad <= 30 && (sad == 0 || (sad >= 0x60 && sad <= 0x7E));
}

GpibResult CPrologixBackend::LinkFailure(int code)
{
    m_link.Close();
    m_ready = false;
    m_in = Incoming();
    GpibResult result;
    result.status = ERR;
    result.error = EDVR;
    result.count = code;
    result.longCount = code;
    return result;
}

int CPrologixBackend::TimeoutMs() const
{
    const int code = m_timeoutCode;
    return code >= 0 && code < static_cast<int>(std::size(TIMEOUT_MS)) ? TIMEOUT_MS[code] : 10000;
}

int CPrologixBackend::AdapterTimeoutMs() const
{
    const int ms = TimeoutMs();
    return ms == 0 ? MAX_ADAPTER_TIMEOUT_MS : std::clamp(ms, 1, MAX_ADAPTER_TIMEOUT_MS);
}

bool CPrologixBackend::Command(const std::string &line, GpibResult &result)
{
    const std::string bytes = line + "\n";
    const int code = m_link.WriteAll(bytes.data(), bytes.size(), WRITE_TIMEOUT_MS);
    if (code == 0)
        return true;
    result = LinkFailure(code);
    return false;
}

bool CPrologixBackend::Ready(GpibResult &result)
{
    if (m_ready)
        return true;
    const int code = m_link.Open(CONNECT_TIMEOUT_MS);
    if (code != 0) {
        if (!m_reported)
            std::fprintf(stderr, "gpib-32: cannot reach the %s: %s\n", Describe().c_str(),
                         std::strerror(code));
        m_reported = true;
        result = LinkFailure(code);
        return false;
    }
    m_adapterTimeout = AdapterTimeoutMs();
    m_adapterEoi = 1;
    m_in = Incoming();
    // What an earlier program left the adapter sending, and whatever these
    // settings answer on an adapter that does not know one of them, is not
    // the version line.
    if (!Drain(50, SETTLE_LIMIT_MS, result))
        return false;
    for (const std::string &setting :
         {std::string("++savecfg 0"), std::string("++mode 1"), std::string("++auto 0"),
          std::string("++eoi 1"), std::string("++eos 3"), std::string("++eot_enable 1"),
          std::string("++eot_char ") + std::to_string(int(EOT_MARK)),
          std::string("++read_tmo_ms ") + std::to_string(m_adapterTimeout)}) {
        if (!Command(setting, result))
            return false;
    }
    if (!Drain(50, SETTLE_LIMIT_MS, result))
        return false;
    m_ready = true;
    std::string version;
    if (!Query("++ver", version, result)) {
        m_ready = false;
        if ((result.status & TIMO) != 0)
            result = LinkFailure(ETIMEDOUT);
        if (!m_reported)
            std::fprintf(stderr, "gpib-32: no Prologix adapter answers %s\n", m_link.Where().c_str());
        m_reported = true;
        return false;
    }
    m_version = version;
    return true;
}

bool CPrologixBackend::Query(const std::string &command, std::string &line, GpibResult &result)
{
    if (!Command(command, result))
        return false;
    line.clear();
    const bool needsBus = command.rfind("++spoll", 0) == 0;
    const int waitMs = needsBus ? AdapterTimeoutMs() + ADAPTER_GRACE_MS : ANSWER_TIMEOUT_MS;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            result = Refused(EABO);
            result.status |= TIMO;
            return false;
        }
        char c = 0;
        const long n = m_link.ReadSome(&c, 1, static_cast<int>(left));
        if (n < 0) {
            result = LinkFailure(static_cast<int>(-n));
            return false;
        }
        if (n == 0)
            continue;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        line += c;
    }
}

bool CPrologixBackend::SetAddress(Addr4882_t address, GpibResult &result)
{
    return Command("++addr " + AddressText(address), result);
}

bool CPrologixBackend::UseTimeout(GpibResult &result)
{
    const int wanted = AdapterTimeoutMs();
    if (wanted == m_adapterTimeout)
        return true;
    if (!Command("++read_tmo_ms " + std::to_string(wanted), result))
        return false;
    m_adapterTimeout = wanted;
    return true;
}

} // namespace gpib32
