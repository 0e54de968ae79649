// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Names and values of the two backends, as their public headers give them:
//
//   linux-gpib (libgpib.so.0, gpib/ib.h and gpib/gpib_user.h)
//     Send end modes   NULLend 0, DABend 1, NLend 2 (enum send_eotmode)
//     Receive          STOPend 0x100, else the low byte is the end-of-string byte
//     counts           long; Addr4882_t uint16_t; FindLstn's limit int
//     names            ibfind, ibwrtf, ibtmo, ibvers(char **); DevClear(int,
//                      Addr4882_t), int ibclr(int)
//     status           int ThreadIbsta/ThreadIberr/ThreadIbcnt(), long ThreadIbcntl();
//                      volatile int ibsta, iberr, ibcnt; volatile long ibcntl
//     only here        gpib_error_string, which tells the two apart
//   NI-488.2 for Linux (libni4882.so, ni4882.h; libgpibapi.so, ni488.h)
//     Send end modes   NULLend 0x00, NLend 0x01, DABend 0x02: the console's own
//     Receive          STOPend 0x0100
//     counts           size_t; Addr4882_t short; FindLstn's limit size_t
//     names            ibfindA, ibwrtfA (ibfind/ibwrtf are macros there; the
//                      older ni488.h exports ibfind/ibwrtf themselves); ibtmo is a
//                      macro for ibconfig(ud, IbcTMO, v), IbcTMO 0x0003;
//                      DevClear(int, Addr4882_t), unsigned int ibclr(int)
//     status           unsigned int ThreadIbsta/ThreadIberr/ThreadIbcnt() (since
//                      3.2 every unsigned long became unsigned int), ThreadIbcntl()
//                      a macro for ThreadIbcnt(); Ibsta()/Iberr()/Ibcnt() per
//                      process; the process variables ibsta, iberr, ibcnt, ibcntl
//
// Everything NI calls a status word, an error code or a count is read as 32
// bits there, which is right whatever width a given release declares.

#include "gpib32/LibraryBackend.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>

namespace gpib32 {

namespace {

// linux-gpib's end modes.
constexpr int LG_NULLEND = 0;
constexpr int LG_DABEND = 1;
constexpr int LG_NLEND = 2;

using LgAddr = std::uint16_t;
using NiAddr = short;

template <typename... Args> void CallVoid(void *function, Args... args)
{
    reinterpret_cast<void (*)(Args...)>(function)(args...);
}

template <typename R, typename... Args> R Call(void *function, Args... args)
{
    return reinterpret_cast<R (*)(Args...)>(function)(args...);
}

bool ValidEndMode(int mode)
{
    return mode == NULL_END || mode == NL_END || mode == DAB_END;
}

int LinuxGpibEndMode(int niMode)
{
    if (niMode == NL_END)
        return LG_NLEND;
    if (niMode == DAB_END)
        return LG_DABEND;
    return LG_NULLEND;
}

} // namespace

const char *const CLibraryBackend::LIBRARY_NAMES[] = {
    "libgpib.so.0",    // linux-gpib
    "libni4882.so.1",  // NI-488.2 for Linux, its runtime package's versioned name
    "libni4882.so",    // NI-488.2 for Linux, the name its documentation gives
    "libgpibapi.so.2", // NI-488.2 for Linux before the NI4882 interface
    "libgpibapi.so",
};
const int CLibraryBackend::LIBRARY_NAME_COUNT = sizeof LIBRARY_NAMES / sizeof LIBRARY_NAMES[0];

// The library stays loaded for the rest of the process, also when gpib-32 is
// unloaded: a driver's library may run threads of its own (or keep per-thread
// status) that must not lose their code under them.
CLibraryBackend::~CLibraryBackend() = default;

std::unique_ptr<CLibraryBackend> CLibraryBackend::Open(const char *name, std::string &reason)
{
    std::unique_ptr<CLibraryBackend> backend(new CLibraryBackend);
    if (!backend->TryOpen(name, reason))
        return nullptr;
    return backend;
}

void *CLibraryBackend::Symbol(const char *name) const
{
    return m_library ? dlsym(m_library, name) : nullptr;
}

void *CLibraryBackend::FirstSymbol(std::initializer_list<const char *> names) const
{
    for (const char *name : names) {
        if (void *found = Symbol(name))
            return found;
    }
    return nullptr;
}

CLibraryBackend::Source CLibraryBackend::FindSource(std::initializer_list<const char *> functions,
                                                    const char *variable, bool wide) const
{
    Source source;
    source.wide = wide;
    if ((source.address = FirstSymbol(functions)) != nullptr) {
        source.function = true;
        return source;
    }
    source.address = Symbol(variable);
    return source;
}

bool CLibraryBackend::TryOpen(const char *name, std::string &reason)
{
    dlerror();
    void *library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char *why = dlerror();
        reason = why ? why : std::string(name) + ": cannot be opened";
        return false;
    }
    // Ourselves, or another library of the console's kind: forwarding to it
    // would call back into gpib-32 rather than reach a bus.
    if (dlsym(library, "user_ibsta")) {
        dlclose(library);
        reason = std::string(name) + ": a gpib-32 library itself, not a GPIB driver's";
        return false;
    }
    m_library = library;
    m_Send = Symbol("Send");
    m_Receive = Symbol("Receive");
    m_status = FindSource({"ThreadIbsta", "Ibsta"}, "ibsta", false);
    if (!m_Send || !m_Receive || !m_status.address) {
        dlclose(library);
        m_library = nullptr;
        reason = std::string(name) + ": not a GPIB library (no Send, Receive or status word)";
        return false;
    }

