// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <atomic>
#include <functional>

// One instrument that a search found.
struct CFoundResource
{
    // A resource string that opens it.
    QString resource;
    // What the system knows of it: a service name, USB ids, a by-id name.
    QString description;
    // Whether it may be asked "*IDN?": not a serial port, unless the user
    // allows it (a query can upset a device that speaks no SCPI).
    bool mayAskIdentity = true;
};

// Lists the instruments of one kind that can be found now. Runs on a worker
// thread: it touches no widget and shows no message; what it cannot reach it
// skips quietly.
class CFinder
{
public:
    virtual ~CFinder() = default;
    // What it searches, for the progress indication ("GPIB board 0").
    virtual QString Name() const = 0;
    // Reports each instrument through `found` as soon as it is known, and
    // returns soon after `cancelled` turns true.
    virtual void Find(const std::function<void(const CFoundResource &)> &found,
                      const std::atomic<bool> &cancelled) = 0;
};
