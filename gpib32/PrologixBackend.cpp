// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The calls gpib-32 passes on, checked before anything is said to the
// adapter, and the descriptors they name.
#include "gpib32/PrologixBackend.h"

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
// Multiline GPIB messages that SendCmds can say through the adapter.
constexpr unsigned char GTL = 0x01;
constexpr unsigned char SDC = 0x04;
constexpr unsigned char GET = 0x08;
constexpr unsigned char LLO = 0x11;
constexpr unsigned char UNL = 0x3F;
constexpr unsigned char UNT = 0x5F;

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

GpibResult CPrologixBackend::Receive(int board, Addr4882_t address, void *buffer, long count, int termination)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    m_timeoutCode = m_handles[0].timeout;
    return ReceiveLocked(address, buffer, count, termination);
}

GpibResult CPrologixBackend::ReadStatusByte(int board, Addr4882_t address, short *status)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    m_timeoutCode = m_handles[0].timeout;
    return PollLocked(address, status);
}

GpibResult CPrologixBackend::DevClear(int board, Addr4882_t address)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (board != 0)
        return Refused(ENEB);
    m_timeoutCode = m_handles[0].timeout;
    return ClearLocked(address);
}

// The adapter has no listener search: refused as a library without one
// refuses it, before the adapter is reached.
GpibResult CPrologixBackend::FindLstn(int, const Addr4882_t *, Addr4882_t *, int)
{
    GpibResult result;
    result.status = ERR;
    result.error = ECAP;
    return result;
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