    m_family = Symbol("gpib_error_string") ? FAMILY_LINUX_GPIB : FAMILY_NI;
    const bool linuxGpib = m_family == FAMILY_LINUX_GPIB;
    m_error = FindSource({"ThreadIberr", "Iberr"}, "iberr", false);
    m_count = FindSource({"ThreadIbcnt", "Ibcnt"}, "ibcnt", false);
    if (linuxGpib)
        m_longCount = FindSource({"ThreadIbcntl"}, "ibcntl", true);
    else
        m_longCount = FindSource({"ThreadIbcntl", "ThreadIbcnt", "Ibcnt"}, "ibcntl", false);
    if (!m_longCount.address)
        m_longCount = m_count;

    m_SendIFC = Symbol("SendIFC");
    m_EnableRemote = Symbol("EnableRemote");
    m_ReadStatusByte = Symbol("ReadStatusByte");
    m_DevClear = Symbol("DevClear");
    m_SendCmds = Symbol("SendCmds");
    m_FindLstn = Symbol("FindLstn");
    m_ibfind = FirstSymbol({"ibfindA", "ibfind"});
    m_ibdev = Symbol("ibdev");
    m_ibconfig = Symbol("ibconfig");
    m_ibask = Symbol("ibask");
    m_ibonl = Symbol("ibonl");
    m_ibtmo = Symbol("ibtmo");
    m_ibwait = Symbol("ibwait");
    m_ibrd = Symbol("ibrd");
    m_ibwrt = Symbol("ibwrt");
    m_ibwrtf = FirstSymbol({"ibwrtfA", "ibwrtf"});
    m_ibrsp = Symbol("ibrsp");
    m_ibclr = Symbol("ibclr");
    m_ibvers = linuxGpib ? Symbol("ibvers") : nullptr;

    m_path = name;
    link_map *map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name)
        m_path = map->l_name;
    return true;
}

std::string CLibraryBackend::Version()
{
    if (!m_ibvers)
        return {};
    char *version = nullptr;
    CallVoid(m_ibvers, &version);
    return version ? std::string(version) : std::string();
}

