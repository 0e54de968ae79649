// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim/model/InstrumentModel.h"
#include "sim/usbtmc/UsbtmcKnobs.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tallixsim {

// The kernel's usbtmc driver as its device files show it, in front of the
// simulated instruments: each read asks for one transfer and returns what it
// brought (at most the piece the knobs allow), keeping whether it ended the
// message for USBTMC_IOCTL_MSG_IN_ATTR; a read waits for the reply up to the
// file's time-out and then fails with ETIMEDOUT, aborting the reply when the
// file asked for auto-abort and leaving it for the next read otherwise.
// Drivers older than the simulated kernel version lack the ioctls they lacked
// (EBADRQC) and fill each read to its size or the end of the message.
//
// Each call returns what the system call returns, with errno set on failure.
class SimUsbtmcDriver
{
public:
    static constexpr int MAX_DEVICES = 2;

    static SimUsbtmcDriver &Instance();

    // The instruments plugged in now; their files lose them when they go.
    std::vector<UsbtmcInstrument> Plugged();

    // 0 when /dev/usbtmc<index> may be opened now, else its errno.
    int CheckOpen(int index);
    // Takes `fd` (an open file of the caller's) as an open /dev/usbtmc<index>.
    void Adopt(int fd, int index);
    bool Owns(int fd);
    void Forget(int fd);

    ssize_t Read(int fd, void *buffer, std::size_t count);
    ssize_t Write(int fd, const void *buffer, std::size_t count);
    int Ioctl(int fd, unsigned long request, void *argument);

private:
    using Clock = std::chrono::steady_clock;

    // One reply as the instrument sends it: in pieces, each after its delay.
    struct Message
    {
        std::string bytes;
        std::size_t at = 0;
        Clock::time_point readyAt;
    };
    struct Device
    {
        InstrumentModel model;
        std::deque<Message> output;
        std::string key; // empty while nothing is plugged in here
        unsigned generation = 0;
        long replies = 0;    // since it was plugged in
        long heldWrites = 0; // since it was plugged in
    };
    struct File
    {
        int index = 0;
        unsigned generation = 0;
        std::uint32_t timeoutMs = 5000;
        bool autoAbort = false;
        std::uint8_t transferAttributes = 0;
        bool goneReported = false;
    };

    // Brings the devices in line with the knobs: an instrument that went (or
    // was replaced) is a fresh device when it comes back.
    std::vector<UsbtmcInstrument> SyncLocked();
    // The file `fd`, synced; null (errno set) when it is not open or its
    // instrument is gone.
    File *UsableLocked(int fd);
    bool ReadyLocked(const Device &device) const;

    std::mutex m_mutex;
    std::atomic<int> m_openFiles{0};
    std::map<int, File> m_files;
    Device m_devices[MAX_DEVICES];
};

} // namespace tallixsim
