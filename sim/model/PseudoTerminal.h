// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace tallixsim {

// The line settings a client gave the port, as the kernel keeps them.
struct LineSettings
{
    unsigned baud = 0;
    int dataBits = 8;
    // "none", "even", "odd", "mark" or "space".
    std::string parity = "none";
    int stopBits = 1;
    // "none", "rtscts", "xonxoff" (or both, "rtscts+xonxoff").
    std::string flow = "none";

    // "baud=9600 data=8 parity=none stop=1 flow=none".
    std::string Text() const;
    bool operator==(const LineSettings &) const = default;
};

// A pseudo-terminal pair of a simulator's own: the simulator keeps the
// master, a client opens the slave as it would a serial port's device file.
// The master stays open for the simulator's life, so that the slave can be
// opened, closed and opened again; while no client has the slave open the
// master reads nothing (and reports a hang-up), which the simulators wait out.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Opens the pair, the master not blocking; false with errno.
    bool Open();
    void Close();
    int Master() const { return m_master; }
    // "/dev/pts/7".
    const std::string &SlavePath() const { return m_slave; }
    // Points `link` at the slave (replacing what was there); false with errno.
    bool Link(const std::string &link);
    // What the client set last (the master reads the slave's settings).
    bool Settings(LineSettings &settings) const;

private:
    int m_master = -1;
    std::string m_slave;
    std::string m_link;
};

} // namespace tallixsim
