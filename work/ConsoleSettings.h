// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkOptions.h"
#include "links/LinkSetting.h"

#include <vector>

// The settings of the Link Settings dialog, kept in the settings store beside
// the window's own: each link's (links/: the keys are the links' own), the
// most of a reply that is kept ("Replies"/"MaxBytes") and whether the
// response box shows control characters ("Console"/"ShowControlCharacters").
// Nothing is written unless the user says OK, so with none stored every
// default holds.
struct CConsoleSettings
{
    CLinkOptions links;
    bool showControlCharacters = false;
    // "Log"/"TimeStamps": a line before each record of the log.
    bool logTimeStamps = false;

    // Every setting of the links, in the groups the dialog shows: the links'
    // own, then those that all links share.
    static const std::vector<CLinkSettingsGroup> &Groups();
    // The setting stored as "Section/Key", or none.
    static const CLinkSetting *Find(const QString &name);

    // A stored value outside its setting's range, or one that is no number,
    // reads as the default.
    static CConsoleSettings Load();
    void Save() const;

    bool operator==(const CConsoleSettings &) const = default;
};
