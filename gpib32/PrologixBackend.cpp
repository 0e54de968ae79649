// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gpib32/PrologixBackend.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

namespace gpib32 {

namespace {

constexpr int CMPL = 0x100;
constexpr int CIC = 0x20;
constexpr int RQS = 0x800;
constexpr int SRQI = 0x1000;
constexpr int ENEB = 7;
constexpr int EFSO = 12;
constexpr int IBC_PAD = 0x1;
constexpr int IBC_SAD = 0x2;
constexpr int IBC_EOT = 0x4;
constexpr int CONNECT_TIMEOUT_MS = 5000;
constexpr int WRITE_TIMEOUT_MS = 5000;
// How long an answer to a command that needs no bus (++ver) may take.
constexpr int ANSWER_TIMEOUT_MS = 1000;
// The longest the adapter is given, when it is reached, to have sent what it
// had to send before.
constexpr int SETTLE_LIMIT_MS = 2500;
// Multiline GPIB messages that SendCmds can say through the adapter.
constexpr unsigned char GTL = 0x01;
constexpr unsigned char SDC = 0x04;
constexpr unsigned char GET = 0x08;
constexpr unsigned char LLO = 0x11;
constexpr unsigned char UNL = 0x3F;
constexpr unsigned char UNT = 0x5F;

// NI-488.2 time-out codes in milliseconds; 0 is none.
constexpr int TIMEOUT_MS[] = {0,   1,   1,    1,    1,     1,     3,      10,     30,
                              100, 300, 1000, 3000, 10000, 30000, 100000, 300000, 1000000};

std::string Escaped(const char *data, std::size_t size)
{
    std::string out;
    out.reserve(size + size / 8 + 1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\r' || c == '\n' || c == 27 || c == '+')
            out += static_cast<char>(27);
        out += c;
    }
    return out;
}

std::string AddressText(Addr4882_t address)
{
    const int pad = address & 0xFF;
    const int sad = (address >> 8) & 0xFF;
    return sad ? std::to_string(pad) + " " + std::to_string(sad) : std::to_string(pad);
}

bool ValidAddress(Addr4882_t address)
{
    const int pad = address & 0xFF;
    const int sad = (address >> 8) & 0xFF;
    return pad <= 30 && (sad == 0 || (sad >= 0x60 && sad <= 0x7E));
}

} // namespace

bool CPrologixBackend::NamesAdapter(const char *text)
{
    return text && std::strncmp(text, PREFIX, PREFIX_LENGTH) == 0;
}

bool CPrologixBackend::Configure(const std::string &location, std::string &reason)
{
    return m_link.Configure(location, reason);
}

std::string CPrologixBackend::Describe() const
{
    return std::string("Prologix adapter ") + (m_link.IsSerial() ? "on " : "at ") + m_link.Where();
}

std::string CPrologixBackend::Version()
{
    std::lock_guard<std::mutex> hold(m_lock);
    GpibResult result;
    return Ready(result) ? m_version : std::string();
}

GpibResult CPrologixBackend::Done(long count, int extra)
{
    GpibResult result;
    result.status = CMPL | CIC | extra;
    result.count = static_cast<int>(count);
    result.longCount = count;
    return result;
}

GpibResult CPrologixBackend::Refused(int error)
{
    GpibResult result;
    result.status = ERR | CIC;
    result.error = error;
    return result;
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

bool CPrologixBackend::Drain(int quietMs, int limitMs, GpibResult &result, bool *quiet)
{
    char buffer[4096];
    const auto limit = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        const long n = m_link.ReadSome(buffer, sizeof buffer, quietMs);
        if (n < 0) {
            result = LinkFailure(static_cast<int>(-n));
            return false;
        }
        if (quiet)
            *quiet = n == 0;
        if (n == 0 || Clock::now() > limit)
            return true;
    }
}

int CPrologixBackend::DrainLimitMs() const
{
    // The adapter may take its own time-out after the last byte to give up;
    // a device that talks for longer than the call may wait talks on.
    const int ms = TimeoutMs();
    return std::max(ms == 0 ? MAX_ADAPTER_TIMEOUT_MS : ms, m_adapterTimeout + ADAPTER_GRACE_MS);
}

bool CPrologixBackend::Silence(Addr4882_t address, GpibResult &result)
{
    // Anything the host sends ends the adapter's read: the clear goes out at
    // once, and what was under way when it came is dropped.
    m_in = Incoming();
    if (!SetAddress(address, result) || !Command("++clr", result))
        return false;
    bool quiet = false;
    if (!Drain(ADAPTER_GRACE_MS, DrainLimitMs(), result, &quiet))
        return false;
    if (quiet)
        return true;
    // An adapter that reads on whatever it is told is let go, and met afresh.
    m_link.Close();
    m_ready = false;
    return Ready(result);
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

bool CPrologixBackend::EndIncoming(GpibResult &result)
{
    // The adapter stops at the instrument's EOI (and marks it) or after its
    // own time-out; what it sends until then is thrown away. A device that
    // talks on for longer than the call may wait is cleared to silence it.
    const auto limit = Clock::now() + std::chrono::milliseconds(DrainLimitMs());
    while (m_in.active && !m_in.ended) {
        if (Clock::now() >= limit)
            return Silence(m_in.address, result);
        m_in.taken = m_in.bytes.size();
        if (!Step(Clock::time_point::min(), result))
            return false;
    }
    m_in = Incoming();
    return true;
}

GpibResult CPrologixBackend::SendIFC(int board)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    GpibResult result;
    m_timeoutCode = m_handles[0].timeout;
    if (!Ready(result) || !EndIncoming(result) || !Command("++ifc", result))
        return result;
    return Done();
}

GpibResult CPrologixBackend::EnableRemote(int board, const Addr4882_t *addressList)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    for (const Addr4882_t *a = addressList; a && *a != NO_ADDR; ++a)
        if (!ValidAddress(*a))
            return Refused(EARG);
    // The adapter holds REN as the controller and puts each device in remote
    // when it addresses it: nothing to send.
    GpibResult result;
    if (!Ready(result))
        return result;
    return Done();
}

