// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gpib32/GpibBackend.h"

namespace gpib32 {

const char *CGpibBackend::FamilyName() const
{
    switch (GetFamily()) {
    case FAMILY_LINUX_GPIB:
        return "linux-gpib";
    case FAMILY_NI:
        return "NI-488.2";
    case FAMILY_PROLOGIX:
        return "Prologix adapter";
    case FAMILY_NONE:
        break;
    }
    return "none";
}

} // namespace gpib32
