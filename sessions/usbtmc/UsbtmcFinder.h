// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Finder.h"

#include <memory>

// Lists the USB instruments that the kernel's usbtmc driver serves, each with
// the resource string that opens it and what sysfs says of it.
class CUsbtmcFinder : public CFinder
{
public:
    static std::unique_ptr<CFinder> Make();

    QString Name() const override;
    void Find(const std::function<void(const CFoundResource &)> &found,
              const std::atomic<bool> &cancelled) override;
};