GpibResult CPrologixBackend::Send(int board, Addr4882_t address, const void *buffer, long count, int eotMode)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    m_timeoutCode = m_handles[0].timeout;
    return SendLocked(address, buffer, count, eotMode);
}

GpibResult CPrologixBackend::SendLocked(Addr4882_t address, const void *buffer, long count, int eotMode)
{
    if (count < 0 || (count > 0 && !buffer) || !ValidAddress(address) ||
        (eotMode != NULL_END && eotMode != NL_END && eotMode != DAB_END))
        return Refused(EARG);
    GpibResult result;
    if (!Ready(result) || !EndIncoming(result) || !SetAddress(address, result))
        return result;
    const int eoi = eotMode == NULL_END ? 0 : 1;
    if (eoi != m_adapterEoi) {
        if (!Command("++eoi " + std::to_string(eoi), result))
            return result;
        m_adapterEoi = eoi;
    }
    std::string data(static_cast<const char *>(buffer), static_cast<std::size_t>(count));
    if (eotMode == NL_END)
        data += '\n';
    if (data.empty())
        return Done();
    if (!Command(Escaped(data.data(), data.size()), result))
        return result;
    return Done(static_cast<long>(data.size()));
}

GpibResult CPrologixBackend::Receive(int board, Addr4882_t address, void *buffer, long count, int termination)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    m_timeoutCode = m_handles[0].timeout;
    return ReceiveLocked(address, buffer, count, termination);
}

