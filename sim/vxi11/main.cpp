// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// tallix-vxi11-server: a LAN instrument that speaks VXI-11, in front of the
// shared instrument model, for the VXI-11 session's tests and benchmark and
// for clients written elsewhere. With --portmapper it answers the portmapper
// on port 111 itself (run it in a network namespace of its own, or as root
// where no portmapper runs); without, clients need the core port it prints.
// Its --hold-* options make a device that keeps a call, and
// --silent-portmapper a host whose portmapper never answers.
#include "sim/model/SimSupport.h"
#include "sim/vxi11/Vxi11Server.h"

#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

constexpr const char *USAGE =
    "Usage: tallix-vxi11-server [options]\n"
    "Serves a VXI-11 instrument: the core channel on the address (default 127.0.0.1)\n"
    "and port (default: one the system picks), the abort channel on another port.\n"
    "Each message that ends with END is taken line by line by the instrument model;\n"
    "a read takes the latest reply, which ends with END.\n"
    "  --address A.B.C.D     the address to listen on (0.0.0.0 for every one, as a\n"
    "                        portmapper that hears broadcasts needs)\n"
    "  --port N              the core channel's port\n"
    "  --portmapper          also answer the portmapper (NULL and GETPORT) on TCP and\n"
    "                        UDP port 111 of the address\n"
    "  --device NAME         a device name that create_link accepts (\"inst0\",\n"
    "                        \"gpib0,14\" for a gateway); may be given again; each\n"
    "                        device is an instrument of its own. Default: inst0\n"
    "  --max-recv-size N     the most one write may carry (default 65536); a longer\n"
    "                        one fails with error 5\n"
    "  --take-at-most N      take only the first N bytes of a longer write (the client\n"
    "                        sends the rest again)\n"
    "  --max-read N          the most one read hands back, whatever it asks for\n"
    "  --locked              another link holds every device's lock: calls fail with\n"
    "                        error 11 (after their lock time-out when they wait)\n"
    "  --late-ms N           a read answers N ms late, past its own time-out\n"
    "  --late-reads K        ... only the first K reads (default: every one)\n"
    "  --hold-write MS       a write is answered MS ms late, whatever its time-out,\n"
    "                        and the device takes its bytes only then; an abort ends\n"
    "                        it at once with error 23, the bytes not taken\n"
    "  --hold-clear MS       a device clear is answered MS ms late (an abort ends it)\n"
    "  --hold-create-link MS a create_link is answered MS ms late\n"
    "  --hold-count K        ... only the first K calls of each kind held (default:\n"
    "                        every one)\n"
    "  --silent-portmapper   instead of --portmapper: take connections on TCP port\n"
    "                        111 and read their calls, but never answer one\n"
    "  --trace FILE          append one line for every call to FILE\n"
    "Prints \"listening on ADDRESS:PORT\" (the core channel) when ready; SIGTERM or\n"
    "SIGINT ends it.\n";

int Usage(const std::string &problem)
{
    std::fprintf(stderr, "tallix-vxi11-server: %s\n%s", problem.c_str(), USAGE);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    tallixsim::Vxi11Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto number = [&](long low, long high, long &value) {
            return i + 1 < argc && tallixsim::ParseDecimal(argv[++i], low, high, value);
        };
        long value = 0;
        if (option == "--help" || option == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (option == "--address" && i + 1 < argc) {
            options.address = argv[++i];
        } else if (option == "--port" && number(0, 65535, value)) {
            options.port = static_cast<int>(value);
        } else if (option == "--portmapper") {
            options.portmapper = true;
        } else if (option == "--device" && i + 1 < argc) {
            options.devices.push_back(argv[++i]);
        } else if (option == "--max-recv-size" && number(1, INT_MAX, value)) {
            options.maxRecvSize = static_cast<unsigned int>(value);
        } else if (option == "--take-at-most" && number(1, INT_MAX, value)) {
            options.takeAtMost = static_cast<unsigned int>(value);
        } else if (option == "--max-read" && number(1, INT_MAX, value)) {
            options.maxRead = static_cast<unsigned int>(value);
        } else if (option == "--locked") {
            options.locked = true;
        } else if (option == "--late-ms" && number(0, INT_MAX, value)) {
            options.lateMs = value;
        } else if (option == "--late-reads" && number(0, LONG_MAX, value)) {
            options.lateReads = value;
        } else if (option == "--hold-write" && number(1, INT_MAX, value)) {
            options.holdWriteMs = value;
        } else if (option == "--hold-clear" && number(1, INT_MAX, value)) {
            options.holdClearMs = value;
        } else if (option == "--hold-create-link" && number(1, INT_MAX, value)) {
            options.holdCreateLinkMs = value;
        } else if (option == "--hold-count" && number(0, LONG_MAX, value)) {
            options.holdCount = value;
        } else if (option == "--silent-portmapper") {
            options.silentPortmapper = true;
        } else if (option == "--trace" && i + 1 < argc) {
            options.tracePath = argv[++i];
        } else {
            return Usage("bad or incomplete option: " + option);
        }
    }

    // The stop signals only get through inside the server's waits, so none is
    // lost between checking the flag and going to sleep.
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    signal(SIGPIPE, SIG_IGN);

    tallixsim::Vxi11Server server(options);
    if (const int code = server.Listen(); code != 0)
        return code;
    return server.Run(g_stop);
}
