// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// libgpib-32.so: the names of the Windows library gpib-32 that the console
// looks up, over the GPIB library that a Linux machine really has. Nothing is
// linked: the backend is chosen at the first call (CBackendChoice says
// which; each backend how the calls are mapped), and every export calls it
// through CGpibBackend alone. After every call the backend's status, error,
// count and long count are copied into the four user_ variables.
//
// With no backend, every call ends with ERR in user_ibsta and EDVR in
// user_iberr, so that a send is reported as failed instead of silently going
// nowhere; the first call says on standard error what was tried and why each
// failed.

#include "gpib32/BackendChoice.h"

#include <cstdio>
#include <mutex>

#define GPIB32_VISIBLE __attribute__((visibility("default")))
#define GPIB32_EXPORT extern "C" GPIB32_VISIBLE

extern "C" {
GPIB32_VISIBLE int user_ibsta = 0;
GPIB32_VISIBLE int user_iberr = 0;
GPIB32_VISIBLE int user_ibcnt = 0;
GPIB32_VISIBLE long user_ibcntl = 0;
}

namespace {

using gpib32::CBackendChoice;
using gpib32::CGpibBackend;
using gpib32::GpibResult;

void Publish(const GpibResult &result)
{
    user_ibsta = result.status;
    user_iberr = result.error;
    user_ibcnt = result.count;
    user_ibcntl = result.longCount;
}

// The backend, or null after the no-backend status has been published.
CGpibBackend *Backend()
{
    const CBackendChoice &choice = CBackendChoice::Instance();
    if (CGpibBackend *backend = choice.Backend())
        return backend;
    static std::once_flag reported;
    std::call_once(reported, [&choice] {
        std::fprintf(stderr, "gpib-32: no GPIB library could be loaded; %s\n", choice.Attempts().c_str());
    });
    GpibResult none;
    none.status = gpib32::ERR;
    none.error = gpib32::EDVR;
    Publish(none);
    return nullptr;
}

} // namespace

GPIB32_EXPORT void SendIFC(int board)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->SendIFC(board));
}

GPIB32_EXPORT void EnableRemote(int board, const Addr4882_t *addressList)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->EnableRemote(board, addressList));
}

GPIB32_EXPORT void Send(int board, Addr4882_t address, const void *buffer, long count, int eotMode)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->Send(board, address, buffer, count, eotMode));
}

GPIB32_EXPORT void Receive(int board, Addr4882_t address, void *buffer, long count, int termination)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->Receive(board, address, buffer, count, termination));
}

GPIB32_EXPORT void ReadStatusByte(int board, Addr4882_t address, short *result)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->ReadStatusByte(board, address, result));
}

// Device clear, which the console uses, where the library has it, after a
// reply that could not be read to its end.
GPIB32_EXPORT void DevClear(int board, Addr4882_t address)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->DevClear(board, address));
}

// The listeners on the bus, where the library can find them (Find).
GPIB32_EXPORT void FindLstn(int board, const Addr4882_t *padList, Addr4882_t *results, int limit)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->FindLstn(board, padList, results, limit));
}

GPIB32_EXPORT void SendCmds(int board, const void *commands, long count)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->SendCmds(board, commands, count));
}

GPIB32_EXPORT int ibfindA(const char *name)
{
    int ud = -1;
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbFind(name, &ud));
    return ud;
}

GPIB32_EXPORT int ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    int ud = -1;
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbDev(board, pad, sad, tmo, eot, eos, &ud));
    return ud;
}

GPIB32_EXPORT int ibconfig(int ud, int option, int value)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbConfig(ud, option, value));
    return user_ibsta;
}

GPIB32_EXPORT int ibask(int ud, int option, int *value)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbAsk(ud, option, value));
    return user_ibsta;
}

GPIB32_EXPORT int ibonl(int ud, int online)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbOnl(ud, online));
    return user_ibsta;
}

GPIB32_EXPORT int ibtmo(int ud, int timeout)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbTmo(ud, timeout));
    return user_ibsta;
}

GPIB32_EXPORT int ibwait(int ud, int mask)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbWait(ud, mask));
    return user_ibsta;
}

GPIB32_EXPORT int ibrd(int ud, void *buffer, long count)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbRd(ud, buffer, count));
    return user_ibsta;
}

GPIB32_EXPORT int ibwrt(int ud, const void *buffer, long count)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbWrt(ud, buffer, count));
    return user_ibsta;
}

GPIB32_EXPORT int ibwrtfA(int ud, const char *path)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbWrtf(ud, path));
    return user_ibsta;
}

GPIB32_EXPORT int ibrsp(int ud, char *status)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbRsp(ud, status));
    return user_ibsta;
}

GPIB32_EXPORT int ibclr(int ud)
{
    if (CGpibBackend *backend = Backend())
        Publish(backend->IbClr(ud));
    return user_ibsta;
}