GpibResult CPrologixBackend::ReceiveLocked(Addr4882_t address, void *buffer, long count, int termination)
{
    if (count < 0 || (count > 0 && !buffer) || !ValidAddress(address))
        return Refused(EARG);
    GpibResult result;
    if (!Ready(result))
        return result;
    if (m_in.active && m_in.address != address && !EndIncoming(result))
        return result;
    const int timeoutMs = TimeoutMs();
    const auto deadline =
        timeoutMs == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto ask = [&]() {
        if (!UseTimeout(result) || !SetAddress(address, result) || !Command("++read eoi", result))
            return false;
        m_in.lastByte = Clock::now();
        return true;
    };
    if (!m_in.active) {
        m_in = Incoming();
        m_in.active = true;
        m_in.address = address;
        if (!ask())
            return result;
    }
    const bool stopOnEos = termination != STOP_END;
    const char eos = static_cast<char>(termination & 0xFF);
    const auto want = static_cast<std::size_t>(count);
    for (;;) {
        const std::size_t held = m_in.bytes.size() - m_in.taken;
        // Until the adapter has stopped, its last byte may be the EOT it
        // adds after EOI.
        std::size_t ready = m_in.ended ? held : (held > 0 ? held - 1 : 0);
        std::size_t n = std::min(ready, want);
        bool eosSeen = false;
        if (stopOnEos) {
            const char *from = m_in.bytes.data() + m_in.taken;
            if (const void *hit = std::memchr(from, eos, n)) {
                n = static_cast<std::size_t>(static_cast<const char *>(hit) - from) + 1;
                eosSeen = true;
            }
        }
        // A full buffer whose next byte may only be the end mark waits to
        // learn whether its last byte came with END.
        const bool markNext = !m_in.ended && n == want && held == want + 1 && MarkLast();
        if (eosSeen || m_in.ended || (n == want && !markNext)) {
            if (n > 0)
                std::memcpy(buffer, m_in.bytes.data() + m_in.taken, n);
            m_in.taken += n;
            const bool all = m_in.ended && m_in.taken == m_in.bytes.size();
            const bool timedOut = all && !m_in.eoi;
            int extra = (eosSeen || (all && m_in.eoi)) ? END : 0;
            if (all)
                m_in = Incoming();
            if (timedOut) {
                GpibResult late = Refused(EABO);
                late.status |= TIMO;
                late.count = static_cast<int>(n);
                late.longCount = static_cast<long>(n);
                return late;
            }
            return Done(static_cast<long>(n), extra);
        }
        // More is needed: wait for it, for the end mark to stand, or for the
        // adapter to give up (and ask again while the call's time-out lasts).
        if (!Step(deadline, result))
            return result;
    }
}

bool CPrologixBackend::MarkLast() const
{
    if (m_in.bytes.size() <= m_in.taken || m_in.bytes.back() != EOT_MARK)
        return false;
    // Inside a definite block's payload an EOT is data.
    const std::size_t last = m_in.dropped + m_in.bytes.size() - 1;
    return m_in.blockEnd < 0 || static_cast<long long>(last) >= m_in.blockEnd;
}

void CPrologixBackend::Take(const char *data, std::size_t size)
{
    // What the caller has taken goes only once the header is known: it is
    // read from the reply's first bytes.
    if (m_in.headerKnown && m_in.taken > 0 && m_in.taken >= m_in.bytes.size() / 2) {
        m_in.bytes.erase(0, m_in.taken);
        m_in.dropped += m_in.taken;
        m_in.taken = 0;
    }
    m_in.bytes.append(data, size);
    m_in.lastByte = Clock::now();
    if (m_in.headerKnown || m_in.bytes.size() < 2)
        return;
    // #<d><d digits of length>: the block's length is known once its header
    // has come.
    const std::string &b = m_in.bytes;
    if (b[0] != '#' || b[1] < '1' || b[1] > '9') {
        m_in.headerKnown = true;
        return;
    }
    const std::size_t digits = static_cast<std::size_t>(b[1] - '0');
    if (b.size() < 2 + digits)
        return;
    long long length = 0;
    for (std::size_t i = 2; i < 2 + digits; ++i) {
        if (b[i] < '0' || b[i] > '9') {
            m_in.headerKnown = true;
            return;
        }
        length = length * 10 + (b[i] - '0');
    }
    m_in.blockEnd = static_cast<long long>(2 + digits) + length;
    m_in.headerKnown = true;
}

