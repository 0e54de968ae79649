// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class CRpcChannel;

// Reaching a VXI-11 device, as one call that can run off the window's
// thread: the host's name resolved, its portmapper asked for the core
// channel's port, the core channel connected and a link made to the device,
// all within the open time-out. Stop (from any thread) cuts the connection
// under way; a name being resolved cannot be cut short, so the opening then
// ends by itself once the resolver answers, and does nothing more.
class CVxi11Opening
{
public:
    struct Request
    {
        QString host;
        QString device; // "inst0", "gpib0,14"
        int openTimeoutMs = 5000;
        int clientId = 0;
    };

    explicit CVxi11Opening(Request request);
    ~CVxi11Opening();
    CVxi11Opening(const CVxi11Opening &) = delete;
    CVxi11Opening &operator=(const CVxi11Opening &) = delete;

    void Run();
    void Stop();

    // After Run: the sentence that says why it failed, empty when the link
    // was made; then the rest holds it.
    QString error;
    std::shared_ptr<CRpcChannel> core;
    std::uint32_t hostAddress = 0; // network order
    int link = 0;
    std::uint16_t abortPort = 0;
    std::uint32_t maxRecvSize = 0;

private:
    Request m_request;
    std::shared_ptr<CRpcChannel> m_portmapper;
    std::atomic<bool> m_stopped{false};
};
