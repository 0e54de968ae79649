// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>

// The classes of resource a VISA resource string may name; Tallix's kinds
// of session say which of them they serve.
enum class ResourceClass
{
    Instr,
    Socket,
    Intfc,
    Raw,
    Servant,
    Backplane,
    Memacc,
};

// A VISA resource string, parsed.
struct CResource
{
    QString text; // as it was given
    // The interface, as the session table names it: "TCPIP", "USB" ...
    QString interfaceName;
    ResourceClass resourceClass = ResourceClass::Instr;
    int board = 0; // the interface's number: TCPIP0, GPIB1 ...

    // TCPIP: the host (a name or an address; an IPv6 address without its
    // brackets, with its zone when it has one); the port of a SOCKET; the LAN
    // device name of an INSTR ("inst0" unless given; "gpib0,14" for a
    // gateway).
    QString host;
    int port = 0;
    QString lanDevice;

    // USB: vendor and product ids, the serial number, the USBTMC interface
    // number (-1 when not given).
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    QString serial;
    int usbInterface = -1;

    // ASRL: the port's number, or a device path given whole (then
    // asrlNumber is -1).
    int asrlNumber = -1;
    QString devicePath;

    // GPIB: primary address 0 to 30, secondary 0 to 30 or -1 for none.
    int primary = -1;
    int secondary = -1;

    bool operator==(const CResource &) const = default;
};