bool CPrologixBackend::Step(Clock::time_point deadline, GpibResult &result)
{
    const bool markLast = MarkLast();
    const auto quietUntil =
        m_in.lastByte +
        std::chrono::milliseconds(markLast ? MARK_QUIET_MS : m_adapterTimeout + ADAPTER_GRACE_MS);
    const auto now = Clock::now();
    if (now >= quietUntil) {
        if (markLast) {
            m_in.bytes.pop_back();
            m_in.ended = true;
            m_in.eoi = true;
        } else if (now < deadline) {
            // The adapter's own time-out is shorter than the call's.
            if (!UseTimeout(result) || !SetAddress(m_in.address, result) || !Command("++read eoi", result))
                return false;
            m_in.lastByte = Clock::now();
        } else {
            m_in.ended = true;
            m_in.eoi = false;
        }
        return true;
    }
    char piece[4096];
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(quietUntil - now).count() + 1;
    const long got = m_link.ReadSome(piece, sizeof piece, static_cast<int>(wait));
    if (got < 0) {
        result = LinkFailure(static_cast<int>(-got));
        return false;
    }
    if (got > 0)
        Take(piece, static_cast<std::size_t>(got));
    return true;
}

GpibResult CPrologixBackend::ReadStatusByte(int board, Addr4882_t address, short *status)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    m_timeoutCode = m_handles[0].timeout;
    return PollLocked(address, status);
}

GpibResult CPrologixBackend::PollLocked(Addr4882_t address, short *status)
{
    if (!ValidAddress(address))
        return Refused(EARG);
    GpibResult result;
    std::string line;
    if (!Ready(result) || !EndIncoming(result) || !UseTimeout(result) ||
        !Query("++spoll " + AddressText(address), line, result))
        return result;
    char *end = nullptr;
    const long value = std::strtol(line.c_str(), &end, 10);
    if (line.empty() || *end != '\0' || value < 0 || value > 255) {
        // Nobody answered the poll within the adapter's time-out.
        GpibResult none = Refused(EABO);
        none.status |= TIMO;
        return none;
    }
    if (status)
        *status = static_cast<short>(value);
    return Done(1);
}

GpibResult CPrologixBackend::DevClear(int board, Addr4882_t address)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    m_timeoutCode = m_handles[0].timeout;
    return ClearLocked(address);
}

GpibResult CPrologixBackend::ClearLocked(Addr4882_t address)
{
    // The universal clear (DCL) has no adapter command.
    if (address == NO_ADDR)
        return Refused(ECAP);
    if (!ValidAddress(address))
        return Refused(EARG);
    GpibResult result;
    if (!Ready(result))
        return result;
    // The device's own reply is not waited for: the clear drops it.
    if (m_in.active && !m_in.ended && m_in.address == address)
        return Silence(address, result) ? Done() : result;
    if (!EndIncoming(result) || !SetAddress(address, result) || !Command("++clr", result))
        return result;
    return Done();
}

GpibResult CPrologixBackend::SendCmds(int board, const void *commands, long count)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    if (count < 0 || (count > 0 && !commands))
        return Refused(EARG);
    // Said in adapter commands, each for the devices addressed to listen;
    // nothing is sent when any byte has no such command.
    const auto *bytes = static_cast<const unsigned char *>(commands);
    std::vector<Addr4882_t> listeners;
    std::vector<std::string> lines;
    for (long i = 0; i < count; ++i) {
        const unsigned char b = bytes[i];
        if (b == UNL) {
            listeners.clear();
        } else if (b >= 0x20 && b <= 0x3E) {
            listeners.push_back(static_cast<Addr4882_t>(b - 0x20));
        } else if (b >= 0x60 && b <= 0x7E && !listeners.empty()) {
            listeners.back() = static_cast<Addr4882_t>((listeners.back() & 0xFF) | (b << 8));
        } else if ((b >= 0x40 && b <= 0x5E) || b == UNT) {
            // Talk addresses only matter to a transfer the adapter makes.
        } else if (b == SDC || b == GTL || b == GET) {
            const char *what = b == SDC ? "++clr" : b == GTL ? "++loc" : "++trg";
            for (Addr4882_t a : listeners) {
                lines.push_back("++addr " + AddressText(a));
                lines.push_back(what);
            }
        } else if (b == LLO) {
            lines.push_back("++llo");
        } else {
            return Refused(ECAP);
        }
    }
    GpibResult result;
    if (!Ready(result) || !EndIncoming(result))
        return result;
    for (const std::string &line : lines)
        if (!Command(line, result))
            return result;
    return Done(count);
}

