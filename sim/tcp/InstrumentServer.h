// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim/model/InstrumentModel.h"
#include "sim/tcp/ScpiInstrument.h"

#include <csignal>
#include <string>

namespace tallixsim {

// How the server behaves; the defaults make a well-behaved instrument.
struct ServerOptions
{
    std::string address = "127.0.0.1";
    int port = 700;
    bool neverAnswer = false;
    long closeAfter = -1;      // lines of a connection after which it is closed; -1: never
    bool reset = false;        // close with a reset (at the first request unless closeAfter says when)
    bool hangUp = false;       // close a closeAfter close plainly, with no end-of-file wait nor reset
    int closeMs = 300;         // between the end-of-file and the reset of a closeAfter close
    int pieces = 1;            // a reply goes out in this many pieces ...
    int pauseMs = 0;           // ... with this pause between them
    long replyBytes = -1;      // answer every request with this many bytes; -1: the model's response
    bool nul = false;          // put a NUL byte in the middle of every reply
    long resetAfterBytes = -1; // send only this many bytes of a reply, then reset; -1: whole replies
    long closeAfterBytes = -1; // ... then close the connection (end-of-file) instead
    bool acceptNothing = false;
    bool scpi = false; // answer queries by themselves, as a SCPI instrument on a raw socket
    std::string logPath;
    std::string sentPath; // every byte sent is appended here
};

// Exit codes of the program.
constexpr int EXIT_BIND_PRIVILEGE = 2;

// A TCP server on one address and port that takes command lines ended by
// CR LF and answers each "Please respond" line with the model's latest
// response (an empty line when there is none); or, with `scpi`, answers each
// query by itself, as ScpiInstrument does. One client at a time; the next one
// waits in the backlog until the current one is gone.
class InstrumentServer
{
public:
    explicit InstrumentServer(ServerOptions options);
    ~InstrumentServer();
    InstrumentServer(const InstrumentServer &) = delete;
    InstrumentServer &operator=(const InstrumentServer &) = delete;

    // Binds and listens; on failure prints why and returns the exit code
    // (EXIT_BIND_PRIVILEGE when the port needs privileges), else 0.
    int Listen(const char *programPath);
    // Serves until `stop` becomes non-zero. SIGTERM and SIGINT must be blocked
    // by the caller; they are let through only inside the waits.
    int Run(volatile std::sig_atomic_t &stop);

private:
    enum class Wait
    {
        Ready,
        Timeout,
        Stopped,
    };
    Wait WaitFor(int fd, short events, int timeoutMs);
    bool FillBacklog();
    void Serve(int client);
    bool HandleLine(int client, std::string line, long lineNumber);
    bool Reply(int client, ScpiReply reply);
    bool SendAll(int client, const char *data, std::size_t size);
    void CloseAfterLines(int client);
    void ResetAndClose(int client);
    void Log(const char *data, std::size_t size);
    void Append(int &fd, const char *data, std::size_t size);
    static void Say(const std::string &line);

    ServerOptions m_options;
    InstrumentModel m_model;
    ScpiInstrument m_scpi;
    int m_listener = -1;
    int m_logFd = -1;
    int m_sentFd = -1;
    int m_dummies[64];
    int m_dummyCount = 0;
    volatile std::sig_atomic_t *m_stop = nullptr;
};

} // namespace tallixsim
