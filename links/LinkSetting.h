// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkOptions.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <vector>

// One setting of a link: where the settings store keeps it, how Link
// Settings shows it, and which option of the links it is. A link lists its
// own, so that a new setting is one entry beside the code that uses it.
struct CLinkSetting
{
    // How the dialog shows it; the store always keeps the value as it is.
    enum class Shown
    {
        Number,       // a spin box over least..most
        Check,        // a check box: 1 or 0
        Choice,       // one of `choices`, the names of least, least + 1, ...
        Seconds,      // milliseconds kept, seconds shown to the millisecond
        WholeSeconds, // milliseconds kept, whole seconds shown
        Mebibytes,    // bytes kept, whole MiB shown
        Library,      // a text, offered from `suggestions`; empty is `choices`' one name
        NumberList,   // a number in least..most, typed or taken from `choices`
    };

    const char *section;
    const char *key;
    Shown shown;
    QString label; // with its mnemonic
    QString toolTip;
    std::int64_t least = 0;
    std::int64_t most = 0;
    QStringList choices;
    // Library: the paths worth offering, found when the dialog opens.
    std::function<QStringList()> suggestions;
    std::function<QVariant(const CLinkOptions &)> get;
    std::function<void(CLinkOptions &, const QVariant &)> set;

    // "Section/Key".
    QString Name() const
    {
        return QString::fromLatin1(section) + QLatin1Char('/') + QString::fromLatin1(key);
    }
    // Whether a stored value may be taken: a text for Library, a number in
    // least..most otherwise.
    bool Accepts(const QVariant &value) const;
};

// The settings that Link Settings shows under one title.
struct CLinkSettingsGroup
{
    QString title;
    std::vector<CLinkSetting> settings;
};
