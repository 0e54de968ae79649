// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

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

// Many values read at once, through one opening of the store: what the
// start-up reads.
class CProfileReader
{
public:
    CProfileReader();
    ~CProfileReader();
    CProfileReader(const CProfileReader &) = delete;
    CProfileReader &operator=(const CProfileReader &) = delete;

    // As GetProfileInt reads them; texts are kept beside the integers, a
    // missing one read as the default, a list as one entry of the store.
    std::int32_t Int(const QString &section, const QString &key, std::int32_t defaultValue) const;
    QString String(const QString &section, const QString &key, const QString &defaultValue = QString()) const;
    QStringList StringList(const QString &section, const QString &key) const;

private:
    struct Store;
    Store *m_store;
};

// Values of either kind at once, by "Section/Key": one rewrite of the store.
void WriteProfileValues(const std::vector<std::pair<QString, QVariant>> &values);
