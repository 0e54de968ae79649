// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// tallix-prologix-adapter: a Prologix-style GPIB adapter in controller mode,
// in front of the shared model's GPIB instrument (address 14, or
// TALLIX_SIM_GPIB_ADDRESS). It is reached as the USB adapter is, through a
// serial port (a pseudo-terminal pair of its own, "pty <path>" on standard
// output), and as the Ethernet adapter is, on a TCP port ("tcp <address>:<port>");
// each connection is an adapter of its own on the same bus. "ready" follows
// when both are up.
//
// What it takes, as the adapters do: lines ended by an unescaped CR or LF;
// ESC takes the next byte literally; a line that starts with an unescaped
// "++" is an adapter command, any other line is data for the device at
// ++addr, sent with the ++eos ending and EOI with the last byte when ++eoi is
// 1. Commands: ++addr [pad [sad]], ++auto, ++clr, ++eoi, ++eos, ++eot_enable,
// ++eot_char, ++ifc, ++llo, ++loc, ++mode, ++read [eoi|char], ++read_tmo_ms,
// ++rst, ++savecfg, ++spoll [pad [sad]], ++srq, ++trg, ++ver; a query of a
// setting (the command without its value) answers the value. Answers end
// with CR LF. A read, or a serial poll, of an address where no device talks
// waits read_tmo_ms and sends nothing.
//
// Three commands of the simulated instrument's own: TEST:STALL? n makes it
// send n bytes of a reply and then stop talking, without EOI, as a device
// that hangs in the middle of a reply; TEST:EOTBLOCK? answers the definite
// block #16AB<EOT>CD<EOT> and LF a byte at a time, 5 ms apart and 100 ms after
// each EOT (ASCII 4), the byte the adapter adds after EOI; TEST:RUNAWAY?
// makes it talk without end ('7's, never EOI) whenever it is addressed to
// talk, until a device clear. A read of such a talker goes on until the host
// sends the adapter anything, which ends it (the byte is then taken as ever).
//
// --trace FILE appends one line for every line the adapter got, as it came
// ("host " and the bytes, CR, LF, ESC and others escaped as \r, \n, \x1B),
// and one for every transfer on the bus ("bus write 14 *IDN?\r\n eoi",
// "bus read 14 31 eoi", "bus read 14 timeout", "bus spoll 14 0x10",
// "bus clear 14", "bus ifc").
#include "sim/model/InstrumentModel.h"
#include "sim/model/PseudoTerminal.h"
#include "sim/model/SimSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

constexpr const char *USAGE = "Usage: tallix-prologix-adapter [--address A.B.C.D] [--port N] [--no-tcp]\n"
                              "                              [--link PATH] [--trace FILE]\n"
                              "A simulated Prologix GPIB adapter on a pseudo-terminal and on TCP port N\n"
                              "(default 1234 on 127.0.0.1; 0 lets the system choose), in front of the\n"
                              "simulated GPIB instrument at address 14 (TALLIX_SIM_GPIB_ADDRESS).\n"
                              "  --link PATH   make PATH a symbolic link to the pseudo-terminal\n"
                              "  --trace FILE  append every line received and every bus transfer to FILE\n";

const char *g_trace = nullptr;

// The pause between the bytes of a reply that is sent a byte at a time.
constexpr int BYTE_GAP_MS = 5;

