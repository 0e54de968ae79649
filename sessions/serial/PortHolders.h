// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// A process that has a serial port's device file open.
struct CPortHolder
{
    qint64 pid = 0;
    // Its program's name, as the system shows it; empty when hidden.
    QString name;
    // It holds the master of the pseudo-terminal that the device is: it
    // made the pair and keeps both ends (socat, an emulator's openpty).
    bool createdIt = false;

    // "socat, process 4114", or "process 4114" when the name is hidden.
    QString Text() const;
};

// The program name of a process; empty when it cannot be seen.
QString ProcessName(qint64 pid);

// The processes besides this one that have `device` open, from /proc: only
// those this user may look into (another user's are hidden from all but
// root).
QList<CPortHolder> PortHolders(const QString &device);
