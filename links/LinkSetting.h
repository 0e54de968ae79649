// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/OptionSetting.h"
#include "links/LinkOptions.h"

// One setting of a link: where the settings store keeps it, how Link
// Settings shows it, and which option of the links it is. A link lists its
// own, and the sessions behind the VISA Resource link theirs (over their part
// of the options, CLinkOptions::kinds), so that a new setting is one entry
// beside the code that uses it.
using CLinkSetting = COptionSetting<CLinkOptions>;

// The settings that Link Settings shows under one title.
using CLinkSettingsGroup = COptionSettingsGroup<CLinkOptions>;
