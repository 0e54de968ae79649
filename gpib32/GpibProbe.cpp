// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// tallix-gpib-probe: checks the GPIB set-up that Tallix's gpib-32 library
// would use. Built from the same sources as that library, so it loads the
// same backend the same way (TALLIX_GPIB_BACKEND, then the drivers' names).

#include "gpib32/BackendChoice.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using gpib32::CBackendChoice;
using gpib32::CGpibBackend;
using gpib32::GpibResult;

constexpr const char *PROGRAM = "tallix-gpib-probe";

constexpr int EXIT_NO_ANSWER = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NO_BACKEND = 3;

constexpr int T100MS = 9;
constexpr int FIRST_ADDRESS = 1;
constexpr int LAST_ADDRESS = 30;
// A reply longer than this is cut: the probe only shows that the device talks.
constexpr long REPLY_LIMIT = 64 * 1024;

const char HELP[] = R"(Usage: tallix-gpib-probe [--board N] [--address A [--query TEXT]]

Checks the GPIB library that Tallix's gpib-32 compatibility library loads
(linux-gpib or NI-488.2 for Linux, or a Prologix adapter), and whether a
board and a device answer.
It prints the library it loaded (its file and, where the library tells it,
its version) or every library it tried and why each failed.

  --board N       the interface board to use (default 0, as Tallix does).
                  Without --address, prints the addresses 1 to 30 that answer
                  on that board: the library's listener search where it has
                  one, else a serial poll of each address.
  --address A     the primary address (0 to 30) of one device: sends it the
                  query and prints its reply.
  --query TEXT    the query for --address (default "*IDN?"). It goes out as
                  Tallix sends a command: with CR LF appended and EOI with the
                  last byte.
  --help          prints this text.

Environment:
  TALLIX_GPIB_BACKEND  a file or library name tried before libgpib.so.0
                       (linux-gpib) and NI's libni4882.so and libgpibapi.so;
                       or a Prologix adapter: prologix:serial:/dev/ttyUSB0
                       or prologix:tcp:HOST[:PORT] (port 1234 by default),
                       whose ++ver line is printed as its version.

Exit status: 0 when the library loaded and the board (or the device) answered;
1 when the board or the device did not answer; 2 on a bad command line; 3 when
no GPIB library could be loaded. Every failure prints one line saying why.
)";

struct Options
{
    int board = 0;
    int address = -1;
    std::string query = "*IDN?";
    bool queryGiven = false;
    bool help = false;
};

int Fail(int status, const std::string &reason)
{
    std::fprintf(stderr, "%s: %s\n", PROGRAM, reason.c_str());
    return status;
}

bool ParseNumber(const char *text, int low, int high, int &value)
{
    if (!text || !*text)
        return false;
    char *end = nullptr;
    errno = 0;
    const long number = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

// Returns an empty string when the command line is good, else the reason.
std::string Parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--board") {
            if (!ParseNumber(value, 0, 255, options.board))
                return "--board needs a board index from 0 to 255";
            ++i;
        } else if (arg == "--address") {
            if (!ParseNumber(value, 0, LAST_ADDRESS, options.address))
                return "--address needs a primary address from 0 to 30";
            ++i;
        } else if (arg == "--query") {
            if (!value || !*value)
                return "--query needs a text";
            options.query = value;
            options.queryGiven = true;
            ++i;
        } else {
            return "unknown argument " + arg + " (see --help)";
        }
    }
    if (options.queryGiven && options.address < 0)
        return "--query needs --address";
    return {};
}

const char *ErrorName(int error)
{
    switch (error) {
    case 0:
        return "EDVR (driver error)";
    case 1:
        return "ECIC (board is not controller-in-charge)";
    case 2:
        return "ENOL (no listener at that address)";
    case 3:
        return "EADR (board not addressed)";
    case 4:
        return "EARG (invalid argument)";
    case 5:
        return "ESAC (board is not system controller)";
    case 6:
        return "EABO (I/O aborted or timed out)";
    case 7:
        return "ENEB (no such board, or it is offline)";
    case 8:
        return "EDMA (DMA error)";
    case 10:
        return "EOIP (I/O already in progress)";
    case 11:
        return "ECAP (not supported by this library)";
    case 12:
        return "EFSO (file system error)";
    case 14:
        return "EBUS (bus error)";
    case 15:
        return "ESTB (serial poll bytes lost)";
    case 16:
        return "ESRQ (SRQ stuck on)";
    case gpib32::ECNF:
        return "ECNF (the GPIB configuration file cannot be used)";
    case 20:
        return "ETAB (table overflow)";
    default:
        return "an unknown error";
    }
}

