// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// libni4882.so as NI-488.2 for Linux presents itself, over the simulated bus
// (SimBus.h; board 0, the instrument at address 14). Names, types and values
// follow NI's public header ni4882.h and its Linux release notes: Send's
// NULLend 0x00, NLend 0x01, DABend 0x02; STOPend 0x0100; Addr4882_t short;
// counts size_t; every unsigned long of the header an unsigned int (since
// NI-488.2 for Linux 3.2). ibfindA and ibwrtfA are the functions (ibfind and
// ibwrtf are macros for them), ibtmo is only a macro for ibconfig(ud, IbcTMO,
// v) and ThreadIbcntl() one for ThreadIbcnt(), so none of those three is
// exported. Status: Ibsta(), Iberr(), Ibcnt() per process, ThreadIbsta(),
// ThreadIberr(), ThreadIbcnt() per thread, and the process variables ibsta,
// iberr, ibcnt, ibcntl, which after every call hold the simulation's own
// check of the board (no count, no END, no ERR), never the caller's: only
// the Thread calls give those. DevClear and ibclr clear the device. The forced
// failures of SimBus.h (TALLIX_SIM_GPIB_RECEIVE_ERR, TALLIX_SIM_GPIB_POLL_ERR)
// apply.

#include "sim/gpibbackend/SimBus.h"
#include "sim/model/SimSupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#define NISIM_EXPORT __attribute__((visibility("default")))

using Addr4882_t = short;

namespace {

using tallixsim::BusError;
using tallixsim::BusHandle;
using tallixsim::BusOutcome;
using tallixsim::SimBus;
using tallixsim::WriteEnd;

// Status word bits.
constexpr unsigned ERR = 1u << 15;
constexpr unsigned TIMO = 1u << 14;
constexpr unsigned END = 1u << 13;
constexpr unsigned CMPL = 1u << 8;
constexpr unsigned REM = 1u << 6;
constexpr unsigned CIC = 1u << 5;

// Error codes.
constexpr unsigned EDVR = 0;
constexpr unsigned ENOL = 2;
constexpr unsigned EARG = 4;
constexpr unsigned EABO = 6;
constexpr unsigned ENEB = 7;
constexpr unsigned EFSO = 12;
constexpr unsigned EHDL = 23;

// Values used by Send and Receive.
constexpr int NULLend = 0x00;
constexpr int NLend = 0x01;
constexpr int DABend = 0x02;
constexpr int STOPend = 0x0100;

// ibconfig / ibask options.
constexpr int IbcPAD = 0x0001;
constexpr int IbcSAD = 0x0002;
constexpr int IbcTMO = 0x0003;
constexpr int IbcEOT = 0x0004;
constexpr int T1000s = 17;

} // namespace

extern "C" {
NISIM_EXPORT unsigned int ibsta = 0;
NISIM_EXPORT unsigned int iberr = 0;
NISIM_EXPORT unsigned int ibcnt = 0;
NISIM_EXPORT unsigned int ibcntl = 0;
}

namespace {

unsigned ErrorCode(BusError error)
{
    switch (error) {
    case BusError::NO_LISTENER:
        return ENOL;
    case BusError::NO_BOARD:
        return ENEB;
    case BusError::BAD_ARGUMENT:
        return EARG;
    case BusError::BAD_HANDLE:
        return EHDL;
    case BusError::TIMED_OUT:
        return EABO;
    case BusError::FILE_ERROR:
        return EFSO;
    case BusError::NOT_FOUND:
    case BusError::LIBRARY_CODE:
    case BusError::NONE:
        break;
    }
    return EDVR;
}

unsigned Finish(const BusOutcome &outcome)
{
    unsigned status = outcome.errOnly ? 0 : CMPL | CIC | (SimBus::Instance().Remote() ? REM : 0);
    if (outcome.end)
        status |= END;
    tallixsim::ThreadStatus &thread = tallixsim::CurrentThreadStatus();
    if (outcome.error != BusError::NONE) {
        const bool own = outcome.error == BusError::LIBRARY_CODE;
        status |= ERR;
        if (outcome.error == BusError::TIMED_OUT || (own && outcome.code == tallixsim::ABORTED_ERROR))
            status |= TIMO;
        thread.error = own ? static_cast<unsigned>(outcome.code) : ErrorCode(outcome.error);
        iberr = static_cast<unsigned>(thread.error);
    }
    thread.status = status;
    thread.count = outcome.count;
    // The process-wide values are those of the last call of any thread.
    // So that a caller that reads them instead of its thread's own shows
    // with one thread too, the simulation makes a call of its own after each
    // of its caller's, as a library with a thread of its own may: a check of
    // the board, which counts nothing and ends no transfer.
    ibsta = CMPL | CIC | (SimBus::Instance().Remote() ? REM : 0);
    ibcnt = 0;
    ibcntl = 0;
    return status;
}

BusOutcome Failure(BusError error)
{
    BusOutcome outcome;
    outcome.error = error;
    return outcome;
}

bool EndMode(int eotMode, WriteEnd &end)
{
    if (eotMode == NULLend)
        end = WriteEnd::NO_EOI;
    else if (eotMode == NLend)
        end = WriteEnd::NEWLINE_WITH_EOI;
    else if (eotMode == DABend)
        end = WriteEnd::EOI_ON_LAST_BYTE;
    else
        return false;
    return true;
}

// The bus's counts are longs; a size_t beyond them is a bad argument.
long Count(std::size_t count)
{
    return count > static_cast<std::size_t>(0x7FFFFFFF) ? -1 : static_cast<long>(count);
}

BusHandle *HandleOf(int ud)
{
    BusHandle *handle = SimBus::Instance().Handle(ud);
    if (!handle)
        Finish(Failure(BusError::BAD_HANDLE));
    return handle;
}

} // namespace

