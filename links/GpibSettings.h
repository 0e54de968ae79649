// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkSetting.h"

// The Remote GPIB link's own settings: the I/O time-out, as NI-488.2's
// time-out codes, and what board 0 is.
CLinkSettingsGroup GpibSettingsGroup();