std::string Describe(const GpibResult &result)
{
    std::string text = ErrorName(result.error);
    // Both libraries leave the system's error number in the count with EDVR.
    if (result.error == gpib32::EDVR && result.longCount > 0)
        text = std::string("EDVR (driver error: ") + std::strerror(static_cast<int>(result.longCount)) + ")";
    if (result.status & gpib32::TIMO)
        text += ", time-out";
    return text;
}

// What to do about a failure that linux-gpib reports when its board is not
// set up; empty when there is nothing to say beyond the error. EARG means a
// board it has no descriptor for only where the board itself was asked.
std::string Advice(const CGpibBackend &backend, int board, const GpibResult &result, bool boardCall)
{
    if (backend.GetFamily() == CGpibBackend::FAMILY_PROLOGIX && result.error == gpib32::EDVR) {
        switch (result.longCount) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "the adapter's port is missing: plug the adapter in (ls /dev/serial/by-id)";
        case EACCES:
        case EPERM:
            return "the adapter's port is not yours to open: add yourself to its group (sudo usermod -aG "
                   "dialout $USER) and log in again";
        case EBUSY:
            return "another program has the adapter's port open: close it";
        case ECONNREFUSED:
        case EHOSTUNREACH:
        case ETIMEDOUT:
            return "no adapter answers there: check the address, the port (1234) and that it is switched on";
        default:
            return {};
        }
    }
    if (backend.GetFamily() != CGpibBackend::FAMILY_LINUX_GPIB)
        return {};
    const std::string n = std::to_string(board);
    const std::string device = "/dev/gpib" + n;
    if (result.error == gpib32::ECNF)
        return "fix /etc/gpib.conf (or the file IB_CONFIG names)";
    if (result.error == gpib32::EARG && boardCall)
        return "/etc/gpib.conf describes no board " + n + " (an interface with minor = " + n + ")";
    if (result.error != gpib32::EDVR)
        return {};
    switch (result.longCount) {
    case ENOENT:
    case ENXIO:
        return device + " is missing: load the adapter's kernel module, then run sudo gpib_config --minor " +
               n;
    case EINVAL:
    case ENODEV:
        return "board " + n + " is not configured: run sudo gpib_config --minor " + n;
    case EACCES:
    case EPERM:
        return device + " is not yours to open: add yourself to the gpib group (sudo usermod -aG gpib $USER) "
                        "and log in again";
    default:
        return {};
    }
}

// The failure with what to do about it, for one line.
std::string Explain(const CGpibBackend &backend, int board, const GpibResult &result, bool boardCall = false)
{
    const std::string advice = Advice(backend, board, result, boardCall);
    return Describe(result) + (advice.empty() ? std::string() : "; " + advice);
}

// linux-gpib answers a board-level call with EARG when it has no descriptor
// for the board, which is also what a gpib.conf it cannot parse leaves
// behind; opening a device descriptor on the board tells the two apart
// (ECNF, or EDVR with the reason the board cannot be opened).
GpibResult WhyBoardRefused(CGpibBackend &backend, int board, const GpibResult &refused)
{
    if (backend.GetFamily() != CGpibBackend::FAMILY_LINUX_GPIB || refused.error != gpib32::EARG)
        return refused;
    constexpr int T1S = 11;
    int ud = -1;
    const GpibResult opened = backend.IbDev(board, 1, 0, T1S, 1, 0, &ud);
    if (ud >= 0) {
        backend.IbOnl(ud, 0);
        return refused;
    }
    if ((opened.status & gpib32::ERR) && (opened.error == gpib32::ECNF || opened.error == gpib32::EDVR))
        return opened;
    return refused;
}

bool Failed(const GpibResult &result)
{
    return (result.status & (gpib32::ERR | gpib32::TIMO)) != 0;
}

