// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gpib32/GpibBackend.h"

#include <initializer_list>
#include <memory>
#include <string>

namespace gpib32 {

// The GPIB library that is really there (linux-gpib's or NI's for Linux),
// opened at run time and called with the console's NI-488.2 conventions.
// What a call left behind is read from the library right after the call, on
// the calling thread, where the library keeps it per thread.
class CLibraryBackend final : public CGpibBackend
{
public:
    // Names tried after TALLIX_GPIB_BACKEND, in this order.
    static const char *const LIBRARY_NAMES[];
    static const int LIBRARY_NAME_COUNT;

    // The library `name`, when it loads and is a GPIB library; else null
    // with the reason.
    static std::unique_ptr<CLibraryBackend> Open(const char *name, std::string &reason);
    // The library stays loaded: see the definition.
    ~CLibraryBackend() override;

    // The file the loader opened.
    const std::string &Path() const { return m_path; }

    Family GetFamily() const override { return m_family; }
    std::string Version() override;
    bool HasListenerSearch() const override { return m_FindLstn != nullptr; }

    GpibResult SendIFC(int board) override;
    GpibResult EnableRemote(int board, const Addr4882_t *addressList) override;
    GpibResult Send(int board, Addr4882_t address, const void *buffer, long count, int eotMode) override;
    GpibResult Receive(int board, Addr4882_t address, void *buffer, long count, int termination) override;
    GpibResult ReadStatusByte(int board, Addr4882_t address, short *result) override;
    GpibResult DevClear(int board, Addr4882_t address) override;
    GpibResult SendCmds(int board, const void *commands, long count) override;
    GpibResult FindLstn(int board, const Addr4882_t *padList, Addr4882_t *results, int limit) override;

    GpibResult IbFind(const char *name, int *ud) override;
    GpibResult IbDev(int board, int pad, int sad, int tmo, int eot, int eos, int *ud) override;
    GpibResult IbConfig(int ud, int option, int value) override;
    GpibResult IbAsk(int ud, int option, int *value) override;
    GpibResult IbOnl(int ud, int online) override;
    GpibResult IbTmo(int ud, int timeout) override;
    GpibResult IbWait(int ud, int mask) override;
    GpibResult IbRd(int ud, void *buffer, long count) override;
    GpibResult IbWrt(int ud, const void *buffer, long count) override;
    GpibResult IbWrtf(int ud, const char *path) override;
    GpibResult IbRsp(int ud, char *status) override;
    GpibResult IbClr(int ud) override;

private:
    // Where one of the four values comes from after a call: an accessor
    // function or a variable, 32 or 64 bits wide.
    struct Source
    {
        void *address = nullptr;
        bool function = false;
        bool wide = false;
    };

    CLibraryBackend() = default;
    bool TryOpen(const char *name, std::string &reason);
    void *Symbol(const char *name) const;
    void *FirstSymbol(std::initializer_list<const char *> names) const;
    Source FindSource(std::initializer_list<const char *> functions, const char *variable, bool wide) const;
    static long ReadSource(const Source &source);
    GpibResult Result() const;
    static GpibResult Refused(int error);

    void *m_library = nullptr;
    Family m_family = FAMILY_NONE;
    std::string m_path;

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
