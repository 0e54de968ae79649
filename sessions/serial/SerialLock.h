// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The UUCP lock file of a serial port, kept as the other serial programs on
// Linux keep it: LCK..ttyUSB0 in /run/lock (or the folder that
// TALLIX_LOCK_DIR names), holding the process id of its holder as ten
// characters, right-aligned, and a newline. A program that finds the file
// with a live process in it leaves the port alone; a lock whose process has
// died is stale and is taken over.
class CSerialLock
{
public:
    CSerialLock() = default;
    ~CSerialLock();
    CSerialLock(const CSerialLock &) = delete;
    CSerialLock &operator=(const CSerialLock &) = delete;

    static QString Folder();
    // The lock file of a device, by the device file that `device` leads to
    // (two names of one port share it): /dev/ttyUSB0 is LCK..ttyUSB0,
    // /dev/pts/3 is LCK..pts_3.
    static QString PathFor(const QString &device);

    enum class Result
    {
        Taken,
        // No lock could be taken (the folder is missing or not ours to
        // write, or a stale lock is another user's to remove), yet none
        // holds the port: it is used without one.
        Unlocked,
        // `holder` has it (this process, for another session of ours).
        Held,
    };
    Result Take(const QString &device, qint64 &holder);
    // Removes the file, if it is still ours.
    void Release();
    const QString &Path() const { return m_path; }

private:
    QString m_path;
};