// Control bytes as \r, \n or \xNN, so that the reply stays one line.
std::string Printable(const std::string &bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c < 0x20 || c >= 0x7F || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

int ListListeners(CGpibBackend &backend, int board)
{
    std::vector<Addr4882_t> found;
    const char *how;
    if (backend.HasListenerSearch()) {
        how = "listener search";
        std::vector<Addr4882_t> pads;
        for (int a = FIRST_ADDRESS; a <= LAST_ADDRESS; ++a)
            pads.push_back(static_cast<Addr4882_t>(a));
        pads.push_back(gpib32::NO_ADDR);
        std::vector<Addr4882_t> results(pads.size(), gpib32::NO_ADDR);
        const GpibResult result =
            backend.FindLstn(board, pads.data(), results.data(), static_cast<int>(results.size()));
        if (result.status & gpib32::ERR)
            return Fail(EXIT_NO_ANSWER, "board " + std::to_string(board) + ": listener search failed with " +
                                            Explain(backend, board, result));
        const long n = result.longCount < static_cast<long>(results.size())
                           ? result.longCount
                           : static_cast<long>(results.size());
        found.assign(results.begin(), results.begin() + (n > 0 ? n : 0));
    } else {
        how = "serial poll of 1 to 30";
        // An adapter waits out its time-out for each address where nobody
        // answers: 100 ms, not the 10 s a device is given.
        if (backend.GetFamily() == CGpibBackend::FAMILY_PROLOGIX)
            backend.IbTmo(board, T100MS);
        for (int a = FIRST_ADDRESS; a <= LAST_ADDRESS; ++a) {
            short status = 0;
            if (!Failed(backend.ReadStatusByte(board, static_cast<Addr4882_t>(a), &status)))
                found.push_back(static_cast<Addr4882_t>(a));
        }
    }
    if (found.empty())
        return Fail(EXIT_NO_ANSWER, "board " + std::to_string(board) + ": no device answered (" + how + ")");
    std::string list;
    for (Addr4882_t a : found) {
        if (!list.empty())
            list += ", ";
        list += std::to_string(a & 0xFF);
    }
    std::printf("board %d: listeners at %s (%s)\n", board, list.c_str(), how);
    return 0;
}

int Query(CGpibBackend &backend, int board, int address, const std::string &query)
{
    const std::string where = "address " + std::to_string(address);
    const std::string line = query + "\r\n";
    const GpibResult sent = backend.Send(board, static_cast<Addr4882_t>(address), line.data(),
                                         static_cast<long>(line.size()), gpib32::DAB_END);
    if (Failed(sent))
        return Fail(EXIT_NO_ANSWER,
                    where + ": sending the query failed with " + Explain(backend, board, sent));

    std::string reply;
    std::vector<char> buffer(4096);
    for (;;) {
        const GpibResult got = backend.Receive(board, static_cast<Addr4882_t>(address), buffer.data(),
                                               static_cast<long>(buffer.size()), gpib32::STOP_END);
        if (Failed(got)) {
            if (reply.empty())
                return Fail(EXIT_NO_ANSWER, where + ": no reply (" + Explain(backend, board, got) + ")");
            break;
        }
        long n = got.longCount;
        if (n < 0 || n > static_cast<long>(buffer.size()))
            n = static_cast<long>(buffer.size());
        reply.append(buffer.data(), static_cast<std::size_t>(n));
        if ((got.status & gpib32::END) || n == 0 || static_cast<long>(reply.size()) >= REPLY_LIMIT)
            break;
    }
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.pop_back();
    std::printf("reply from %d: %s\n", address, Printable(reply).c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    const std::string bad = Parse(argc, argv, options);
    if (!bad.empty())
        return Fail(EXIT_USAGE, bad);
    if (options.help) {
        std::fputs(HELP, stdout);
        return 0;
    }

    const CBackendChoice &choice = CBackendChoice::Instance();
    if (!choice.Backend())
        return Fail(EXIT_NO_BACKEND, "no GPIB library could be loaded; " + choice.Attempts());
    CGpibBackend &backend = *choice.Backend();
    const std::string version = backend.Version();
    std::printf("backend: %s (%s%s%s)\n", choice.Path().c_str(), backend.FamilyName(),
                version.empty() ? "" : ", version ", version.c_str());
    std::fflush(stdout);

    const GpibResult cleared = backend.SendIFC(options.board);
    if (Failed(cleared))
        return Fail(EXIT_NO_ANSWER, "board " + std::to_string(options.board) +
                                        ": interface clear failed with " +
                                        Explain(backend, options.board,
                                                WhyBoardRefused(backend, options.board, cleared), true));
    if (options.address >= 0)
        return Query(backend, options.board, options.address, options.query);
    return ListListeners(backend, options.board);
}
