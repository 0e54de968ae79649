// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/usbtmc/UsbtmcFinder.h"

#include "sessions/usbtmc/UsbtmcDevice.h"

std::unique_ptr<CFinder> CUsbtmcFinder::Make()
{
    return std::make_unique<CUsbtmcFinder>();
}

QString CUsbtmcFinder::Name() const
{
    return QStringLiteral("USB instruments");
}

void CUsbtmcFinder::Find(const std::function<void(const CFoundResource &)> &found,
                         const std::atomic<bool> &cancelled)
{
    if (cancelled)
        return;
    for (const CUsbtmcDevice &device : CUsbtmcDevice::List()) {
        if (cancelled)
            return;
        found(CFoundResource{device.ResourceString(), device.Description(), true});
    }
}
