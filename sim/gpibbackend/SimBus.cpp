// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/gpibbackend/SimBus.h"

#include "sim/model/SimSupport.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>

namespace tallixsim {

namespace {

// Where each transfer is recorded, one line a transfer.
constexpr const char *TRACE_VARIABLE = "TALLIX_SIM_BUS_TRACE";

constexpr std::uint16_t NOADDR = 0xFFFF;
constexpr long DEFAULT_TIMEOUT_MS = 3;

BusOutcome Failure(BusError error)
{
    BusOutcome outcome;
    outcome.error = error;
    return outcome;
}

BusOutcome Forced(int error, long count)
{
    BusOutcome outcome;
    outcome.error = BusError::LIBRARY_CODE;
    outcome.code = error;
    outcome.count = count;
    return outcome;
}

} // namespace

bool ForcedReceiveFailure(void *buffer, long count, BusOutcome &outcome)
{
    int error = 0;
    long n = 0;
    if (!EnvGpibFailure("TALLIX_SIM_GPIB_RECEIVE_ERR", error, n))
        return false;
    // A caller that shows the buffer after a failure shows these.
    if (buffer && count > 0)
        std::memset(buffer, 0xEE, static_cast<std::size_t>(count));
    outcome = Forced(error, n);
    return true;
}

bool ForcedPollFailure(BusOutcome &outcome)
{
    int error = 0;
    long n = 0;
    if (!EnvGpibFailure("TALLIX_SIM_GPIB_POLL_ERR", error, n))
        return false;
    outcome = Forced(error, 0);
    return true;
}

ThreadStatus &CurrentThreadStatus()
{
    static pthread_key_t key;
    static const int created =
        pthread_key_create(&key, [](void *status) { delete static_cast<ThreadStatus *>(status); });
    (void)created;
    auto *status = static_cast<ThreadStatus *>(pthread_getspecific(key));
    if (!status) {
        status = new ThreadStatus;
        pthread_setspecific(key, status);
    }
    return *status;
}

SimBus::SimBus()
{
    m_handles[0] = BusHandle{true, true, 0, 0, 0, DEFAULT_TIMEOUT, true};
}

SimBus &SimBus::Instance()
{
    static SimBus bus;
    return bus;
}

bool SimBus::Listens(unsigned address) const
{
    // The instrument has a primary address and no secondary one.
    return (address & 0xFF00u) == 0 && address == static_cast<unsigned>(GpibInstrumentAddress());
}

bool SimBus::OutputWaiting() const
{
    return m_instrument.hasResponse() && m_outputPos < m_instrument.pending().size();
}

void SimBus::RunCommand(const std::string &line)
{
    // A new response replaces one that was not read, as a device's output
    // queue does when a new query arrives; a reset drops it.
    const bool hadResponse = m_instrument.hasResponse();
    if (m_instrument.command(line) || (hadResponse && !m_instrument.hasResponse()))
        m_outputPos = 0;
}

void SimBus::Deliver(const std::string &bytes, bool eoi)
{
    // Each LF ends a command, and so does EOI with the last byte.
    m_input += bytes;
    std::size_t lf;
    while ((lf = m_input.find('\n')) != std::string::npos) {
        const std::string line = m_input.substr(0, lf + 1);
        m_input.erase(0, lf + 1);
        RunCommand(line);
    }
    if (eoi && !m_input.empty()) {
        const std::string line = m_input;
        m_input.clear();
        RunCommand(line);
    }
}

BusOutcome SimBus::InterfaceClear(int board)
{
    TraceLine(TRACE_VARIABLE, "ifc %d", board);
    if (board != 0)
        return Failure(BusError::NO_BOARD);
    // The interface clear unaddresses the bus; a message half sent is lost.
    m_input.clear();
    return {};
}

BusOutcome SimBus::EnableRemote(int board, const std::uint16_t *addresses)
{
    std::string list;
    for (const std::uint16_t *a = addresses; a && *a != NOADDR; ++a)
        list += ' ' + std::to_string(*a);
    TraceLine(TRACE_VARIABLE, "remote %d%s", board, list.c_str());
    if (board != 0)
        return Failure(BusError::NO_BOARD);
    m_remote = true;
    for (const std::uint16_t *a = addresses; a && *a != NOADDR; ++a) {
        if (!Listens(*a))
            return Failure(BusError::NO_LISTENER);
    }
    return {};
}

BusOutcome SimBus::Write(int board, unsigned address, const void *data, long count, WriteEnd end)
{
    if (board != 0)
        return Failure(BusError::NO_BOARD);
    if (count < 0 || (count > 0 && !data))
        return Failure(BusError::BAD_ARGUMENT);
    if (!Listens(address)) {
        TraceLine(TRACE_VARIABLE, "write %u nolistener", address);
        return Failure(BusError::NO_LISTENER);
    }
    std::string bytes(static_cast<const char *>(data), static_cast<std::size_t>(count));
    if (end == WriteEnd::NEWLINE_WITH_EOI)
        bytes += '\n';
    const bool eoi = end != WriteEnd::NO_EOI && !bytes.empty();
    const std::string at = eoi ? std::to_string(bytes.size() - 1) : std::string("none");
    TraceLine(TRACE_VARIABLE, "write %u %zu %s eoi=%s", address, bytes.size(), Escaped(bytes).c_str(),
              at.c_str());
    Deliver(bytes, eoi);
    BusOutcome outcome;
    outcome.count = static_cast<long>(bytes.size());
    return outcome;
}

BusOutcome SimBus::Read(int board, unsigned address, void *buffer, long count, bool stopOnEos,
                        unsigned char eos)
{
    if (board != 0)
        return Failure(BusError::NO_BOARD);
    if (count < 0 || (count > 0 && !buffer))
        return Failure(BusError::BAD_ARGUMENT);
    if (!Listens(address))
        return Failure(BusError::NO_LISTENER);
    if (!OutputWaiting()) {
        // The device never talks: the board waits out its time-out.
        TraceLine(TRACE_VARIABLE, "read %u timeout", address);
        m_instrument.queryUnterminated();
        SleepMs(EnvNumber("TALLIX_SIM_GPIB_TIMEOUT_MS", DEFAULT_TIMEOUT_MS));
        return Failure(BusError::TIMED_OUT);
    }
    const std::string &output = m_instrument.pending();
    const std::size_t left = output.size() - m_outputPos;
    std::size_t n = left < static_cast<std::size_t>(count) ? left : static_cast<std::size_t>(count);
    const bool eoi = n == left;
    bool end = eoi;
    if (stopOnEos) {
        const std::size_t at = output.find(static_cast<char>(eos), m_outputPos);
        if (at != std::string::npos && at - m_outputPos < n) {
            n = at - m_outputPos + 1;
            end = true;
        }
    }
    std::memcpy(buffer, output.data() + m_outputPos, n);
    m_outputPos += n;
    const bool lastByteHadEoi = eoi && m_outputPos >= output.size();
    if (m_outputPos >= output.size()) {
        m_instrument.drop();
        m_outputPos = 0;
    }
    const std::string at = lastByteHadEoi && n > 0 ? std::to_string(n - 1) : std::string("none");
    TraceLine(TRACE_VARIABLE, "read %u %zu eoi=%s", address, n, at.c_str());
    BusOutcome outcome;
    outcome.count = static_cast<long>(n);
    outcome.end = end;
    return outcome;
}

BusOutcome SimBus::SerialPoll(int board, unsigned address, short *statusByte)
{
    if (board != 0)
        return Failure(BusError::NO_BOARD);
    if (!Listens(address))
        return Failure(BusError::NO_LISTENER);
    // MAV while a response (or the rest of one) waits, RQS after a service request.
    const int status = m_instrument.serialPoll();
    TraceLine(TRACE_VARIABLE, "spoll %u 0x%02X", address, status);
    if (statusByte)
        *statusByte = static_cast<short>(status);
    BusOutcome outcome;
    outcome.count = 1;
    return outcome;
}

BusOutcome SimBus::DeviceClear(int board, unsigned address)
{
    if (board != 0)
        return Failure(BusError::NO_BOARD);
    if (address == NOADDR) {
        TraceLine(TRACE_VARIABLE, "clear all");
    } else {
        if (!Listens(address))
            return Failure(BusError::NO_LISTENER);
        TraceLine(TRACE_VARIABLE, "clear %u", address);
    }
    m_input.clear();
    m_instrument.deviceClear();
    m_outputPos = 0;
    return {};
}

BusOutcome SimBus::Commands(int board, const void *data, long count)
{
    if (board != 0)
        return Failure(BusError::NO_BOARD);
    if (count < 0 || (count > 0 && !data))
        return Failure(BusError::BAD_ARGUMENT);
    TraceLine(TRACE_VARIABLE, "cmd %d %ld", board, count);
    BusOutcome outcome;
    outcome.count = count;
    return outcome;
}

BusOutcome SimBus::FindListeners(int board, const std::uint16_t *pads, std::uint16_t *results, long limit)
{
    if (board != 0)
        return Failure(BusError::NO_BOARD);
    if (!pads || !results || limit < 0)
        return Failure(BusError::BAD_ARGUMENT);
    std::string list;
    long found = 0;
    for (const std::uint16_t *a = pads; *a != NOADDR && found < limit; ++a) {
        if (Listens(*a)) {
            results[found++] = *a;
            list += ' ' + std::to_string(*a);
        }
    }
    TraceLine(TRACE_VARIABLE, "findlstn %d%s", board, list.c_str());
    BusOutcome outcome;
    outcome.count = found;
    return outcome;
}

int SimBus::OpenBoard(const char *name)
{
    if (!name || std::strcmp(name, "gpib0") != 0)
        return -1;
    return 0;
}

int SimBus::OpenDevice(int board, int pad, int sad, int timeout, bool eot)
{
    if (board != 0 || pad < 0 || pad > 30)
        return -1;
    for (int ud = FIRST_DEVICE_HANDLE; ud < MAX_HANDLES; ++ud) {
        if (!m_handles[ud].used) {
            m_handles[ud] = BusHandle{true, false, board, static_cast<unsigned>(pad), sad, timeout, eot};
            return ud;
        }
    }
    return -1;
}

BusHandle *SimBus::Handle(int ud)
{
    if (ud < 0 || ud >= MAX_HANDLES || !m_handles[ud].used)
        return nullptr;
    return &m_handles[ud];
}

void SimBus::Close(int ud)
{
    // A board's descriptor is its index and stays valid.
    BusHandle *handle = Handle(ud);
    if (handle && !handle->board)
        handle->used = false;
}

} // namespace tallixsim