extern "C" {

NISIM_EXPORT unsigned int Ibsta(void)
{
    return ibsta;
}

NISIM_EXPORT unsigned int Iberr(void)
{
    return iberr;
}

NISIM_EXPORT unsigned int Ibcnt(void)
{
    return ibcnt;
}

NISIM_EXPORT unsigned int ThreadIbsta(void)
{
    return static_cast<unsigned>(tallixsim::CurrentThreadStatus().status);
}

NISIM_EXPORT unsigned int ThreadIberr(void)
{
    return static_cast<unsigned>(tallixsim::CurrentThreadStatus().error);
}

NISIM_EXPORT unsigned int ThreadIbcnt(void)
{
    return static_cast<unsigned>(tallixsim::CurrentThreadStatus().count);
}

NISIM_EXPORT void SendIFC(int boardID)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    Finish(SimBus::Instance().InterfaceClear(boardID));
}

NISIM_EXPORT void EnableRemote(int boardID, const Addr4882_t *addrlist)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    Finish(SimBus::Instance().EnableRemote(boardID, reinterpret_cast<const std::uint16_t *>(addrlist)));
}

NISIM_EXPORT void Send(int boardID, Addr4882_t addr, const void *databuf, size_t datacnt, int eotMode)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    WriteEnd end;
    if (!EndMode(eotMode, end)) {
        Finish(Failure(BusError::BAD_ARGUMENT));
        return;
    }
    Finish(SimBus::Instance().Write(boardID, static_cast<std::uint16_t>(addr), databuf, Count(datacnt), end));
}

NISIM_EXPORT void Receive(int boardID, Addr4882_t addr, void *buffer, size_t cnt, int Termination)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusOutcome forced;
    if (tallixsim::ForcedReceiveFailure(buffer, Count(cnt), forced)) {
        Finish(forced);
        return;
    }
    const bool stopOnEos = Termination != STOPend;
    Finish(SimBus::Instance().Read(boardID, static_cast<std::uint16_t>(addr), buffer, Count(cnt), stopOnEos,
                                   static_cast<unsigned char>(Termination & 0xFF)));
}

NISIM_EXPORT void ReadStatusByte(int boardID, Addr4882_t addr, short *result)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusOutcome forced;
    if (tallixsim::ForcedPollFailure(forced)) {
        Finish(forced);
        return;
    }
    Finish(SimBus::Instance().SerialPoll(boardID, static_cast<std::uint16_t>(addr), result));
}

NISIM_EXPORT void DevClear(int boardID, Addr4882_t addr)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    Finish(SimBus::Instance().DeviceClear(boardID, static_cast<std::uint16_t>(addr)));
}

NISIM_EXPORT void SendCmds(int boardID, const void *buffer, size_t cnt)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    Finish(SimBus::Instance().Commands(boardID, buffer, Count(cnt)));
}

NISIM_EXPORT void FindLstn(int boardID, const Addr4882_t *addrlist, Addr4882_t *results, size_t limit)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    Finish(SimBus::Instance().FindListeners(boardID, reinterpret_cast<const std::uint16_t *>(addrlist),
                                            reinterpret_cast<std::uint16_t *>(results), Count(limit)));
}

