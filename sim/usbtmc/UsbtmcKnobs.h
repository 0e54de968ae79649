// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

// The environment that tunes the simulated USBTMC instruments, read at each
// call (Preload.cpp lists the variables).
namespace tallixsim {

// One simulated instrument as the USB bus shows it.
struct UsbtmcInstrument
{
    unsigned vendor = 0;
    unsigned product = 0;
    std::string serial;
    int interfaceNumber = 0;

    // Tells one instrument from another: a different one is a fresh device.
    std::string Key() const;
};

// The instruments plugged in now, /dev/usbtmc0 first; none while unplugged.
std::vector<UsbtmcInstrument> PluggedUsbtmcInstruments();

// The largest piece one read returns, 0 for no limit.
long UsbtmcMaxPiece();
// From a command's write to its reply's first byte, and between the pieces
// of a reply.
long UsbtmcReplyDelayMs();
// How many replies of a device, since it was plugged in, wait that delay;
// -1: every one.
long UsbtmcDelayedReplies();
long UsbtmcPieceDelayMs();
// How many writes of a device, since it was plugged in, the instrument
// never takes: each fails once the file's time-out has passed.
long UsbtmcHeldWrites();
// Whether opening the device file is refused (EACCES).
bool UsbtmcOpenDenied();
// What the first call on a device file fails with once its instrument is
// gone; later calls fail with ENODEV.
int UsbtmcUnplugErrno();
// The version of the simulated kernel driver as major * 1000 + minor.
int UsbtmcKernelVersion();

// Where each call is recorded.
constexpr const char *USBTMC_TRACE_VARIABLE = "TALLIX_SIM_USBTMC_TRACE";

} // namespace tallixsim
