// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// tallix-serial-instrument: an instrument on a serial port, for the serial
// sessions, their tests and the demo. It opens a pseudo-terminal pair of its
// own and prints the path of the side a client opens as a serial port
// ("pty /dev/pts/7"); the client sets the line up as it would a real port.
// Or it answers on a port that exists already (one end of a socat pair).
//
// The instrument is the shared model (sim/model/InstrumentModel.h lists its
// commands). It takes command lines ended by LF (a CR before it is dropped),
// and ends each text reply with the chosen line end; its block replies end with LF whatever the
// line end, as the model has them. One command of its own:
//   TEST:VANISH? n   sends the first n bytes of a long reply, then closes its
//                    side of the pair and exits: the adapter unplugged in the
//                    middle of a reply.
#include "sim/model/InstrumentModel.h"
#include "sim/model/PseudoTerminal.h"
#include "sim/model/SimSupport.h"
#include "sim/serial/SerialLine.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

constexpr const char *USAGE =
    "Usage: tallix-serial-instrument [options]\n"
    "Opens a pseudo-terminal pair, prints \"pty <path>\" for the side to open as a serial\n"
    "port, and answers SCPI commands on it with the shared instrument model.\n"
    "  --line-end lf|cr|crlf|none  what ends a text reply (default lf; none: nothing,\n"
    "                        for a client that takes a silence as the end)\n"
    "  --baud N              the rate the instrument is set to: bytes from a client whose\n"
    "                        port is set to another rate are line noise to it, counted and\n"
    "                        otherwise ignored (default: any rate)\n"
    "  --piece-bytes K       send every reply in pieces of K bytes ...\n"
    "  --pace-ms P           ... with P milliseconds between them\n"
    "  --line-rate           send no faster than the client's baud rate lets a line carry\n"
    "                        (10 bits a byte), so that a long block takes its time\n"
    "  --hold-slave          keep the client's side of the pair open too, as programs\n"
    "                        that make a pseudo-terminal with openpty() do\n"
    "  --port PATH           answer on this serial port instead of a pair of its own\n"
    "                        (--baud and --report then see only its own side)\n"
    "  --link PATH           make PATH a symbolic link to the port (removed at the end)\n"
    "  --report FILE         keep the line settings the client set in FILE, one line,\n"
    "                        rewritten whenever they change, e.g.\n"
    "                        baud=9600 data=8 parity=none stop=1 flow=none garbled=0\n"
    "  --log FILE            append every byte received to FILE\n"
    "TEST:VANISH? n sends n bytes of a long reply, then closes the port and exits.\n";

struct Options
{
    std::string lineEnd = "\n";
    unsigned baud = 0;
    std::size_t pieceBytes = 0;
    int paceMs = 0;
    bool lineRate = false;
    bool holdSlave = false;
    std::string port;
    std::string link;
    std::string report;
    std::string log;
};

bool ParseOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        const auto number = [&](long low, long high, long &out) {
            if (!value)
                return false;
            ++i;
            return tallixsim::ParseDecimal(value, low, high, out);
        };
        long n = 0;
        if (arg == "--line-end" && value) {
            const std::string end = value;
            ++i;
            static const std::pair<const char *, const char *> ENDS[] = {
                {"lf", "\n"}, {"cr", "\r"}, {"crlf", "\r\n"}, {"none", ""}};
            const auto known = std::find_if(std::begin(ENDS), std::end(ENDS),
                                            [&](const auto &pair) { return end == pair.first; });
            if (known == std::end(ENDS))
                return false;
            options.lineEnd.assign(known->second);
        } else if (arg == "--baud") {
            if (!number(1, 100000000, n))
                return false;
            options.baud = static_cast<unsigned>(n);
        } else if (arg == "--piece-bytes") {
            if (!number(0, 1L << 30, n))
                return false;
            options.pieceBytes = static_cast<std::size_t>(n);
        } else if (arg == "--pace-ms") {
            if (!number(0, 60000, n))
                return false;
            options.paceMs = static_cast<int>(n);
        } else if (arg == "--line-rate") {
            options.lineRate = true;
        } else if (arg == "--hold-slave") {
            options.holdSlave = true;
        } else if (arg == "--port" && value) {
            options.port = value;
            ++i;
        } else if (arg == "--link" && value) {
            options.link = value;
            ++i;
        } else if (arg == "--report" && value) {
            options.report = value;
            ++i;
        } else if (arg == "--log" && value) {
            options.log = value;
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

// Writes every byte to the master, waiting while the client's side is full;
// false when the client went away.
bool WriteAll(int fd, const char *data, std::size_t size)
{
    while (size > 0 && !g_stop) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 100) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLOUT))
            return false;
    }
    return size == 0;
}

class Instrument
{
public:
    // `pty` is null when the instrument answers on a port it did not make.
    Instrument(const Options &options, tallixsim::PseudoTerminal *pty, int line)
        : m_options(options), m_pty(pty), m_port(line)
    {
        m_model.setLineEnd(options.lineEnd);
    }

