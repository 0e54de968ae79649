// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// NI-488.2 device address as the console passes it: primary address in the
// low byte, secondary in the high byte.
using Addr4882_t = unsigned short;

namespace gpib32 {

// What the console's side means by the values it passes and reads (the
// NI-488.2 conventions of gpib-32).
constexpr int ERR = 0x8000;
constexpr int TIMO = 0x4000;
constexpr int END = 0x2000;
constexpr int EDVR = 0;
constexpr int ENOL = 2;
constexpr int EARG = 4;
constexpr int EABO = 6;
constexpr int ECAP = 11;
// linux-gpib's own: its configuration file (/etc/gpib.conf) cannot be used.
constexpr int ECNF = 17;
constexpr int NULL_END = 0;
constexpr int NL_END = 1;
constexpr int DAB_END = 2;
constexpr int STOP_END = 0x100;
constexpr int IBC_TMO = 0x3;
constexpr Addr4882_t NO_ADDR = 0xFFFF;

// What a call left behind, as gpib-32 publishes it in user_ibsta,
// user_iberr, user_ibcnt and user_ibcntl.
struct GpibResult
{
    int status = 0;
    int error = 0;
    int count = 0;
    long longCount = 0;
};

// One way to reach a bus, with the console's NI-488.2 conventions: each
// operation maps names and values to what is behind it and returns what the
// call left behind. The machine's own GPIB library (CLibraryBackend) and a
// Prologix adapter (CPrologixBackend) are the two; CBackendChoice picks one
// for the process, and gpib-32's exports and the probe call it without
// asking which it is.
class CGpibBackend
{
public:
    enum Family
    {
        FAMILY_NONE,
        FAMILY_LINUX_GPIB,
        FAMILY_NI,
        FAMILY_PROLOGIX, // no library: a Prologix adapter (CPrologixBackend)
    };

    CGpibBackend() = default;
    virtual ~CGpibBackend() = default;
    CGpibBackend(const CGpibBackend &) = delete;
    CGpibBackend &operator=(const CGpibBackend &) = delete;

    virtual Family GetFamily() const = 0;
    const char *FamilyName() const;
    // Empty when the backend does not tell its version (or, for an adapter,
    // while it cannot be reached).
    virtual std::string Version() = 0;
    virtual bool HasListenerSearch() const = 0;

    virtual GpibResult SendIFC(int board) = 0;
    virtual GpibResult EnableRemote(int board, const Addr4882_t *addressList) = 0;
    virtual GpibResult Send(int board, Addr4882_t address, const void *buffer, long count, int eotMode) = 0;
    virtual GpibResult Receive(int board, Addr4882_t address, void *buffer, long count, int termination) = 0;
    virtual GpibResult ReadStatusByte(int board, Addr4882_t address, short *result) = 0;
    // Selected device clear of `address` (NO_ADDR: every device).
    virtual GpibResult DevClear(int board, Addr4882_t address) = 0;
    virtual GpibResult SendCmds(int board, const void *commands, long count) = 0;
    // `results` holds at least `limit` entries.
    virtual GpibResult FindLstn(int board, const Addr4882_t *padList, Addr4882_t *results, int limit) = 0;

    virtual GpibResult IbFind(const char *name, int *ud) = 0;
    virtual GpibResult IbDev(int board, int pad, int sad, int tmo, int eot, int eos, int *ud) = 0;
    virtual GpibResult IbConfig(int ud, int option, int value) = 0;
    virtual GpibResult IbAsk(int ud, int option, int *value) = 0;
    virtual GpibResult IbOnl(int ud, int online) = 0;
    virtual GpibResult IbTmo(int ud, int timeout) = 0;
    virtual GpibResult IbWait(int ud, int mask) = 0;
    virtual GpibResult IbRd(int ud, void *buffer, long count) = 0;
    virtual GpibResult IbWrt(int ud, const void *buffer, long count) = 0;
    virtual GpibResult IbWrtf(int ud, const char *path) = 0;
    virtual GpibResult IbRsp(int ud, char *status) = 0;
    virtual GpibResult IbClr(int ud) = 0;
};

} // namespace gpib32
