// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// libgpib-32.so: an NI-488.2-compatible library that simulates interface board
// 0 with one instrument on its bus. The instrument answers through the shared
// instrument model (sim/model), so every link sees the same device.
//
// Environment, read at each call:
//   TALLIX_SIM_GPIB_ADDRESS     primary address of the instrument, 0 to 30
//                               (default 14). Any other address has no
//                               listener: ERR with iberr ENOL.
//   TALLIX_SIM_GPIB_TIMEOUT_MS  how long a Receive with nothing to read waits
//                               before it gives up with TIMO (default 3 ms).
//                               The instrument, addressed to talk with nothing
//                               to say, also queues -420 "Query UNTERMINATED"
//                               (SYST:ERR? reads it), as an IEEE 488.2 device
//                               does.
//   TALLIX_SIM_GPIB_TRACE       a file to which one line per call is appended,
//                               e.g. "SendIFC 0", "EnableRemote 0 14",
//                               "Send 0 14 7 2", "Receive 0 14 4048 256",
//                               "ReadStatusByte 0 14", "DevClear 0 14",
//                               "ibclr 3".
//   TALLIX_SIM_GPIB_STATUS      a status word (0x... or decimal) that Send and
//                               Receive leave in user_ibsta instead of their
//                               own, to try a caller against any word.
//   TALLIX_SIM_GPIB_COUNT       a count that every Receive reports instead of
//                               its own, having filled that much of the
//                               buffer (at most all of it) with 'A'.
//   TALLIX_SIM_GPIB_RECEIVE_ERR <iberr>[:<ibcnt>]: every Receive and ibrd fails
//                               with ERR (and TIMO for EABO, 6), that error
//                               and that count, having filled the caller's
//                               buffer with 0xEE bytes; the instrument keeps
//                               its reply. "0:5" is EDVR with the errno EIO
//                               in the count, as a driver's error comes.
//   TALLIX_SIM_GPIB_POLL_ERR    <iberr>: every ReadStatusByte and ibrsp fails
//                               with ERR (and TIMO for EABO) and that error,
//                               leaving the result untouched.
//   TALLIX_SIM_GPIB_READ_PAUSE_MS  how long every Receive and ibrd pauses
//                               after it has left its status and count, and
//                               before it returns, as a driver slow to hand
//                               a transfer back: a call of another thread
//                               made meanwhile overwrites them, unless the
//                               callers take turns.
//
// DevClear(board, address) and ibclr(ud) clear the device: it drops a
// half-received command and its waiting reply, and keeps its settings (no
// *RST). DevClear with NOADDR clears every device on the bus.
//
// Broken builds of the same source for the tests (compile definitions):
//   GPIBSIM_SEND_ERR      every Send ends with ERR (iberr EBUS), nothing sent
//   GPIBSIM_RECEIVE_TIMO  every Receive times out, also with data waiting
//   GPIBSIM_BIG_COUNT     Receive fills the whole buffer and reports a count
//                         larger than the buffer
// Builds that lack a name are made at link time (the export list).

#include "sim/model/InstrumentModel.h"
#include "sim/model/SimSupport.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#define GPIBSIM_EXPORT __attribute__((visibility("default")))

using Addr4882_t = unsigned short;

namespace {

using tallixsim::TraceLine;
// Where each call is recorded, one line a call.
constexpr const char *TRACE_VARIABLE = "TALLIX_SIM_GPIB_TRACE";

constexpr Addr4882_t NOADDR = 0xFFFF;

// Status word bits.
constexpr int ERR = 0x8000;
constexpr int TIMO = 0x4000;
constexpr int END = 0x2000;
constexpr int CMPL = 0x0100;
constexpr int REM = 0x0040;
constexpr int CIC = 0x0020;

// Error codes.
constexpr int EDVR = 0;
constexpr int ENOL = 2;
constexpr int EARG = 4;
constexpr int EABO = 6;
constexpr int ENEB = 7;
constexpr int EFSO = 12;
constexpr int EBUS = 14;

// Termination of a Receive that stops only at END.
constexpr int STOPEND = 0x0100;
// End modes of Send.
constexpr int NULLEND = 0;
constexpr int DABEND = 2;

constexpr long DEFAULT_TIMEOUT_MS = 3;
constexpr int MAX_DEVICES = 32;

struct Device
{
    bool used = false;
    int board = 0;
    Addr4882_t address = 0;
    int eot = 1;
    int timeout = 0;
};

struct Bus
{
    tallixsim::InstrumentModel instrument;
    std::string input; // bytes of a message not yet ended
    // How much of the instrument's waiting response has been read. The
    // response stays with the instrument until it is read whole, so that a
    // reset or a new query drops it there.
    std::size_t outputPos = 0;
    bool remote = false;
    int boardTimeout = 13; // T10s, the usual default of a board
    Device devices[MAX_DEVICES];
};

Bus &TheBus()
{
    static Bus bus;
    return bus;
}

[[maybe_unused]] bool OutputWaiting()
{
    const Bus &bus = TheBus();
    return bus.instrument.hasResponse() && bus.outputPos < bus.instrument.pending().size();
}

} // namespace