long CLibraryBackend::ReadSource(const Source &source)
{
    if (!source.address)
        return 0;
    if (source.function) {
        if (source.wide)
            return Call<long>(source.address);
        return static_cast<long>(Call<unsigned int>(source.address));
    }
    if (source.wide)
        return *static_cast<volatile long *>(source.address);
    return static_cast<long>(*static_cast<volatile unsigned int *>(source.address));
}

GpibResult CLibraryBackend::Result() const
{
    GpibResult result;
    result.status = static_cast<int>(ReadSource(m_status));
    result.error = static_cast<int>(ReadSource(m_error));
    result.count = static_cast<int>(ReadSource(m_count));
    result.longCount = ReadSource(m_longCount);
    return result;
}

GpibResult CLibraryBackend::Refused(int error)
{
    GpibResult result;
    result.status = ERR;
    result.error = error;
    return result;
}

GpibResult CLibraryBackend::SendIFC(int board)
{
    if (!m_SendIFC)
        return Refused(ECAP);
    CallVoid(m_SendIFC, board);
    return Result();
}

GpibResult CLibraryBackend::EnableRemote(int board, const Addr4882_t *addressList)
{
    if (!m_EnableRemote)
        return Refused(ECAP);
    if (m_family == FAMILY_LINUX_GPIB)
        CallVoid(m_EnableRemote, board, reinterpret_cast<const LgAddr *>(addressList));
    else
        CallVoid(m_EnableRemote, board, reinterpret_cast<const NiAddr *>(addressList));
    return Result();
}

GpibResult CLibraryBackend::Send(int board, Addr4882_t address, const void *buffer, long count, int eotMode)
{
    // A mode NI does not define has no counterpart to map to.
    if (!ValidEndMode(eotMode) || count < 0)
        return Refused(EARG);
    if (m_family == FAMILY_LINUX_GPIB)
        CallVoid(m_Send, board, static_cast<LgAddr>(address), buffer, count, LinuxGpibEndMode(eotMode));
    else
        CallVoid(m_Send, board, static_cast<NiAddr>(address), buffer, static_cast<std::size_t>(count),
                 eotMode);
    return Result();
}

GpibResult CLibraryBackend::Receive(int board, Addr4882_t address, void *buffer, long count, int termination)
{
    if (count < 0)
        return Refused(EARG);
    if (m_family == FAMILY_LINUX_GPIB)
        CallVoid(m_Receive, board, static_cast<LgAddr>(address), buffer, count, termination);
    else
        CallVoid(m_Receive, board, static_cast<NiAddr>(address), buffer, static_cast<std::size_t>(count),
                 termination);
    return Result();
}

GpibResult CLibraryBackend::ReadStatusByte(int board, Addr4882_t address, short *result)
{
    if (!m_ReadStatusByte)
        return Refused(ECAP);
    if (m_family == FAMILY_LINUX_GPIB)
        CallVoid(m_ReadStatusByte, board, static_cast<LgAddr>(address), result);
    else
        CallVoid(m_ReadStatusByte, board, static_cast<NiAddr>(address), result);
    return Result();
}

GpibResult CLibraryBackend::DevClear(int board, Addr4882_t address)
{
    if (!m_DevClear)
        return Refused(ECAP);
    if (m_family == FAMILY_LINUX_GPIB)
        CallVoid(m_DevClear, board, static_cast<LgAddr>(address));
    else
        CallVoid(m_DevClear, board, static_cast<NiAddr>(address));
    return Result();
}

GpibResult CLibraryBackend::SendCmds(int board, const void *commands, long count)
{
    if (!m_SendCmds)
        return Refused(ECAP);
    if (count < 0)
        return Refused(EARG);
    if (m_family == FAMILY_LINUX_GPIB)
        CallVoid(m_SendCmds, board, commands, count);
    else
        CallVoid(m_SendCmds, board, commands, static_cast<std::size_t>(count));
    return Result();
}