    // Reports the line settings when they changed.
    void Report()
    {
        tallixsim::LineSettings now;
        if (m_options.report.empty() || !m_pty || !m_pty->Settings(now))
            return;
        if (m_reported && now == m_settings && m_garbled == m_garbledReported)
            return;
        m_settings = now;
        m_reported = true;
        m_garbledReported = m_garbled;
        const std::string temporary = m_options.report + ".new";
        if (FILE *file = std::fopen(temporary.c_str(), "w")) {
            std::fprintf(file, "%s garbled=%lu\n", now.Text().c_str(), m_garbled);
            std::fclose(file);
            std::rename(temporary.c_str(), m_options.report.c_str());
        }
    }

    // Takes what the client sent; false when the instrument vanished.
    bool Take(const char *data, std::size_t size)
    {
        if (!m_options.log.empty()) {
            if (FILE *file = std::fopen(m_options.log.c_str(), "ab")) {
                std::fwrite(data, 1, size, file);
                std::fclose(file);
            }
        }
        tallixsim::LineSettings now;
        if (m_options.baud != 0 && m_pty && m_pty->Settings(now) && now.baud != m_options.baud) {
            m_garbled += size;
            Report();
            return true;
        }
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c != '\n') {
                m_line += c;
                continue;
            }
            std::string line = m_line;
            m_line.clear();
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty())
                continue;
            if (!Run(line))
                return false;
        }
        return true;
    }

private:
    bool Run(const std::string &line)
    {
        const std::string command = tallixsim::Upper(tallixsim::Trimmed(line));
        if (command.rfind("TEST:VANISH?", 0) == 0) {
            const long n = std::strtol(command.c_str() + 12, nullptr, 10);
            std::string start(static_cast<std::size_t>(n > 0 ? n : 0), '7');
            WriteAll(m_port, start.data(), start.size());
            // Let the bytes reach the client before its port disappears.
            tallixsim::SleepMs(50);
            return false;
        }
        if (!m_model.command(line))
            return true;
        const tallixsim::InstrumentModel::Pace modelPace = m_model.pace();
        const std::string reply = m_model.take();
        std::size_t piece = m_options.pieceBytes ? m_options.pieceBytes : modelPace.pieceBytes;
        int pause = m_options.pieceBytes ? m_options.paceMs : modelPace.pauseMs;
        const unsigned baud = m_options.lineRate ? tallixsim::LineBaud(m_port) : 0;
        if (baud > 0) {
            // What the line carries in 20 ms, every 20 ms.
            pause = 20;
            piece = std::max<std::size_t>(1, baud / 10 / 50);
        }
        if (piece == 0)
            piece = reply.size();
        for (std::size_t at = 0; at < reply.size(); at += piece) {
            if (at > 0)
                tallixsim::SleepMs(pause);
            const std::size_t n = std::min(piece, reply.size() - at);
            if (!WriteAll(m_port, reply.data() + at, n))
                break;
        }
        return true;
    }

    const Options &m_options;
    tallixsim::PseudoTerminal *m_pty;
    int m_port;
    tallixsim::InstrumentModel m_model;
    std::string m_line;
    tallixsim::LineSettings m_settings;
    bool m_reported = false;
    unsigned long m_garbled = 0;
    unsigned long m_garbledReported = 0;
};

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    tallixsim::PseudoTerminal pty;
    int line = -1;
    // The client's side, held as openpty() leaves it to its caller.
    int held = -1;
    if (!options.port.empty()) {
        line = tallixsim::OpenRawLine(options.port.c_str());
        if (line < 0) {
            std::fprintf(stderr, "tallix-serial-instrument: cannot open %s: %s\n", options.port.c_str(),
                         std::strerror(errno));
            return 1;
        }
    } else if (!pty.Open()) {
        std::fprintf(stderr, "tallix-serial-instrument: cannot open a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    } else {
        line = pty.Master();
        if (options.holdSlave && (held = tallixsim::OpenRawLine(pty.SlavePath().c_str())) < 0) {
            std::fprintf(stderr, "tallix-serial-instrument: cannot open %s: %s\n", pty.SlavePath().c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    if (!options.link.empty() && options.port.empty() && !pty.Link(options.link)) {
        std::fprintf(stderr, "tallix-serial-instrument: cannot link %s: %s\n", options.link.c_str(),
                     std::strerror(errno));
        return 1;
    }
    struct sigaction stop
    {
    };
    stop.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::printf("pty %s\n", options.port.empty() ? pty.SlavePath().c_str() : options.port.c_str());
    std::fflush(stdout);

    Instrument instrument(options, options.port.empty() ? &pty : nullptr, line);
    char buffer[4096];
    while (!g_stop) {
        instrument.Report();
        pollfd p{line, POLLIN, 0};
        const int ready = ::poll(&p, 1, 50);
        if (ready <= 0)
            continue;
        if (!(p.revents & POLLIN)) {
            // No client has the port open.
            tallixsim::SleepMs(20);
            continue;
        }
        const ssize_t n = ::read(line, buffer, sizeof buffer);
        if (n <= 0) {
            tallixsim::SleepMs(20);
            continue;
        }
        if (!instrument.Take(buffer, static_cast<std::size_t>(n)))
            break;
    }
    if (held >= 0)
        ::close(held);
    if (!options.port.empty())
        ::close(line);
    return 0;
}