CPrologixBackend::Handle *CPrologixBackend::Device(int ud, GpibResult &result)
{
    if (ud < 0 || ud >= MAX_HANDLES || !m_handles[ud].used) {
        result = Refused(EDVR);
        return nullptr;
    }
    return &m_handles[ud];
}

GpibResult CPrologixBackend::IbFind(const char *name, int *ud)
{
    *ud = -1;
    if (!name || std::strcmp(name, "gpib0") != 0)
        return Refused(EDVR);
    *ud = 0;
    return Done();
}

GpibResult CPrologixBackend::IbDev(int board, int pad, int sad, int tmo, int eot, int, int *ud)
{
    std::lock_guard<std::mutex> hold(m_lock);
    *ud = -1;
    if (board != 0)
        return Refused(ENEB);
    if (pad < 0 || pad > 30 || (sad != 0 && (sad < 0x60 || sad > 0x7E)) || tmo < 0 ||
        tmo >= static_cast<int>(std::size(TIMEOUT_MS)))
        return Refused(EARG);
    for (int i = FIRST_DEVICE; i < MAX_HANDLES; ++i) {
        if (!m_handles[i].used) {
            m_handles[i] = Handle{true, false, pad, sad, tmo, eot != 0};
            *ud = i;
            return Done();
        }
    }
    return Refused(EDVR);
}

GpibResult CPrologixBackend::IbConfig(int ud, int option, int value)
{
    std::lock_guard<std::mutex> hold(m_lock);
    GpibResult result;
    Handle *handle = Device(ud, result);
    if (!handle)
        return result;
    switch (option) {
    case IBC_TMO:
        if (value < 0 || value >= static_cast<int>(std::size(TIMEOUT_MS)))
            return Refused(EARG);
        handle->timeout = value;
        break;
    case IBC_EOT:
        handle->eot = value != 0;
        break;
    case IBC_PAD:
        if (value < 0 || value > 30)
            return Refused(EARG);
        handle->pad = value;
        break;
    case IBC_SAD:
        if (value != 0 && (value < 0x60 || value > 0x7E))
            return Refused(EARG);
        handle->sad = value;
        break;
    default:
        return Refused(ECAP);
    }
    return Done();
}

GpibResult CPrologixBackend::IbAsk(int ud, int option, int *value)
{
    std::lock_guard<std::mutex> hold(m_lock);
    GpibResult result;
    Handle *handle = Device(ud, result);
    if (!handle)
        return result;
    switch (option) {
    case IBC_TMO:
        *value = handle->timeout;
        break;
    case IBC_EOT:
        *value = handle->eot ? 1 : 0;
        break;
    case IBC_PAD:
        *value = handle->pad;
        break;
    case IBC_SAD:
        *value = handle->sad;
        break;
    default:
        return Refused(ECAP);
    }
    return Done();
}

GpibResult CPrologixBackend::IbOnl(int ud, int online)
{
    std::lock_guard<std::mutex> hold(m_lock);
    GpibResult result;
    Handle *handle = Device(ud, result);
    if (!handle)
        return result;
    if (!handle->board) {
        if (!online)
            *handle = Handle();
        return Done();
    }
    // The board offline lets the adapter go; online again starts it afresh.
    m_link.Close();
    m_ready = false;
    m_in = Incoming();
    if (online && !Ready(result))
        return result;
    return Done();
}

GpibResult CPrologixBackend::IbTmo(int ud, int timeout)
{
    return IbConfig(ud, IBC_TMO, timeout);
}