extern "C" {

GPIBSIM_EXPORT int user_ibsta = 0;
GPIBSIM_EXPORT int user_iberr = 0;
GPIBSIM_EXPORT int user_ibcnt = 0;
GPIBSIM_EXPORT long user_ibcntl = 0;

} // extern "C"

namespace {

void SetCount(long n)
{
    user_ibcntl = n;
    user_ibcnt = static_cast<int>(n);
}

int BoardStatus()
{
    return CIC | (TheBus().remote ? REM : 0);
}

void Done(int extra)
{
    user_ibsta = BoardStatus() | CMPL | extra;
}

void Fail(int error, int extra = 0)
{
    user_iberr = error;
    user_ibsta = BoardStatus() | CMPL | ERR | extra;
}

// Send and Receive may have their status word overridden, so that a caller
// can be tried against any word.
void ApplyForcedStatus()
{
    const long forced = tallixsim::EnvNumber("TALLIX_SIM_GPIB_STATUS", -1);
    if (forced >= 0)
        user_ibsta = static_cast<int>(forced);
}

bool BoardExists(int board)
{
    if (board == 0)
        return true;
    Fail(ENEB);
    SetCount(0);
    return false;
}

// The instrument has a primary address and no secondary one.
bool Listens(Addr4882_t address)
{
    return (address & 0xFF00) == 0 && address == tallixsim::GpibInstrumentAddress();
}

void RunCommand(const std::string &line)
{
    Bus &bus = TheBus();
    // A new response replaces one that was not read, as a device's output
    // queue does when a new query arrives; a reset drops it.
    const bool hadResponse = bus.instrument.hasResponse();
    if (bus.instrument.command(line) || (hadResponse && !bus.instrument.hasResponse()))
        bus.outputPos = 0;
}

// Bytes to the instrument: each LF ends a command, and so does END (EOI)
// with the last byte.
[[maybe_unused]] void Deliver(const char *data, long count, bool end)
{
    Bus &bus = TheBus();
    bus.input.append(data, static_cast<std::size_t>(count));
    std::size_t lf;
    while ((lf = bus.input.find('\n')) != std::string::npos) {
        const std::string line = bus.input.substr(0, lf + 1);
        bus.input.erase(0, lf + 1);
        RunCommand(line);
    }
    if (end && !bus.input.empty()) {
        const std::string line = bus.input;
        bus.input.clear();
        RunCommand(line);
    }
}

// The checks that every transfer makes before it moves a byte; a failed one
// leaves its error and a count of 0.
bool TransferPossible(int board, Addr4882_t address, const void *buffer, long count)
{
    if (!BoardExists(board))
        return false;
    if (count < 0 || (count > 0 && !buffer)) {
        Fail(EARG);
        SetCount(0);
        return false;
    }
    if (!Listens(address)) {
        Fail(ENOL);
        SetCount(0);
        return false;
    }
    return true;
}

void DoSend(int board, Addr4882_t address, const void *buffer, long count, int eotMode)
{
    if (!TransferPossible(board, address, buffer, count))
        return;
#ifdef GPIBSIM_SEND_ERR
    (void)eotMode;
    Fail(EBUS);
    SetCount(0);
#else
    Deliver(static_cast<const char *>(buffer), count, eotMode != NULLEND);
    SetCount(count);
    Done(0);
#endif
}

void DoReceive(int board, Addr4882_t address, void *buffer, long count, int termination)
{
    if (!TransferPossible(board, address, buffer, count))
        return;
    Bus &bus = TheBus();
#ifdef GPIBSIM_RECEIVE_TIMO
    const bool nothing = true;
#else
    const bool nothing = !OutputWaiting();
#endif
    if (nothing) {
        // The device never talks: the board waits out its time-out, and the
        // device, addressed to talk with nothing to say, notes the error.
        if (!OutputWaiting())
            bus.instrument.queryUnterminated();
        tallixsim::SleepMs(tallixsim::EnvNumber("TALLIX_SIM_GPIB_TIMEOUT_MS", DEFAULT_TIMEOUT_MS));
        Fail(EABO, TIMO);
        SetCount(0);
        return;
    }

    auto *out = static_cast<char *>(buffer);
    const std::string &output = bus.instrument.pending();
    const std::size_t left = output.size() - bus.outputPos;
    std::size_t n = left < static_cast<std::size_t>(count) ? left : static_cast<std::size_t>(count);
    bool end = (n == left);
    if (termination != STOPEND) {
        // An end-of-string byte also stops the transfer, after it.
        const auto eos = static_cast<char>(termination & 0xFF);
        const std::size_t at = output.find(eos, bus.outputPos);
        if (at != std::string::npos && at - bus.outputPos < n) {
            n = at - bus.outputPos + 1;
            end = true;
        }
    }
    std::memcpy(out, output.data() + bus.outputPos, n);
    bus.outputPos += n;
    if (bus.outputPos >= output.size()) {
        bus.instrument.drop();
        bus.outputPos = 0;
    }
#ifdef GPIBSIM_BIG_COUNT
    // A library that claims more than the buffer holds: the buffer is full,
    // the count is not to be trusted.
    std::memset(out + n, '#', static_cast<std::size_t>(count) - n);
    SetCount(count + 100);
#else
    SetCount(static_cast<long>(n));
#endif
    Done(end ? END : 0);
}

int DoSerialPoll(int board, Addr4882_t address, short *result)
{
    if (!BoardExists(board))
        return -1;
    if (!Listens(address)) {
        Fail(ENOL);
        SetCount(0);
        return -1;
    }
    // MAV while a response (or the rest of one) waits, RQS after a service request.
    const int status = TheBus().instrument.serialPoll();
    if (result)
        *result = static_cast<short>(status);
    SetCount(1);
    Done(0);
    return status;
}

// TALLIX_SIM_GPIB_RECEIVE_ERR's failure, with the buffer spoilt; false when
// it is not set.
bool ForcedReceiveFailure(void *buffer, long count)
{
    int error = 0;
    long n = 0;
    if (!tallixsim::EnvGpibFailure("TALLIX_SIM_GPIB_RECEIVE_ERR", error, n))
        return false;
    if (buffer && count > 0)
        std::memset(buffer, 0xEE, static_cast<std::size_t>(count));
    Fail(error, error == EABO ? TIMO : 0);
    SetCount(n);
    return true;
}

// TALLIX_SIM_GPIB_POLL_ERR's failure; false when it is not set.
bool ForcedPollFailure()
{
    int error = 0;
    long n = 0;
    if (!tallixsim::EnvGpibFailure("TALLIX_SIM_GPIB_POLL_ERR", error, n))
        return false;
    Fail(error, error == EABO ? TIMO : 0);
    SetCount(0);
    return true;
}

void DoDeviceClear(int board, Addr4882_t address)
{
    if (!BoardExists(board))
        return;
    if (address != NOADDR && !Listens(address)) {
        Fail(ENOL);
        SetCount(0);
        return;
    }
    Bus &bus = TheBus();
    bus.input.clear();
    bus.instrument.deviceClear();
    bus.outputPos = 0;
    SetCount(0);
    Done(0);
}

void PauseAfterRead()
{
    const long ms = tallixsim::EnvNumber("TALLIX_SIM_GPIB_READ_PAUSE_MS", 0);
    if (ms > 0)
        tallixsim::SleepMs(ms);
}

Device *DeviceOf(int ud)
{
    if (ud < 1 || ud >= MAX_DEVICES || !TheBus().devices[ud].used) {
        Fail(EDVR);
        return nullptr;
    }
    return &TheBus().devices[ud];
}

} // namespace