NISIM_EXPORT int ibfindA(const char *udname)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    const int ud = SimBus::Instance().OpenBoard(udname);
    Finish(ud < 0 ? Failure(BusError::NOT_FOUND) : BusOutcome{});
    return ud;
}

NISIM_EXPORT int ibdev(int boardID, int pad, int sad, int tmo, int eot, int eos)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    (void)eos;
    if (tmo < 0 || tmo > T1000s) {
        Finish(Failure(BusError::BAD_ARGUMENT));
        return -1;
    }
    const int ud = SimBus::Instance().OpenDevice(boardID, pad, sad, tmo, eot != 0);
    Finish(ud < 0 ? Failure(boardID != 0 ? BusError::NO_BOARD : BusError::BAD_ARGUMENT) : BusOutcome{});
    return ud;
}

NISIM_EXPORT unsigned int ibonl(int ud, int v)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (!HandleOf(ud))
        return ThreadIbsta();
    if (v == 0)
        SimBus::Instance().Close(ud);
    return Finish({});
}

NISIM_EXPORT unsigned int ibconfig(int ud, int option, int v)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ThreadIbsta();
    if (option == IbcTMO) {
        if (v < 0 || v > T1000s)
            return Finish(Failure(BusError::BAD_ARGUMENT));
        handle->timeout = v;
    } else if (option == IbcEOT) {
        handle->eot = v != 0;
    } else if (option == IbcPAD && !handle->board) {
        handle->pad = static_cast<unsigned>(v);
    } else if (option == IbcSAD) {
        handle->sad = v;
    }
    return Finish({});
}

NISIM_EXPORT unsigned int ibask(int ud, int option, int *v)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ThreadIbsta();
    if (!v)
        return Finish(Failure(BusError::BAD_ARGUMENT));
    if (option == IbcTMO)
        *v = handle->timeout;
    else if (option == IbcEOT)
        *v = handle->eot ? 1 : 0;
    else if (option == IbcPAD)
        *v = static_cast<int>(handle->pad);
    else if (option == IbcSAD)
        *v = handle->sad;
    else
        *v = 0;
    return Finish({});
}

NISIM_EXPORT unsigned int ibwait(int ud, int mask)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    (void)mask;
    if (!HandleOf(ud))
        return ThreadIbsta();
    return Finish({});
}

NISIM_EXPORT unsigned int ibwrt(int ud, const void *buf, size_t cnt)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ThreadIbsta();
    const WriteEnd end = handle->eot ? WriteEnd::EOI_ON_LAST_BYTE : WriteEnd::NO_EOI;
    return Finish(SimBus::Instance().Write(handle->boardIndex, handle->pad, buf, Count(cnt), end));
}

NISIM_EXPORT unsigned int ibrd(int ud, void *buf, size_t cnt)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ThreadIbsta();
    BusOutcome forced;
    if (tallixsim::ForcedReceiveFailure(buf, Count(cnt), forced))
        return Finish(forced);
    return Finish(SimBus::Instance().Read(handle->boardIndex, handle->pad, buf, Count(cnt), false, 0));
}

NISIM_EXPORT unsigned int ibwrtfA(int ud, const char *filename)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ThreadIbsta();
    std::string data;
    if (!tallixsim::ReadWholeFile(filename, data))
        return Finish(Failure(BusError::FILE_ERROR));
    const WriteEnd end = handle->eot ? WriteEnd::EOI_ON_LAST_BYTE : WriteEnd::NO_EOI;
    return Finish(SimBus::Instance().Write(handle->boardIndex, handle->pad, data.data(),
                                           static_cast<long>(data.size()), end));
}

NISIM_EXPORT unsigned int ibrsp(int ud, char *spr)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ThreadIbsta();
    BusOutcome forced;
    if (tallixsim::ForcedPollFailure(forced))
        return Finish(forced);
    short value = 0;
    const BusOutcome outcome = SimBus::Instance().SerialPoll(handle->boardIndex, handle->pad, &value);
    if (outcome.error == BusError::NONE && spr)
        *spr = static_cast<char>(value);
    return Finish(outcome);
}

NISIM_EXPORT unsigned int ibclr(int ud)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ThreadIbsta();
    // A board's descriptor names no device to clear.
    if (handle->board)
        return Finish(Failure(BusError::BAD_ARGUMENT));
    return Finish(SimBus::Instance().DeviceClear(handle->boardIndex, handle->pad));
}

} // extern "C"