void Trace(const std::string &line)
{
    if (!g_trace)
        return;
    if (FILE *file = std::fopen(g_trace, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

// The instrument on the bus, shared by every adapter.
class Bus
{
public:
    int address() const { return tallixsim::GpibInstrumentAddress(); }
    bool listens(int pad, int sad) const { return pad == address() && sad == 0; }

    void write(int pad, int sad, const std::string &bytes, bool eoi)
    {
        if (!listens(pad, sad)) {
            Trace("bus write " + std::to_string(pad) + " nolistener");
            return;
        }
        Trace("bus write " + std::to_string(pad) + " " + tallixsim::Escaped(bytes) + (eoi ? " eoi" : ""));
        m_input += bytes;
        std::size_t lf;
        while ((lf = m_input.find('\n')) != std::string::npos) {
            const std::string line = m_input.substr(0, lf + 1);
            m_input.erase(0, lf + 1);
            run(line);
        }
        if (eoi && !m_input.empty()) {
            const std::string line = m_input;
            m_input.clear();
            run(line);
        }
    }

    // The waiting output, what of it is left.
    bool talking(int pad, int sad) const { return listens(pad, sad) && m_pos < m_output.size(); }
    // Whether the device talks without end when addressed.
    bool runaway(int pad, int sad) const { return listens(pad, sad) && m_runaway; }
    const std::string &output() const { return m_output; }
    std::size_t position() const { return m_pos; }
    // Whether the output's last byte comes with EOI (a stalled reply never ends).
    bool endsWithEoi() const { return !m_stalled; }
    // Milliseconds the instrument pauses after each EOT byte of its reply
    // (and BYTE_GAP_MS after each other byte); 0: it sends without pauses.
    int pauseAfterEot() const { return m_pauseAfterEot; }
    const tallixsim::InstrumentModel::Pace &pace() const { return m_model.pace(); }
    void advance(std::size_t n)
    {
        m_pos += n;
        if (m_pos >= m_output.size()) {
            m_output.clear();
            m_pos = 0;
            m_stalled = false;
            m_pauseAfterEot = 0;
            m_model.drop();
        }
    }
    void nothingToSay() { m_model.queryUnterminated(); }
    int serialPoll() { return m_model.serialPoll(); }
    bool serviceRequested() const { return m_model.serviceRequested(); }
    void clear()
    {
        m_input.clear();
        m_output.clear();
        m_pos = 0;
        m_stalled = false;
        m_runaway = false;
        m_model.deviceClear();
    }
    void interfaceClear() { m_input.clear(); }

private:
    void run(const std::string &line)
    {
        const std::string command = tallixsim::Upper(tallixsim::Trimmed(line));
        if (command.rfind("TEST:STALL?", 0) == 0) {
            const long n = std::strtol(command.c_str() + 11, nullptr, 10);
            m_output.assign(static_cast<std::size_t>(n > 0 ? n : 0), '5');
            m_pos = 0;
            m_stalled = true;
            return;
        }
        if (command == "TEST:RUNAWAY?") {
            m_output.clear();
            m_pos = 0;
            m_runaway = true;
            return;
        }
        if (command == "TEST:EOTBLOCK?") {
            m_output = std::string("#16AB\x04"
                                   "CD\x04\n");
            m_pos = 0;
            m_stalled = false;
            m_pauseAfterEot = 100;
            return;
        }
        // The reply stays the model's until it is read, so that a serial
        // poll sees MAV.
        if (m_model.command(line)) {
            m_output = m_model.pending();
            m_pos = 0;
            m_stalled = false;
        }
    }

    tallixsim::InstrumentModel m_model;
    std::string m_input;
    std::string m_output;
    std::size_t m_pos = 0;
    bool m_stalled = false;
    bool m_runaway = false;
    int m_pauseAfterEot = 0;
};

// One adapter, on one connection.
class Adapter
{
public:
    Adapter(Bus &bus, int fd, bool ownsFd) : m_bus(bus), m_fd(fd), m_ownsFd(ownsFd) {}
    ~Adapter() { Close(); }
    void Close()
    {
        if (m_ownsFd && m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_streaming = false;
    }
    int fd() const { return m_fd; }
    bool streaming() const { return m_streaming; }

    // Takes bytes from the host; false when the connection is gone.
    bool Take(const char *data, std::size_t size)
    {
        // A byte from the host ends the read of a device that talks on.
        if (size > 0 && m_streaming) {
            m_streaming = false;
            Trace("bus read " + std::to_string(m_pad) + " ended by the host");
        }
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (m_escape) {
                m_escape = false;
                m_raw += c;
                m_line += c;
                continue;
            }
            if (c == 27) {
                m_escape = true;
                m_raw += c;
                if (m_line.size() < 2)
                    m_command = false;
                continue;
            }
            if (c == '\r' || c == '\n') {
                if (!m_raw.empty() && !Line())
                    return false;
                m_raw.clear();
                m_line.clear();
                m_command = true;
                continue;
            }
            m_raw += c;
            m_line += c;
            if (m_line.size() <= 2 && c != '+')
                m_command = false;
        }
        return true;
    }

    // The next piece of what a device that talks without end says, as much
    // as the connection takes now; false when it is gone.
    bool Stream()
    {
        static const std::string piece(1024, '7');
        ssize_t n = ::send(m_fd, piece.data(), piece.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = ::write(m_fd, piece.data(), piece.size());
        return n >= 0 || errno == EAGAIN || errno == EINTR;
    }

private:
    bool Send(const std::string &bytes)
    {
        const char *data = bytes.data();
        std::size_t size = bytes.size();
        while (size > 0 && !g_stop) {
            const ssize_t n = ::send(m_fd, data, size, MSG_NOSIGNAL);
            const ssize_t w = n < 0 && errno == ENOTSOCK ? ::write(m_fd, data, size) : n;
            if (w > 0) {
                data += w;
                size -= static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd p{m_fd, POLLOUT, 0};
            if (::poll(&p, 1, 100) > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLOUT))
                return false;
        }
        return size == 0;
    }

    bool Answer(const std::string &text) { return Send(text + "\r\n"); }

    static bool Number(const std::string &text, long low, long high, long &value)
    {
        return tallixsim::ParseDecimal(text.c_str(), low, high, value);
    }

    // "++name" settings that are numbers: set with a value, asked without.
    bool Setting(const std::string &value, long low, long high, long &setting)
    {
        if (value.empty())
            return Answer(std::to_string(setting));
        long n = 0;
        if (Number(value, low, high, n))
            setting = n;
        return true;
    }

    bool Line()
    {
        Trace("host " + tallixsim::Escaped(m_raw));
        if (!m_command || m_line.size() < 2 || m_line.compare(0, 2, "++") != 0)
            return Data(m_line);
        const std::string text = tallixsim::Trimmed(m_line.substr(2));
        const std::size_t space = text.find(' ');
        const std::string name = text.substr(0, space);
        const std::string value =
            space == std::string::npos ? std::string() : tallixsim::Trimmed(text.substr(space));
        if (name == "addr") {
            if (value.empty())
                return Answer(m_sad ? std::to_string(m_pad) + " " + std::to_string(m_sad)
                                    : std::to_string(m_pad));
            const std::size_t gap = value.find(' ');
            long pad = 0;
            long sad = 0;
            if (Number(value.substr(0, gap), 0, 30, pad) &&
                (gap == std::string::npos || Number(tallixsim::Trimmed(value.substr(gap)), 96, 126, sad))) {
                m_pad = pad;
                m_sad = sad;
            }
            return true;
        }
        if (name == "auto")
            return Setting(value, 0, 1, m_auto);
        if (name == "eoi")
            return Setting(value, 0, 1, m_eoi);
        if (name == "eos")
            return Setting(value, 0, 3, m_eos);
        if (name == "eot_enable")
            return Setting(value, 0, 1, m_eotEnable);
        if (name == "eot_char")
            return Setting(value, 0, 255, m_eotChar);
        if (name == "mode")
            return Setting(value, 0, 1, m_mode);
        if (name == "read_tmo_ms")
            return Setting(value, 1, 3000, m_readTmoMs);
        if (name == "savecfg")
            return Setting(value, 0, 1, m_saveCfg);
        if (name == "ver")
            return Answer("Tallix simulated Prologix GPIB adapter version 6.107");
        if (name == "read")
            return Read(value);
        if (name == "spoll")
            return Poll(value);
        if (name == "srq")
            return Answer(m_bus.serviceRequested() ? "1" : "0");
        if (name == "clr") {
            if (m_bus.listens(static_cast<int>(m_pad), static_cast<int>(m_sad))) {
                Trace("bus clear " + std::to_string(m_pad));
                m_bus.clear();
            }
            return true;
        }
        if (name == "ifc") {
            Trace("bus ifc");
            m_bus.interfaceClear();
            return true;
        }
        if (name == "loc" || name == "llo" || name == "trg" || name == "rst" || name == "help")
            return true;
        return Answer("Unrecognized command");
    }

    bool Data(const std::string &data)
    {
        static const char *const ENDS[] = {"\r\n", "\r", "\n", ""};
        m_bus.write(static_cast<int>(m_pad), static_cast<int>(m_sad), data + ENDS[m_eos], m_eoi != 0);
        return m_auto ? Read("eoi") : true;
    }

    // The instrument talks until EOI, or `mode`'s byte; the adapter gives up
    // read_tmo_ms after the last byte.
    bool Read(const std::string &mode)
    {
        const int pad = static_cast<int>(m_pad);
        if (m_bus.runaway(pad, static_cast<int>(m_sad))) {
            Trace("bus read " + std::to_string(pad) + " endless");
            m_streaming = true;
            return true;
        }
        if (!m_bus.talking(pad, static_cast<int>(m_sad))) {
            Trace("bus read " + std::to_string(pad) + " timeout");
            if (m_bus.listens(pad, static_cast<int>(m_sad)))
                m_bus.nothingToSay();
            tallixsim::SleepMs(m_readTmoMs);
            return true;
        }
        long stopChar = -1;
        if (!mode.empty() && mode != "eoi")
            Number(mode, 0, 255, stopChar);
        const std::string &output = m_bus.output();
        std::size_t from = m_bus.position();
        std::size_t n = output.size() - from;
        if (stopChar >= 0) {
            const std::size_t at = output.find(static_cast<char>(stopChar), from);
            if (at != std::string::npos)
                n = at - from + 1;
        }
        const bool eoi = m_bus.endsWithEoi() && from + n == output.size();
        std::string bytes = output.substr(from, n);
        const int eotPause = m_bus.pauseAfterEot();
        m_bus.advance(n);
        Trace("bus read " + std::to_string(pad) + " " + std::to_string(bytes.size()) + (eoi ? " eoi" : ""));
        if (eoi && m_eotEnable)
            bytes += static_cast<char>(m_eotChar);
        const tallixsim::InstrumentModel::Pace pace = m_bus.pace();
        if (eotPause > 0) {
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (!Send(bytes.substr(i, 1)))
                    return false;
                if (i + 1 < bytes.size())
                    tallixsim::SleepMs(bytes[i] == 4 ? eotPause : BYTE_GAP_MS);
            }
            return true;
        }
        const std::size_t piece = pace.pieceBytes ? pace.pieceBytes : bytes.size();
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            if (at > 0)
                tallixsim::SleepMs(pace.pauseMs);
            if (!Send(bytes.substr(at, piece)))
                return false;
        }
        // Without EOI the adapter waits out its time-out for a next byte.
        if (!eoi && stopChar < 0)
            tallixsim::SleepMs(m_readTmoMs);
        return true;
    }

    bool Poll(const std::string &value)
    {
        long pad = m_pad;
        long sad = 0;
        if (!value.empty()) {
            const std::size_t gap = value.find(' ');
            if (!Number(value.substr(0, gap), 0, 30, pad))
                return true;
            if (gap != std::string::npos && !Number(tallixsim::Trimmed(value.substr(gap)), 96, 126, sad))
                return true;
        }
        if (!m_bus.listens(static_cast<int>(pad), static_cast<int>(sad))) {
            tallixsim::SleepMs(m_readTmoMs);
            return true;
        }
        const int status = m_bus.serialPoll();
        char text[32];
        std::snprintf(text, sizeof text, "bus spoll %ld 0x%02X", pad, status);
        Trace(text);
        return Answer(std::to_string(status));
    }

    Bus &m_bus;
    int m_fd;
    bool m_ownsFd;
    std::string m_raw;  // the line as it came
    std::string m_line; // escapes taken out
    bool m_escape = false;
    bool m_command = true;
    bool m_streaming = false; // reading a device that talks without end
    long m_pad = 10;
    long m_sad = 0;
    long m_auto = 1;
    long m_eoi = 1;
    long m_eos = 0;
    long m_eotEnable = 0;
    long m_eotChar = 0;
    long m_mode = 1;
    long m_readTmoMs = 500;
    long m_saveCfg = 1;
};

int Listen(const std::string &address, int port, int &bound)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 || ::listen(fd, 4) != 0) {
        const int code = errno;
        ::close(fd);
        errno = code;
        return -1;
    }
    socklen_t size = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size);
    bound = ntohs(where.sin_port);
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    std::string address = "127.0.0.1";
    int port = 1234;
    bool tcp = true;
    std::string link;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--address" && value) {
            address = value;
            ++i;
        } else if (arg == "--port" && value) {
            port = std::atoi(value);
            ++i;
        } else if (arg == "--no-tcp") {
            tcp = false;
        } else if (arg == "--link" && value) {
            link = value;
            ++i;
        } else if (arg == "--trace" && value) {
            g_trace = value;
            ++i;
        } else {
            std::fputs(USAGE, stderr);
            return 2;
        }
    }
    struct sigaction stop
    {
    };
    stop.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    tallixsim::PseudoTerminal pty;
    if (!pty.Open() || (!link.empty() && !pty.Link(link))) {
        std::fprintf(stderr, "tallix-prologix-adapter: no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("pty %s\n", pty.SlavePath().c_str());
    int listener = -1;
    if (tcp) {
        int bound = 0;
        listener = Listen(address, port, bound);
        if (listener >= 0)
            std::printf("tcp %s:%d\n", address.c_str(), bound);
        else
            std::printf("tcp none: cannot listen on %s:%d: %s\n", address.c_str(), port,
                        std::strerror(errno));
    }
    std::printf("ready\n");
    std::fflush(stdout);

    Bus bus;
    Adapter serial(bus, pty.Master(), false);
    std::vector<std::unique_ptr<Adapter>> clients;
    char buffer[4096];
    while (!g_stop) {
        std::vector<pollfd> fds{{pty.Master(), POLLIN, 0}};
        if (listener >= 0)
            fds.push_back({listener, POLLIN, 0});
        for (const auto &client : clients)
            fds.push_back({client->fd(), POLLIN, 0});
        bool streaming = serial.streaming();
        for (const auto &client : clients)
            streaming = streaming || client->streaming();
        if (streaming) {
            if (serial.streaming())
                serial.Stream();
            for (const auto &client : clients)
                if (client->streaming() && !client->Stream())
                    client->Close();
        }
        if (::poll(fds.data(), fds.size(), streaming ? 1 : 100) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(pty.Master(), buffer, sizeof buffer);
            if (n > 0)
                serial.Take(buffer, static_cast<std::size_t>(n));
        } else if (fds[0].revents & POLLHUP) {
            // Nobody has the serial side open.
            tallixsim::SleepMs(20);
        }
        std::size_t at = 1;
        if (listener >= 0) {
            if (fds[1].revents & POLLIN) {
                const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0)
                    clients.push_back(std::make_unique<Adapter>(bus, fd, true));
            }
            at = 2;
        }
        for (std::size_t i = at; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Adapter *client = clients[i - at].get();
            const ssize_t n = ::recv(client->fd(), buffer, sizeof buffer, 0);
            if (n <= 0 || !client->Take(buffer, static_cast<std::size_t>(n)))
                client->Close();
        }
        clients.erase(
            std::remove_if(clients.begin(), clients.end(), [](const auto &c) { return c->fd() < 0; }),
            clients.end());
    }
    if (listener >= 0)
        ::close(listener);
    return 0;
}