extern "C" {

GPIBSIM_EXPORT void SendIFC(int board)
{
    TraceLine(TRACE_VARIABLE, "SendIFC %d", board);
    if (!BoardExists(board))
        return;
    Bus &bus = TheBus();
    // The interface clear unaddresses the bus; a message half sent is lost.
    bus.input.clear();
    SetCount(0);
    Done(0);
}

GPIBSIM_EXPORT void EnableRemote(int board, const Addr4882_t *addressList)
{
    std::string list;
    for (const Addr4882_t *a = addressList; a && *a != NOADDR; ++a) {
        list += ' ';
        list += std::to_string(*a);
    }
    TraceLine(TRACE_VARIABLE, "EnableRemote %d%s", board, list.c_str());
    if (!BoardExists(board))
        return;
    TheBus().remote = true;
    SetCount(0);
    for (const Addr4882_t *a = addressList; a && *a != NOADDR; ++a) {
        if (!Listens(*a)) {
            Fail(ENOL);
            return;
        }
    }
    Done(0);
}

GPIBSIM_EXPORT void Send(int board, Addr4882_t address, const void *buffer, long count, int eotMode)
{
    TraceLine(TRACE_VARIABLE, "Send %d %u %ld %d", board, address, count, eotMode);
    DoSend(board, address, buffer, count, eotMode);
    ApplyForcedStatus();
}

GPIBSIM_EXPORT void Receive(int board, Addr4882_t address, void *buffer, long count, int termination)
{
    TraceLine(TRACE_VARIABLE, "Receive %d %u %ld %d", board, address, count, termination);
    if (ForcedReceiveFailure(buffer, count)) {
        ApplyForcedStatus();
        PauseAfterRead();
        return;
    }
    DoReceive(board, address, buffer, count, termination);
    ApplyForcedStatus();
    const long forcedCount = tallixsim::EnvNumber("TALLIX_SIM_GPIB_COUNT", -1);
    if (forcedCount >= 0 && buffer && count > 0) {
        std::memset(buffer, 'A', static_cast<std::size_t>(forcedCount < count ? forcedCount : count));
        SetCount(forcedCount);
    }
    PauseAfterRead();
}

GPIBSIM_EXPORT void ReadStatusByte(int board, Addr4882_t address, short *result)
{
    TraceLine(TRACE_VARIABLE, "ReadStatusByte %d %u", board, address);
    if (ForcedPollFailure())
        return;
    DoSerialPoll(board, address, result);
}

GPIBSIM_EXPORT void DevClear(int board, Addr4882_t address)
{
    TraceLine(TRACE_VARIABLE, "DevClear %d %u", board, address);
    DoDeviceClear(board, address);
}

// The listeners among the addresses of `padList` (ended by NOADDR), at most
// `limit` of them, into `results`, ended by NOADDR; the count is how many.
GPIBSIM_EXPORT void FindLstn(int board, const Addr4882_t *padList, Addr4882_t *results, int limit)
{
    TraceLine(TRACE_VARIABLE, "FindLstn %d", board);
    if (!BoardExists(board))
        return;
    if (!padList || !results || limit < 0) {
        Fail(EARG);
        SetCount(0);
        return;
    }
    int found = 0;
    for (const Addr4882_t *a = padList; *a != NOADDR; ++a)
        if (Listens(*a) && found < limit)
            results[found++] = *a;
    if (found < limit)
        results[found] = NOADDR;
    SetCount(found);
    Done(0);
}

GPIBSIM_EXPORT void SendCmds(int board, const void *commands, long count)
{
    TraceLine(TRACE_VARIABLE, "SendCmds %d %ld", board, count);
    if (!BoardExists(board))
        return;
    (void)commands;
    SetCount(count);
    Done(0);
}

// The traditional device-level calls: a board descriptor from ibfindA("gpib0"),
// device descriptors from ibdev.

GPIBSIM_EXPORT int ibfindA(const char *name)
{
    TraceLine(TRACE_VARIABLE, "ibfindA %s", name ? name : "");
    if (name && std::strcmp(name, "gpib0") == 0) {
        Done(0);
        return 0;
    }
    Fail(EDVR);
    return -1;
}

GPIBSIM_EXPORT int ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    TraceLine(TRACE_VARIABLE, "ibdev %d %d %d %d %d %d", board, pad, sad, tmo, eot, eos);
    (void)eos;
    if (!BoardExists(board))
        return -1;
    if (pad < 0 || pad > 30) {
        Fail(EARG);
        return -1;
    }
    Bus &bus = TheBus();
    for (int ud = 1; ud < MAX_DEVICES; ++ud) {
        if (!bus.devices[ud].used) {
            bus.devices[ud] = Device{true, board, static_cast<Addr4882_t>(pad | (sad << 8)), eot, tmo};
            Done(0);
            return ud;
        }
    }
    Fail(EDVR);
    return -1;
}

