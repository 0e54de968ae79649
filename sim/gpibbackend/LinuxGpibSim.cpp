// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// libgpib.so.0 as linux-gpib's user library presents itself, over the
// simulated bus (SimBus.h; board 0, the instrument at address 14). Names,
// types and values follow linux-gpib's public headers gpib/ib.h and
// gpib/gpib_user.h: send_eotmode NULLend 0, DABend 1, NLend 2; STOPend 0x100;
// Addr4882_t uint16_t; counts long; the process variables volatile int ibsta,
// ibcnt, iberr and volatile long ibcntl, and the per-thread ThreadIbsta(),
// ThreadIberr(), ThreadIbcnt(), ThreadIbcntl(); ibfind, ibwrtf, ibtmo, ibvers,
// gpib_error_string; DevClear and ibclr.
//
// Errors as linux-gpib's library sets them: a board index it has no
// descriptor for is EARG (it never reports ENEB); a driver's failure is EDVR
// with the system's errno in the count. TALLIX_SIM_BUS_BOARD, read at each
// call, makes board 0 unusable the ways a real machine's can be, and every
// call that needs it then fails with the status word ERR alone:
//   missing       /dev/gpib0 is not there (no kernel module loaded): EDVR,
//                 count ENOENT (2)
//   unconfigured  the driver is loaded but gpib_config has not set the board
//                 up: EDVR, count EINVAL (22)
//   badconf       /etc/gpib.conf cannot be parsed: ibdev and ibfind fail with
//                 ECNF (17); every other call with EARG, because the library
//                 then has no descriptor for the board (the configuration
//                 error it set is overwritten on the way out)
// The forced failures of SimBus.h (TALLIX_SIM_GPIB_RECEIVE_ERR,
// TALLIX_SIM_GPIB_POLL_ERR) apply too.

#include "sim/gpibbackend/SimBus.h"
#include "sim/model/SimSupport.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define LGSIM_EXPORT __attribute__((visibility("default")))

using Addr4882_t = std::uint16_t;

namespace {

using tallixsim::BusError;
using tallixsim::BusHandle;
using tallixsim::BusOutcome;
using tallixsim::SimBus;
using tallixsim::WriteEnd;

// ibsta bits (enum ibsta_bits).
constexpr int ERR = 1 << 15;
constexpr int TIMO = 1 << 14;
constexpr int END = 1 << 13;
constexpr int CMPL = 1 << 8;
constexpr int REM = 1 << 6;
constexpr int CIC = 1 << 5;

// iberr codes (enum iberr_code).
constexpr int EDVR = 0;
constexpr int ENOL = 2;
constexpr int EARG = 4;
constexpr int EABO = 6;
constexpr int ENEB = 7;
constexpr int EFSO = 12;
constexpr int ECNF = 17;

// enum send_eotmode.
constexpr int NULLend = 0;
constexpr int DABend = 1;
constexpr int NLend = 2;
constexpr int STOPend = 0x100;

// ibconfig / ibask options.
constexpr int IbcPAD = 0x1;
constexpr int IbcSAD = 0x2;
constexpr int IbcTMO = 0x3;
constexpr int IbcEOT = 0x4;
constexpr int T1000s = 17;

} // namespace

extern "C" {
LGSIM_EXPORT volatile int ibsta = 0;
LGSIM_EXPORT volatile int ibcnt = 0;
LGSIM_EXPORT volatile int iberr = 0;
LGSIM_EXPORT volatile long ibcntl = 0;
}

