// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim/model/InstrumentModel.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace tallixsim {

// How a write ends on the bus.
enum class WriteEnd
{
    NO_EOI,
    EOI_ON_LAST_BYTE,
    NEWLINE_WITH_EOI, // a LF added after the data, EOI with it
};

// What went wrong, in words of the bus; each simulated library names it with
// its own error code.
enum class BusError
{
    NONE,
    NO_LISTENER,
    NO_BOARD,
    BAD_ARGUMENT,
    TIMED_OUT,
    BAD_HANDLE,
    FILE_ERROR,
    NOT_FOUND,
    LIBRARY_CODE, // the library's own error code, in `code`
};

struct BusOutcome
{
    BusError error = BusError::NONE;
    long count = 0;
    bool end = false;     // END: the last byte came with EOI (or was the end-of-string byte)
    int code = 0;         // with LIBRARY_CODE: the error code itself
    bool errOnly = false; // the status word is ERR alone: the call never reached a board
};

// The failures a test forces on the simulated libraries through the
// environment (read at each call):
//   TALLIX_SIM_GPIB_RECEIVE_ERR=<iberr>[:<ibcnt>]  every Receive and ibrd fails
//       with ERR (and TIMO for EABO, 6), that error and that count, having
//       filled the caller's buffer with 0xEE bytes; the instrument keeps its
//       reply. 0:5 is EDVR with EIO in the count, a driver's error.
//   TALLIX_SIM_GPIB_POLL_ERR=<iberr>  every ReadStatusByte and ibrsp fails with
//       ERR (and TIMO for EABO) and that error, the result untouched.
// Each returns true, with the failure in `outcome`, when its variable is set.
bool ForcedReceiveFailure(void *buffer, long count, BusOutcome &outcome);
bool ForcedPollFailure(BusOutcome &outcome);
// EABO: the error of an aborted transfer, which comes with TIMO.
constexpr int ABORTED_ERROR = 6;

// The calling thread's own copy of a library's last status word, error and
// count. Kept under a pthread key rather than in thread_local storage: with
// many libraries of that kind opened at run time in one process (the tests
// load a copy per case), LeakSanitizer's scan of the threads' storage crashes.
struct ThreadStatus
{
    long status = 0;
    long error = 0;
    long count = 0;
};

ThreadStatus &CurrentThreadStatus();

// A unit descriptor of the traditional calls: the board or one device on it.
struct BusHandle
{
    bool used = false;
    bool board = false;
    int boardIndex = 0;
    unsigned pad = 0;
    int sad = 0;
    int timeout = 0;
    bool eot = true;
};

// Interface board 0 with one instrument on it (the shared instrument model),
// as both simulated GPIB libraries see it. Records what reaches the bus.
//
// Environment, read at each call:
//   TALLIX_SIM_GPIB_ADDRESS     primary address of the instrument (default 14)
//   TALLIX_SIM_GPIB_TIMEOUT_MS  how long a read with nothing to read waits
//                               before it times out (default 3 ms)
//   TALLIX_SIM_BUS_TRACE        a file to which one line per bus event is
//                               appended:
//                                 ifc 0
//                                 remote 0 14
//                                 write 14 7 *IDN?\r\n eoi=6   (bytes escaped;
//                                                   eoi=none without EOI)
//                                 read 14 31 eoi=30  /  read 14 timeout
//                                 spoll 14 0x10
//                                 findlstn 0 14
//                                 cmd 0 3
//                                 clear 14  /  clear all   (device clear of
//                                                   one device, or of all)
// A read with nothing to read also leaves -420 "Query UNTERMINATED" in the
// instrument's error queue, as an IEEE 488.2 device addressed to talk with
// nothing to say does.
class SimBus
{
public:
    static constexpr int MAX_HANDLES = 64;
    // Both libraries take a board's index as its descriptor in board-level
    // calls; descriptors of devices start above the boards'.
    static constexpr int FIRST_DEVICE_HANDLE = 16;
    static constexpr int DEFAULT_TIMEOUT = 13; // T10s

    SimBus();

    static SimBus &Instance();

    std::mutex &Lock() { return m_lock; }
    bool Remote() const { return m_remote; }

    BusOutcome InterfaceClear(int board);
    // `addresses` ends with 0xFFFF; null is an empty list.
    BusOutcome EnableRemote(int board, const std::uint16_t *addresses);
    BusOutcome Write(int board, unsigned address, const void *data, long count, WriteEnd end);
    // Stops at END, and after the byte `eos` when `stopOnEos`.
    BusOutcome Read(int board, unsigned address, void *buffer, long count, bool stopOnEos, unsigned char eos);
    BusOutcome SerialPoll(int board, unsigned address, short *statusByte);
    // Selected device clear of `address`, or the universal one of every
    // device for 0xFFFF: the instrument drops a half-received command and its
    // waiting reply.
    BusOutcome DeviceClear(int board, unsigned address);
    BusOutcome Commands(int board, const void *data, long count);
    // Stores the listening addresses of `pads` (ending with 0xFFFF) in
    // `results`, at most `limit`; the count is how many.
    BusOutcome FindListeners(int board, const std::uint16_t *pads, std::uint16_t *results, long limit);

    // "gpib0" is board 0, descriptor 0; -1 for any other name.
    int OpenBoard(const char *name);
    // -1 when the board does not exist or the address is out of range.
    int OpenDevice(int board, int pad, int sad, int timeout, bool eot);
    BusHandle *Handle(int ud);
    void Close(int ud);

private:
    bool Listens(unsigned address) const;
    bool OutputWaiting() const;
    void Deliver(const std::string &bytes, bool eoi);
    void RunCommand(const std::string &line);

    std::mutex m_lock;
    InstrumentModel m_instrument;
    std::string m_input;
    std::size_t m_outputPos = 0;
    bool m_remote = false;
    BusHandle m_handles[MAX_HANDLES];
};

} // namespace tallixsim