GPIBSIM_EXPORT int ibonl(int ud, int online)
{
    TraceLine(TRACE_VARIABLE, "ibonl %d %d", ud, online);
    if (ud == 0) {
        Done(0);
        return user_ibsta;
    }
    Device *device = DeviceOf(ud);
    if (device && online == 0)
        device->used = false;
    if (device)
        Done(0);
    return user_ibsta;
}

GPIBSIM_EXPORT int ibtmo(int ud, int timeout)
{
    TraceLine(TRACE_VARIABLE, "ibtmo %d %d", ud, timeout);
    // Board 0's own descriptor: its time-out is the one the board-level
    // calls (Send, Receive) use.
    if (ud == 0) {
        TheBus().boardTimeout = timeout;
        Done(0);
    } else if (Device *device = DeviceOf(ud)) {
        device->timeout = timeout;
        Done(0);
    }
    return user_ibsta;
}

GPIBSIM_EXPORT int ibconfig(int ud, int option, int value)
{
    TraceLine(TRACE_VARIABLE, "ibconfig %d %d %d", ud, option, value);
    if (ud == 0 || DeviceOf(ud)) {
        user_iberr = 0;
        Done(0);
    }
    return user_ibsta;
}

GPIBSIM_EXPORT int ibask(int ud, int option, int *value)
{
    TraceLine(TRACE_VARIABLE, "ibask %d %d", ud, option);
    constexpr int IBA_PAD = 0x0001;
    constexpr int IBA_SAD = 0x0002;
    constexpr int IBA_TMO = 0x0003;
    if (!value) {
        Fail(EARG);
        return user_ibsta;
    }
    if (ud == 0) {
        *value = option == IBA_TMO ? TheBus().boardTimeout : 0;
        Done(0);
        return user_ibsta;
    }
    Device *device = DeviceOf(ud);
    if (!device)
        return user_ibsta;
    if (option == IBA_PAD)
        *value = device->address & 0xFF;
    else if (option == IBA_SAD)
        *value = device->address >> 8;
    else if (option == IBA_TMO)
        *value = device->timeout;
    else
        *value = 0;
    Done(0);
    return user_ibsta;
}