namespace {

int ErrorCode(BusError error)
{
    switch (error) {
    case BusError::NO_LISTENER:
        return ENOL;
    case BusError::NO_BOARD: // no descriptor for that board index
    case BusError::BAD_ARGUMENT:
    case BusError::BAD_HANDLE:
        return EARG;
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

// Sets the thread's and the process's variables from one call's outcome.
int Finish(const BusOutcome &outcome)
{
    int status = outcome.errOnly ? 0 : CMPL | CIC | (SimBus::Instance().Remote() ? REM : 0);
    if (outcome.end)
        status |= END;
    tallixsim::ThreadStatus &thread = tallixsim::CurrentThreadStatus();
    if (outcome.error != BusError::NONE) {
        const bool own = outcome.error == BusError::LIBRARY_CODE;
        status |= ERR;
        if (outcome.error == BusError::TIMED_OUT || (own && outcome.code == tallixsim::ABORTED_ERROR))
            status |= TIMO;
        thread.error = own ? outcome.code : ErrorCode(outcome.error);
        iberr = static_cast<int>(thread.error);
    }
    thread.status = status;
    thread.count = outcome.count;
    ibsta = status;
    ibcnt = static_cast<int>(outcome.count);
    ibcntl = outcome.count;
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
    else if (eotMode == DABend)
        end = WriteEnd::EOI_ON_LAST_BYTE;
    else if (eotMode == NLend)
        end = WriteEnd::NEWLINE_WITH_EOI;
    else
        return false;
    return true;
}

// Which library call meets an unusable board: one that opens a descriptor
// (ibdev, ibfind) or one that uses it.
enum class BoardCall
{
    OPEN,
    USE,
};

// TALLIX_SIM_BUS_BOARD's failure for this call, finished; false when the
// board is usable.
bool BoardUnusable(BoardCall call)
{
    const char *mode = std::getenv("TALLIX_SIM_BUS_BOARD");
    if (!mode || !*mode)
        return false;
    BusOutcome outcome;
    outcome.error = BusError::LIBRARY_CODE;
    outcome.errOnly = true;
    if (std::strcmp(mode, "missing") == 0) {
        outcome.code = EDVR;
        outcome.count = ENOENT;
    } else if (std::strcmp(mode, "unconfigured") == 0) {
        outcome.code = EDVR;
        outcome.count = EINVAL;
    } else if (std::strcmp(mode, "badconf") == 0) {
        outcome.code = call == BoardCall::OPEN ? ECNF : EARG;
    } else {
        return false;
    }
    Finish(outcome);
    return true;
}

// The handle a traditional call names, or the call's failure.
BusHandle *HandleOf(int ud)
{
    if (BoardUnusable(BoardCall::USE))
        return nullptr;
    BusHandle *handle = SimBus::Instance().Handle(ud);
    if (!handle)
        Finish(Failure(BusError::BAD_HANDLE));
    return handle;
}

} // namespace

extern "C" {

LGSIM_EXPORT int ThreadIbsta(void)
{
    return static_cast<int>(tallixsim::CurrentThreadStatus().status);
}

LGSIM_EXPORT int ThreadIberr(void)
{
    return static_cast<int>(tallixsim::CurrentThreadStatus().error);
}

LGSIM_EXPORT int ThreadIbcnt(void)
{
    return static_cast<int>(tallixsim::CurrentThreadStatus().count);
}

LGSIM_EXPORT long ThreadIbcntl(void)
{
    return tallixsim::CurrentThreadStatus().count;
}

LGSIM_EXPORT void ibvers(char **version)
{
    static char text[] = "0.0-tallix-sim";
    if (version)
        *version = text;
}

LGSIM_EXPORT const char *gpib_error_string(int error)
{
    switch (error) {
    case EDVR:
        return "EDVR 0: OS error";
    case ENOL:
        return "ENOL 2: No listeners";
    case EARG:
        return "EARG 4: Bad argument to function call";
    case EABO:
        return "EABO 6: I/O operation aborted";
    case ENEB:
        return "ENEB 7: Non-existent board";
    case EFSO:
        return "EFSO 12: File system operation error";
    case ECNF:
        return "ECNF 17: Configuration file error";
    default:
        return "Unknown error";
    }
}

LGSIM_EXPORT void SendIFC(int board_desc)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (BoardUnusable(BoardCall::USE))
        return;
    Finish(SimBus::Instance().InterfaceClear(board_desc));
}

LGSIM_EXPORT void EnableRemote(int board_desc, const Addr4882_t addressList[])
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (BoardUnusable(BoardCall::USE))
        return;
    Finish(SimBus::Instance().EnableRemote(board_desc, addressList));
}

LGSIM_EXPORT void Send(int board_desc, Addr4882_t address, const void *buffer, long count, int eot_mode)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (BoardUnusable(BoardCall::USE))
        return;
    WriteEnd end;
    if (!EndMode(eot_mode, end)) {
        Finish(Failure(BusError::BAD_ARGUMENT));
        return;
    }
    Finish(SimBus::Instance().Write(board_desc, address, buffer, count, end));
}

LGSIM_EXPORT void Receive(int board_desc, Addr4882_t address, void *buffer, long count, int termination)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (BoardUnusable(BoardCall::USE))
        return;
    BusOutcome forced;
    if (tallixsim::ForcedReceiveFailure(buffer, count, forced)) {
        Finish(forced);
        return;
    }
    const bool stopOnEos = termination != STOPend;
    Finish(SimBus::Instance().Read(board_desc, address, buffer, count, stopOnEos,
                                   static_cast<unsigned char>(termination & 0xFF)));
}

LGSIM_EXPORT void ReadStatusByte(int board_desc, Addr4882_t address, short *result)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (BoardUnusable(BoardCall::USE))
        return;
    BusOutcome forced;
    if (tallixsim::ForcedPollFailure(forced)) {
        Finish(forced);
        return;
    }
    Finish(SimBus::Instance().SerialPoll(board_desc, address, result));
}

LGSIM_EXPORT void DevClear(int board_desc, Addr4882_t address)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (BoardUnusable(BoardCall::USE))
        return;
    Finish(SimBus::Instance().DeviceClear(board_desc, address));
}

LGSIM_EXPORT void SendCmds(int board_desc, const void *cmds, long count)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (BoardUnusable(BoardCall::USE))
        return;
    Finish(SimBus::Instance().Commands(board_desc, cmds, count));
}

