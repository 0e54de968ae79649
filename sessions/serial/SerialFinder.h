// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Finder.h"

#include <memory>

// Lists the serial ports that the system knows, each as ASRL<device
// path>::INSTR with what the system says of it: its USB vendor and product,
// serial number and the /dev/serial/by-id name that points at it. Pseudo-
// terminals and other ports the system does not list (a simulator's, a
// socat link) are added by naming them in TALLIX_SERIAL_PORTS, separated by
// colons. A serial port is never asked *IDN? unless the user allows it: a
// device that speaks no SCPI may take the query for something else.
class CSerialFinder : public CFinder
{
public:
    static std::unique_ptr<CFinder> Make();

    QString Name() const override;
    void Find(const std::function<void(const CFoundResource &)> &found,
              const std::atomic<bool> &cancelled) override;
};
