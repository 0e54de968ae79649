// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim/usbtmc/UsbtmcKnobs.h"

#include <string>
#include <vector>

namespace tallixsim {

// A copy of the part of sysfs that describes usbtmc devices, in a temporary
// folder: the class folder /sys/class/usbmisc with its links into
// /sys/devices, the USB interface and the USB device above each entry, laid
// out as the kernel lays them out, so that the kernel's own path walk follows
// "usbtmc0/device/../idVendor" there as it would in sysfs. The class also
// holds a HID device, as a real one often does. One tree is built for each
// set of instruments and kept until the process ends.
class FakeSysfs
{
public:
    // Whether `path` lies under /sys/class/usbmisc.
    static bool Covers(const char *path);
    // The same path in the tree for the instruments `plugged`; false (and
    // errno set) when the tree cannot be made.
    static bool Map(const char *path, const std::vector<UsbtmcInstrument> &plugged, std::string &mapped);
};

} // namespace tallixsim
