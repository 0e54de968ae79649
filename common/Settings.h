// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <initializer_list>

// The per-user settings store: organisation "Korvane", application "Tallix",
// native format (on Linux ~/.config/Korvane/Tallix.conf). Values are signed
// 32-bit integers; a missing or unreadable value reads as the default and
// nothing is validated.
std::int32_t GetProfileInt(const QString &section, const QString &key, std::int32_t defaultValue);
void WriteProfileInt(const QString &section, const QString &key, std::int32_t value);

// Several values at once: one rewrite of the store, not one each.
struct CProfileValue
{
    const char *section;
    const char *key;
    std::int32_t value;
};
void WriteProfileInts(std::initializer_list<CProfileValue> values);