GpibResult CPrologixBackend::IbWait(int ud, int mask)
{
    std::unique_lock<std::mutex> hold(m_lock);
    GpibResult result;
    const Handle *handle = Device(ud, result);
    if (!handle)
        return result;
    const Handle copy = *handle;
    const bool forService = copy.board ? (mask & SRQI) != 0 : (mask & RQS) != 0;
    if (!forService)
        return Done();
    m_timeoutCode = copy.timeout;
    // Waiting for a service request is asking for it until it comes.
    const int ms = TimeoutMs();
    const auto deadline = ms == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        // Between two asks other threads' calls go on: the descriptor may
        // have gone meanwhile.
        if (!Device(ud, result))
            return result;
        m_timeoutCode = copy.timeout;
        if (copy.board) {
            std::string line;
            if (!Ready(result) || !EndIncoming(result) || !Query("++srq", line, result))
                return result;
            if (line == "1")
                return Done(0, SRQI);
        } else {
            short status = 0;
            const GpibResult polled = PollLocked(DeviceAddress(copy), &status);
            if ((polled.status & ERR) != 0)
                return polled;
            if (status & 0x40) {
                // The poll took the byte from the device: it is the next
                // ibrsp's, as after a driver's own poll.
                Device(ud, result)->polledStatus = status;
                return Done(0, RQS);
            }
        }
        if (Clock::now() >= deadline)
            return Done(0, TIMO);
        hold.unlock();
        timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
        hold.lock();
    }
}

// The device a descriptor names, for the calls that take one; null with
// the refusal in `result` for the board or a descriptor not in use.
const CPrologixBackend::Handle *CPrologixBackend::DeviceCall(int ud, GpibResult &result)
{
    const Handle *handle = Device(ud, result);
    if (!handle)
        return nullptr;
    if (handle->board) {
        result = Refused(ECAP);
        return nullptr;
    }
    m_timeoutCode = handle->timeout;
    return handle;
}

Addr4882_t CPrologixBackend::DeviceAddress(const Handle &handle)
{
    return static_cast<Addr4882_t>(handle.pad | handle.sad << 8);
}

GpibResult CPrologixBackend::IbRd(int ud, void *buffer, long count)
{
    std::lock_guard<std::mutex> hold(m_lock);
    GpibResult result;
    const Handle *handle = DeviceCall(ud, result);
    return handle ? ReceiveLocked(DeviceAddress(*handle), buffer, count, STOP_END) : result;
}

GpibResult CPrologixBackend::IbWrt(int ud, const void *buffer, long count)
{
    std::lock_guard<std::mutex> hold(m_lock);
    GpibResult result;
    const Handle *handle = DeviceCall(ud, result);
    return handle ? SendLocked(DeviceAddress(*handle), buffer, count, handle->eot ? DAB_END : NULL_END)
                  : result;
}

GpibResult CPrologixBackend::IbWrtf(int ud, const char *path)
{
    std::ifstream file(path ? path : "", std::ios::binary);
    if (!file)
        return Refused(EFSO);
    const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return IbWrt(ud, data.data(), static_cast<long>(data.size()));
}

GpibResult CPrologixBackend::IbRsp(int ud, char *status)
{
    std::lock_guard<std::mutex> hold(m_lock);
    GpibResult result;
    const Handle *handle = DeviceCall(ud, result);
    if (!handle)
        return result;
    if (handle->polledStatus >= 0) {
        if (status)
            *status = static_cast<char>(handle->polledStatus);
        m_handles[ud].polledStatus = -1;
        return Done();
    }
    short value = 0;
    result = PollLocked(DeviceAddress(*handle), &value);
    if ((result.status & ERR) == 0 && status)
        *status = static_cast<char>(value);
    return result;
}

GpibResult CPrologixBackend::IbClr(int ud)
{
    std::lock_guard<std::mutex> hold(m_lock);
    GpibResult result;
    const Handle *handle = DeviceCall(ud, result);
    return handle ? ClearLocked(DeviceAddress(*handle)) : result;
}

} // namespace gpib32