GpibResult CLibraryBackend::FindLstn(int board, const Addr4882_t *padList, Addr4882_t *results, int limit)
{
    if (!m_FindLstn)
        return Refused(ECAP);
    if (limit < 0)
        return Refused(EARG);
    if (m_family == FAMILY_LINUX_GPIB)
        CallVoid(m_FindLstn, board, reinterpret_cast<const LgAddr *>(padList),
                 reinterpret_cast<LgAddr *>(results), limit);
    else
        CallVoid(m_FindLstn, board, reinterpret_cast<const NiAddr *>(padList),
                 reinterpret_cast<NiAddr *>(results), static_cast<std::size_t>(limit));
    return Result();
}

GpibResult CLibraryBackend::IbFind(const char *name, int *ud)
{
    *ud = -1;
    if (!m_ibfind)
        return Refused(ECAP);
    *ud = Call<int>(m_ibfind, name);
    return Result();
}

GpibResult CLibraryBackend::IbDev(int board, int pad, int sad, int tmo, int eot, int eos, int *ud)
{
    *ud = -1;
    if (!m_ibdev)
        return Refused(ECAP);
    *ud = Call<int>(m_ibdev, board, pad, sad, tmo, eot, eos);
    return Result();
}

GpibResult CLibraryBackend::IbConfig(int ud, int option, int value)
{
    if (!m_ibconfig)
        return Refused(ECAP);
    Call<unsigned int>(m_ibconfig, ud, option, value);
    return Result();
}

GpibResult CLibraryBackend::IbAsk(int ud, int option, int *value)
{
    if (!m_ibask)
        return Refused(ECAP);
    Call<unsigned int>(m_ibask, ud, option, value);
    return Result();
}

GpibResult CLibraryBackend::IbOnl(int ud, int online)
{
    if (!m_ibonl)
        return Refused(ECAP);
    Call<unsigned int>(m_ibonl, ud, online);
    return Result();
}

GpibResult CLibraryBackend::IbTmo(int ud, int timeout)
{
    if (m_ibtmo) {
        Call<unsigned int>(m_ibtmo, ud, timeout);
        return Result();
    }
    return IbConfig(ud, IBC_TMO, timeout);
}

GpibResult CLibraryBackend::IbWait(int ud, int mask)
{
    if (!m_ibwait)
        return Refused(ECAP);
    Call<unsigned int>(m_ibwait, ud, mask);
    return Result();
}

GpibResult CLibraryBackend::IbRd(int ud, void *buffer, long count)
{
    if (!m_ibrd)
        return Refused(ECAP);
    if (count < 0)
        return Refused(EARG);
    if (m_family == FAMILY_LINUX_GPIB)
        Call<unsigned int>(m_ibrd, ud, buffer, count);
    else
        Call<unsigned int>(m_ibrd, ud, buffer, static_cast<std::size_t>(count));
    return Result();
}

GpibResult CLibraryBackend::IbWrt(int ud, const void *buffer, long count)
{
    if (!m_ibwrt)
        return Refused(ECAP);
    if (count < 0)
        return Refused(EARG);
    if (m_family == FAMILY_LINUX_GPIB)
        Call<unsigned int>(m_ibwrt, ud, buffer, count);
    else
        Call<unsigned int>(m_ibwrt, ud, buffer, static_cast<std::size_t>(count));
    return Result();
}

GpibResult CLibraryBackend::IbWrtf(int ud, const char *path)
{
    if (!m_ibwrtf)
        return Refused(ECAP);
    Call<unsigned int>(m_ibwrtf, ud, path);
    return Result();
}

GpibResult CLibraryBackend::IbRsp(int ud, char *status)
{
    if (!m_ibrsp)
        return Refused(ECAP);
    Call<unsigned int>(m_ibrsp, ud, status);
    return Result();
}

GpibResult CLibraryBackend::IbClr(int ud)
{
    if (!m_ibclr)
        return Refused(ECAP);
    Call<unsigned int>(m_ibclr, ud);
    return Result();
}

} // namespace gpib32
