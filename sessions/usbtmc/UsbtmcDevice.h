// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"

#include <QString>

#include <cstdint>
#include <vector>

// One USB instrument that the kernel's usbtmc driver serves, as sysfs
// describes it: its class entry /sys/class/usbmisc/usbtmcN, the USB interface
// above it (bInterfaceNumber) and the USB device above that (idVendor,
// idProduct, serial, manufacturer, product).
//
// Sysfs is read with plain open and read only, the links followed by the
// kernel's own path walk ("device/../idVendor"), so that a stand-in for the
// driver needs to answer no more than those calls and opendir.
struct CUsbtmcDevice
{
    QString name; // "usbtmc0"
    QString node; // "/dev/usbtmc0"
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    QString serial; // empty when the device has none
    int interfaceNumber = 0;
    QString manufacturer;
    QString productName;

    // USB0::0x1AB1::0x04CE::SERIAL::INSTR, with the interface number before
    // ::INSTR when it is not 0.
    QString ResourceString() const;
    // What the device says of itself, and its device file:
    // "Korvane TALLIX-SIM (/dev/usbtmc0)".
    QString Description() const;

    // Every device of the driver, by its number; empty when there is none
    // (or the driver is not loaded).
    static std::vector<CUsbtmcDevice> List();
    // The device file of the instrument that `resource` names (without an
    // interface number, its first USBTMC interface); false with the reason,
    // which lists what is connected, `name` naming the resource.
    static bool Find(const CResource &resource, const QString &name, QString &node, QString &error);
};
