// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/usbtmc/UsbtmcKnobs.h"

#include "sim/model/SimSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace tallixsim {

namespace {

constexpr long DEFAULT_VENDOR = 0x1AB1;
constexpr long DEFAULT_PRODUCT = 0x04CE;
constexpr const char *DEFAULT_SERIAL = "TLX0001";
// Debian 12's kernel.
constexpr int DEFAULT_KERNEL = 6001;

std::string EnvText(const char *name, const char *fallback)
{
    const char *text = std::getenv(name);
    return text ? std::string(text) : std::string(fallback);
}

bool Unplugged()
{
    if (EnvNumber("TALLIX_SIM_USBTMC_UNPLUGGED", 0) != 0)
        return true;
    const char *file = std::getenv("TALLIX_SIM_USBTMC_UNPLUG_FILE");
    return file && *file && ::access(file, F_OK) == 0;
}

} // namespace

std::string UsbtmcInstrument::Key() const
{
    char text[64];
    std::snprintf(text, sizeof text, "%04x:%04x:%d:", vendor, product, interfaceNumber);
    return text + serial;
}

std::vector<UsbtmcInstrument> PluggedUsbtmcInstruments()
{
    std::vector<UsbtmcInstrument> plugged;
    if (Unplugged())
        return plugged;
    UsbtmcInstrument first;
    first.vendor = static_cast<unsigned>(EnvNumber("TALLIX_SIM_USBTMC_VENDOR", DEFAULT_VENDOR)) & 0xFFFF;
    first.product = static_cast<unsigned>(EnvNumber("TALLIX_SIM_USBTMC_PRODUCT", DEFAULT_PRODUCT)) & 0xFFFF;
    first.serial = EnvText("TALLIX_SIM_USBTMC_SERIAL", DEFAULT_SERIAL);
    first.interfaceNumber = static_cast<int>(EnvNumber("TALLIX_SIM_USBTMC_INTERFACE", 0));
    plugged.push_back(first);

    // "vendor:product:serial:interface", e.g. "0x1234:0x5678:TLX0002:1".
    const std::string second = EnvText("TALLIX_SIM_USBTMC_SECOND", "");
    long vendor = 0, product = 0;
    int number = 0;
    char serial[128] = {};
    if (std::sscanf(second.c_str(), "%li:%li:%127[^:]:%d", &vendor, &product, serial, &number) == 4)
        plugged.push_back(UsbtmcInstrument{static_cast<unsigned>(vendor) & 0xFFFF,
                                           static_cast<unsigned>(product) & 0xFFFF, serial, number});
    return plugged;
}

long UsbtmcMaxPiece()
{
    const long piece = EnvNumber("TALLIX_SIM_USBTMC_MAX_PIECE", 0);
    return piece > 0 ? piece : 0;
}

long UsbtmcReplyDelayMs()
{
    return EnvNumber("TALLIX_SIM_USBTMC_DELAY_MS", 0);
}

long UsbtmcDelayedReplies()
{
    return EnvNumber("TALLIX_SIM_USBTMC_DELAYED_REPLIES", -1);
}

long UsbtmcPieceDelayMs()
{
    return EnvNumber("TALLIX_SIM_USBTMC_PIECE_DELAY_MS", 0);
}

long UsbtmcHeldWrites()
{
    return EnvNumber("TALLIX_SIM_USBTMC_HELD_WRITES", 0);
}

bool UsbtmcOpenDenied()
{
    return EnvNumber("TALLIX_SIM_USBTMC_DENY", 0) != 0;
}

int UsbtmcUnplugErrno()
{
    const long code = EnvNumber("TALLIX_SIM_USBTMC_UNPLUG_ERRNO", ENODEV);
    return code > 0 ? static_cast<int>(code) : ENODEV;
}

int UsbtmcKernelVersion()
{
    const std::string text = EnvText("TALLIX_SIM_USBTMC_KERNEL", "");
    int major = 0, minor = 0;
    if (std::sscanf(text.c_str(), "%d.%d", &major, &minor) != 2)
        return DEFAULT_KERNEL;
    return major * 1000 + minor;
}

} // namespace tallixsim