LGSIM_EXPORT void FindLstn(int board_desc, const Addr4882_t padList[], Addr4882_t resultList[],
                           int maxNumResults)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (BoardUnusable(BoardCall::USE))
        return;
    Finish(SimBus::Instance().FindListeners(board_desc, padList, resultList, maxNumResults));
}

LGSIM_EXPORT int ibfind(const char *dev)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (BoardUnusable(BoardCall::OPEN))
        return -1;
    const int ud = SimBus::Instance().OpenBoard(dev);
    Finish(ud < 0 ? Failure(BusError::NOT_FOUND) : BusOutcome{});
    return ud;
}

LGSIM_EXPORT int ibdev(int board_index, int pad, int sad, int timo, int send_eoi, int eosmode)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    (void)eosmode;
    if (BoardUnusable(BoardCall::OPEN))
        return -1;
    if (timo < 0 || timo > T1000s) {
        Finish(Failure(BusError::BAD_ARGUMENT));
        return -1;
    }
    const int ud = SimBus::Instance().OpenDevice(board_index, pad, sad, timo, send_eoi != 0);
    Finish(ud < 0 ? Failure(board_index != 0 ? BusError::NO_BOARD : BusError::BAD_ARGUMENT) : BusOutcome{});
    return ud;
}

LGSIM_EXPORT int ibonl(int ud, int onl)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    if (!HandleOf(ud))
        return ibsta;
    if (onl == 0)
        SimBus::Instance().Close(ud);
    return Finish({});
}

LGSIM_EXPORT int ibtmo(int ud, int v)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ibsta;
    if (v < 0 || v > T1000s)
        return Finish(Failure(BusError::BAD_ARGUMENT));
    handle->timeout = v;
    return Finish({});
}

LGSIM_EXPORT int ibconfig(int ud, int option, int value)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ibsta;
    if (option == IbcTMO) {
        if (value < 0 || value > T1000s)
            return Finish(Failure(BusError::BAD_ARGUMENT));
        handle->timeout = value;
    } else if (option == IbcEOT) {
        handle->eot = value != 0;
    } else if (option == IbcPAD && !handle->board) {
        handle->pad = static_cast<unsigned>(value);
    } else if (option == IbcSAD) {
        handle->sad = value;
    }
    return Finish({});
}

LGSIM_EXPORT int ibask(int ud, int option, int *value)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ibsta;
    if (!value)
        return Finish(Failure(BusError::BAD_ARGUMENT));
    if (option == IbcTMO)
        *value = handle->timeout;
    else if (option == IbcEOT)
        *value = handle->eot ? 1 : 0;
    else if (option == IbcPAD)
        *value = static_cast<int>(handle->pad);
    else if (option == IbcSAD)
        *value = handle->sad;
    else
        *value = 0;
    return Finish({});
}

LGSIM_EXPORT int ibwait(int ud, int mask)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    (void)mask;
    if (!HandleOf(ud))
        return ibsta;
    return Finish({});
}

LGSIM_EXPORT int ibwrt(int ud, const void *buf, long count)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ibsta;
    const WriteEnd end = handle->eot ? WriteEnd::EOI_ON_LAST_BYTE : WriteEnd::NO_EOI;
    return Finish(SimBus::Instance().Write(handle->boardIndex, handle->pad, buf, count, end));
}

LGSIM_EXPORT int ibrd(int ud, void *buf, long count)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ibsta;
    BusOutcome forced;
    if (tallixsim::ForcedReceiveFailure(buf, count, forced))
        return Finish(forced);
    return Finish(SimBus::Instance().Read(handle->boardIndex, handle->pad, buf, count, false, 0));
}

LGSIM_EXPORT int ibwrtf(int ud, const char *file_path)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ibsta;
    std::string data;
    if (!tallixsim::ReadWholeFile(file_path, data))
        return Finish(Failure(BusError::FILE_ERROR));
    const WriteEnd end = handle->eot ? WriteEnd::EOI_ON_LAST_BYTE : WriteEnd::NO_EOI;
    return Finish(SimBus::Instance().Write(handle->boardIndex, handle->pad, data.data(),
                                           static_cast<long>(data.size()), end));
}

LGSIM_EXPORT int ibrsp(int ud, char *spr)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ibsta;
    BusOutcome forced;
    if (tallixsim::ForcedPollFailure(forced))
        return Finish(forced);
    short value = 0;
    const BusOutcome outcome = SimBus::Instance().SerialPoll(handle->boardIndex, handle->pad, &value);
    if (outcome.error == BusError::NONE && spr)
        *spr = static_cast<char>(value);
    return Finish(outcome);
}

LGSIM_EXPORT int ibclr(int ud)
{
    std::lock_guard<std::mutex> lock(SimBus::Instance().Lock());
    BusHandle *handle = HandleOf(ud);
    if (!handle)
        return ibsta;
    // A board's descriptor names no device to clear.
    if (handle->board)
        return Finish(Failure(BusError::BAD_ARGUMENT));
    return Finish(SimBus::Instance().DeviceClear(handle->boardIndex, handle->pad));
}

} // extern "C"
