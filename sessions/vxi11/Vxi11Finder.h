// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Finder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Finds the VXI-11 instruments of the local IPv4 networks: one datagram to
// the portmapper port of each network's broadcast address asks for the core
// channel's port, and every host whose portmapper names one is an instrument
// (TCPIP::<address>::INSTR). The loopback network is asked too, so that an
// instrument served on this machine is found.
class CVxi11Finder : public CFinder
{
public:
    // How long answers are awaited: instruments on a busy network may take
    // most of a second.
    static constexpr int DEFAULT_WAIT_MS = 1000;

    explicit CVxi11Finder(int waitMs = DEFAULT_WAIT_MS) : m_waitMs(waitMs) {}
    static std::unique_ptr<CFinder> Make();

    QString Name() const override;
    void Find(const std::function<void(const CFoundResource &)> &found,
              const std::atomic<bool> &cancelled) override;

    // The broadcast addresses (network order) of the IPv4 interfaces that
    // are up: the one each names, or for the loopback its network's highest
    // address.
    static std::vector<std::uint32_t> BroadcastAddresses();

    // The core channel's TCP port that a datagram names when it is the
    // portmapper's whole, successful reply to the call `xid`; 0 for anything
    // else (another call's reply, a call, a refusal, a port of 0 or past
    // 65535, bytes missing or bytes after the result).
    static std::uint16_t PortInAnswer(std::uint32_t xid, const char *data, std::size_t size);
    // The longest answer taken: far more than a reply's 28 bytes and the
    // largest verifier.
    static constexpr std::size_t MAX_ANSWER_BYTES = 512;

private:
    int m_waitMs;
};
