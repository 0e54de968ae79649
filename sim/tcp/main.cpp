// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// tallix-instrument-server: the remote instrument on TCP port 700, for the
// console's TCP/IP link, its tests and its benchmark; with --scpi, a plain
// SCPI instrument on a raw socket (the demo runs one on port 5025), for
// clients that send queries and read the answers without asking for them.
//
// The instrument is the shared model (sim/model/InstrumentModel.h lists its
// commands). Besides text replies it has binary ones, each an IEEE 488.2
// block and then LF, sent byte for byte:
//   :DISP:DATA?     the screen as a PNG image of about 392 KB (#6...), sent in
//                   pieces of 64 KiB with 5 ms between them
//   CURV?           1,048,576 waveform bytes (#71048576...)
//   WAV:DATA? n     n waveform bytes, 0 to 256 MiB
//   WAV:INDEF?      an indefinite block: #0, 300 bytes without LF, then LF
// and in --scpi mode one of its own, TEST:LATE? ms, which answers "LATE" at
// once and its LF only ms milliseconds later. DATA? n answers n bytes in all,
// the line end included (LF in --scpi mode, CR LF otherwise).
//
// --dump QUERY FILE writes the reply to QUERY into FILE, exactly as the
// server would send it (with --scpi before it, as the SCPI mode would), and
// exits: the tests' expected bytes come from here.
#include "sim/model/SimSupport.h"
#include "sim/tcp/InstrumentServer.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

constexpr const char *USAGE =
    "Usage: tallix-instrument-server [--address A.B.C.D] [--port N] [options]\n"
    "Listens on the address (default 127.0.0.1) and port (default 700), takes command\n"
    "lines ended by CR LF and answers each \"Please respond\" line with the response of\n"
    "the latest command that had one, or an empty line.\n"
    "  --scpi                behave as a SCPI instrument on a raw socket instead: take\n"
    "                        command lines ended by LF or CR LF, answer each query (a\n"
    "                        command whose header ends in \"?\") by itself with one line\n"
    "                        ended by LF, and nothing else; a command it does not know\n"
    "                        (\"Please respond\" too) is answered by nothing and queues\n"
    "                        -113,\"Undefined header\", which SYST:ERR? reads back\n"
    "                        (0,\"No error\" when the queue is empty). The options below\n"
    "                        that speak of a request then mean a query that is answered.\n"
    "Misbehaviours:\n"
    "  --never-answer        never answer a request\n"
    "  --close-after N       after N lines of a connection send end-of-file, then reset\n"
    "                        it --close-ms later (default 300)\n"
    "  --reset               reset the connection at the first request (or, with\n"
    "                        --close-after, at once after N lines)\n"
    "  --hang-up             with --close-after, just close the connection after N lines\n"
    "                        (0: right after accepting it); the system then answers\n"
    "                        anything the client sends with a reset\n"
    "  --reset-after-bytes K send only the first K bytes of a reply, then reset the\n"
    "                        connection\n"
    "  --close-after-bytes K send only the first K bytes of a reply, then close the\n"
    "                        connection (end-of-file)\n"
    "  --pieces K            send every reply in K pieces ...\n"
    "  --pause-ms P          ... with P milliseconds between them\n"
    "  --reply-bytes N       answer every request with N bytes\n"
    "  --nul                 put a NUL byte in the middle of every reply\n"
    "  --accept-nothing      fill the backlog and never accept, so that connects wait\n"
    "  --log FILE            append every byte received to FILE\n"
    "  --sent FILE           append every byte sent to FILE\n"
    "Replies of the instrument besides text lines: :DISP:DATA? (a PNG of the screen),\n"
    "CURV? (1 MiB of waveform), WAV:DATA? n (n bytes of waveform, up to 256 MiB), each\n"
    "an IEEE 488.2 definite-length block and LF; WAV:INDEF?, an indefinite block (#0)\n"
    "ended by LF; with --scpi, TEST:LATE? ms answers LATE and its LF ms later.\n"
    "  --dump QUERY FILE     write the reply to QUERY into FILE as the server would\n"
    "                        send it (as the SCPI mode would, after --scpi) and exit;\n"
    "                        exit status 1 when QUERY gets no reply\n"
    "Prints \"listening on ADDRESS:PORT\" when ready; SIGTERM or SIGINT ends it.\n";

int Usage(const char *problem)
{
    std::fprintf(stderr, "tallix-instrument-server: %s\n%s", problem, USAGE);
    return 1;
}

// The bytes that one query brings, as the chosen mode sends them.
int Dump(bool scpi, const std::string &query, const std::string &path)
{
    std::string bytes;
    bool answered = false;
    if (scpi) {
        tallixsim::ScpiInstrument instrument;
        tallixsim::ScpiReply reply;
        answered = instrument.Command(query, reply);
        bytes = std::move(reply.bytes);
    } else {
        tallixsim::InstrumentModel model;
        answered = model.command(query);
        bytes = model.take();
    }
    if (!answered) {
        std::fprintf(stderr, "tallix-instrument-server: %s gets no reply\n", query.c_str());
        return 1;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "tallix-instrument-server: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    tallixsim::ServerOptions options;
    std::string dumpQuery;
    std::string dumpPath;
    bool dump = false;
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
        } else if (option == "--never-answer") {
            options.neverAnswer = true;
        } else if (option == "--close-after" && number(0, LONG_MAX, value)) {
            options.closeAfter = value;
        } else if (option == "--close-ms" && number(0, INT_MAX, value)) {
            options.closeMs = static_cast<int>(value);
        } else if (option == "--reset") {
            options.reset = true;
        } else if (option == "--hang-up") {
            options.hangUp = true;
        } else if (option == "--reset-after-bytes" && number(0, 16L * 1024 * 1024, value)) {
            options.resetAfterBytes = value;
        } else if (option == "--close-after-bytes" && number(0, 16L * 1024 * 1024, value)) {
            options.closeAfterBytes = value;
        } else if (option == "--pieces" && number(1, INT_MAX, value)) {
            options.pieces = static_cast<int>(value);
        } else if (option == "--pause-ms" && number(0, INT_MAX, value)) {
            options.pauseMs = static_cast<int>(value);
        } else if (option == "--reply-bytes" && number(0, 16L * 1024 * 1024, value)) {
            options.replyBytes = value;
        } else if (option == "--nul") {
            options.nul = true;
        } else if (option == "--scpi") {
            options.scpi = true;
        } else if (option == "--accept-nothing") {
            options.acceptNothing = true;
        } else if (option == "--log" && i + 1 < argc) {
            options.logPath = argv[++i];
        } else if (option == "--sent" && i + 1 < argc) {
            options.sentPath = argv[++i];
        } else if (option == "--dump" && i + 2 < argc) {
            dump = true;
            dumpQuery = argv[++i];
            dumpPath = argv[++i];
        } else {
            return Usage(("bad or incomplete option: " + option).c_str());
        }
    }
    if (dump)
        return Dump(options.scpi, dumpQuery, dumpPath);

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

    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const char *path = argv[0];
    if (length > 0) {
        self[length] = '\0';
        path = self;
    }

    tallixsim::InstrumentServer server(options);
    if (const int code = server.Listen(path); code != 0)
        return code;
    return server.Run(g_stop);
}
