// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <initializer_list>
#include <memory>
#include <string>

// NI-488.2 device address as the console passes it: primary address in the
// low byte, secondary in the high byte.
using Addr4882_t = unsigned short;

namespace gpib32 {

class CPrologixBackend;

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

// The GPIB library that is really there (linux-gpib's or NI's for Linux),
// opened at run time and called with the console's NI-488.2 conventions:
// each operation maps names and values to the backend's and returns what the
// backend left behind. Linked into libgpib-32.so and into the probe, so both
// choose the same backend the same way.
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

    // Names tried after TALLIX_GPIB_BACKEND, in this order.
    static const char *const LIBRARY_NAMES[];
    static const int LIBRARY_NAME_COUNT;

    CGpibBackend() = default;
    ~CGpibBackend();
    CGpibBackend(const CGpibBackend &) = delete;
    CGpibBackend &operator=(const CGpibBackend &) = delete;

    // The backend of the process, loaded on first use with the environment's
    // choice.
    static CGpibBackend &Instance();

    // Tries `override` (when not empty), then LIBRARY_NAMES; keeps the first
    // that loads and is a GPIB library. An override "prologix:serial:DEVICE"
    // or "prologix:tcp:HOST[:PORT]" takes a Prologix adapter instead, and
    // nothing else (the adapter is reached at the first call). Only the
    // first call does anything.
    void Load(const char *override);

    bool IsLoaded() const { return m_library != nullptr || m_prologix != nullptr; }
    Family GetFamily() const { return m_family; }
    const char *FamilyName() const;
    // The file the loader opened (for an adapter, where it is).
    const std::string &Path() const { return m_path; }
    // Empty when the backend does not tell its version.
    std::string Version() const;
    // One line: every candidate tried and why it was not taken.
    const std::string &Attempts() const { return m_attempts; }

    bool HasListenerSearch() const { return m_FindLstn != nullptr; }

    GpibResult SendIFC(int board);
    GpibResult EnableRemote(int board, const Addr4882_t *addressList);
    GpibResult Send(int board, Addr4882_t address, const void *buffer, long count, int eotMode);
    GpibResult Receive(int board, Addr4882_t address, void *buffer, long count, int termination);
    GpibResult ReadStatusByte(int board, Addr4882_t address, short *result);
    // Selected device clear of `address` (NO_ADDR: every device).
    GpibResult DevClear(int board, Addr4882_t address);
    GpibResult SendCmds(int board, const void *commands, long count);
    // `results` holds at least `limit` entries.
    GpibResult FindLstn(int board, const Addr4882_t *padList, Addr4882_t *results, int limit);

    GpibResult IbFind(const char *name, int *ud);
    GpibResult IbDev(int board, int pad, int sad, int tmo, int eot, int eos, int *ud);
    GpibResult IbConfig(int ud, int option, int value);
    GpibResult IbAsk(int ud, int option, int *value);
    GpibResult IbOnl(int ud, int online);
    GpibResult IbTmo(int ud, int timeout);
    GpibResult IbWait(int ud, int mask);
    GpibResult IbRd(int ud, void *buffer, long count);
    GpibResult IbWrt(int ud, const void *buffer, long count);
    GpibResult IbWrtf(int ud, const char *path);
    GpibResult IbRsp(int ud, char *status);
    GpibResult IbClr(int ud);

private:
    // Where one of the four values comes from after a call: an accessor
    // function or a variable, 32 or 64 bits wide.
    struct Source
    {
        void *address = nullptr;
        bool function = false;
        bool wide = false;
    };

    bool TryOpen(const char *name, std::string &reason);
    void *Symbol(const char *name) const;
    void *FirstSymbol(std::initializer_list<const char *> names) const;
    Source FindSource(std::initializer_list<const char *> functions, const char *variable, bool wide) const;
    static long ReadSource(const Source &source);
    GpibResult Result() const;
    static GpibResult Refused(int error);

    void *m_library = nullptr;
    std::unique_ptr<CPrologixBackend> m_prologix;
    Family m_family = FAMILY_NONE;
    bool m_tried = false;
    std::string m_path;
    std::string m_attempts;

    void *m_SendIFC = nullptr;
    void *m_EnableRemote = nullptr;
    void *m_Send = nullptr;
    void *m_Receive = nullptr;
    void *m_ReadStatusByte = nullptr;
    void *m_DevClear = nullptr;
    void *m_SendCmds = nullptr;
    void *m_FindLstn = nullptr;
    void *m_ibfind = nullptr;
    void *m_ibdev = nullptr;
    void *m_ibconfig = nullptr;
    void *m_ibask = nullptr;
    void *m_ibonl = nullptr;
    void *m_ibtmo = nullptr;
    void *m_ibwait = nullptr;
    void *m_ibrd = nullptr;
    void *m_ibwrt = nullptr;
    void *m_ibwrtf = nullptr;
    void *m_ibrsp = nullptr;
    void *m_ibclr = nullptr;
    void *m_ibvers = nullptr;

    Source m_status;
    Source m_error;
    Source m_count;
    Source m_longCount;
};

} // namespace gpib32
