// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/gpib/GpibFinder.h"

#include "sessions/gpib/GpibCaller.h"

#include <mutex>

namespace {

using Addr4882_t = unsigned short;
constexpr Addr4882_t NOADDR = 0xFFFF;
constexpr int ERR = 0x8000;

} // namespace

CGpibFinder::CGpibFinder(QString libraryName) : m_libraryName(std::move(libraryName)) {}

std::unique_ptr<CFinder> CGpibFinder::Make()
{
    return std::make_unique<CGpibFinder>();
}

void CGpibFinder::Find(const std::function<void(const CFoundResource &)> &found,
                       const std::atomic<bool> &cancelled)
{
    CGpibCaller library;
    QString why;
    if (cancelled || !library.Load(m_libraryName, why))
        return;
    using FindLstnFn = void (*)(int, const Addr4882_t *, Addr4882_t *, int);
    const auto findLstn = reinterpret_cast<FindLstnFn>(library.Resolve("FindLstn"));
    const auto *status = static_cast<const int *>(library.Resolve("user_ibsta"));
    const auto *count = static_cast<const int *>(library.Resolve("user_ibcnt"));
    if (!findLstn || !status || !count)
        return;
    // Every primary address but the board's own 0.
    Addr4882_t asked[31];
    for (int i = 0; i < 30; ++i)
        asked[i] = static_cast<Addr4882_t>(i + 1);
    asked[30] = NOADDR;
    Addr4882_t listeners[31];
    int n = 0;
    {
        std::lock_guard lock(CGpibCaller::LibraryLock());
        findLstn(0, asked, listeners, 30);
        n = (*status & ERR) != 0 ? 0 : *count;
    }
    for (int i = 0; i < n && i < 30 && !cancelled; ++i) {
        const int primary = listeners[i] & 0xFF;
        const int secondary = listeners[i] >> 8;
        CFoundResource resource;
        resource.resource = secondary == 0
                                ? QStringLiteral("GPIB0::%1::INSTR").arg(primary)
                                : QStringLiteral("GPIB0::%1::%2::INSTR").arg(primary).arg(secondary - 0x60);
        resource.description = QStringLiteral("listener on GPIB board 0");
        found(resource);
    }
}