GPIBSIM_EXPORT int ibwrt(int ud, const void *buffer, long count)
{
    TraceLine(TRACE_VARIABLE, "ibwrt %d %ld", ud, count);
    if (Device *device = DeviceOf(ud))
        DoSend(device->board, device->address, buffer, count, device->eot != 0 ? DABEND : NULLEND);
    return user_ibsta;
}

GPIBSIM_EXPORT int ibrd(int ud, void *buffer, long count)
{
    TraceLine(TRACE_VARIABLE, "ibrd %d %ld", ud, count);
    if (!ForcedReceiveFailure(buffer, count)) {
        if (Device *device = DeviceOf(ud))
            DoReceive(device->board, device->address, buffer, count, STOPEND);
    }
    const int status = user_ibsta;
    PauseAfterRead();
    return status;
}

GPIBSIM_EXPORT int ibwrtfA(int ud, const char *path)
{
    TraceLine(TRACE_VARIABLE, "ibwrtfA %d %s", ud, path ? path : "");
    Device *device = DeviceOf(ud);
    if (!device)
        return user_ibsta;
    std::string data;
    if (!tallixsim::ReadWholeFile(path, data)) {
        Fail(EFSO);
        SetCount(0);
        return user_ibsta;
    }
    DoSend(device->board, device->address, data.data(), static_cast<long>(data.size()),
           device->eot != 0 ? DABEND : NULLEND);
    return user_ibsta;
}

GPIBSIM_EXPORT int ibrsp(int ud, char *status)
{
    TraceLine(TRACE_VARIABLE, "ibrsp %d", ud);
    if (ForcedPollFailure())
        return user_ibsta;
    if (Device *device = DeviceOf(ud)) {
        short value = 0;
        if (DoSerialPoll(device->board, device->address, &value) >= 0 && status)
            *status = static_cast<char>(value);
    }
    return user_ibsta;
}

GPIBSIM_EXPORT int ibclr(int ud)
{
    TraceLine(TRACE_VARIABLE, "ibclr %d", ud);
    // The board's own descriptor names no device to clear.
    if (ud == 0) {
        Fail(EARG);
        SetCount(0);
    } else if (Device *device = DeviceOf(ud)) {
        DoDeviceClear(device->board, device->address);
    }
    return user_ibsta;
}

GPIBSIM_EXPORT int ibwait(int ud, int mask)
{
    TraceLine(TRACE_VARIABLE, "ibwait %d %d", ud, mask);
    if (ud == 0 || DeviceOf(ud))
        Done(0);
    return user_ibsta;
}

} // extern "C"
