// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/OptionSetting.h"
#include "sessions/Finder.h"
#include "sessions/KindOptions.h"
#include "sessions/Resource.h"
#include "sessions/Session.h"

#include <memory>
#include <vector>

class CResourceText;

// The settings of a kind of session, over its part of the options.
using CKindSetting = COptionSetting<CKindOptions>;
using CKindSettingsGroup = COptionSettingsGroup<CKindOptions>;

// One kind of session that Tallix has of its own, as its folder under
// sessions/ declares it: the resources it serves, its part of the resource
// grammar, how its session and its finder are made, and its settings. Its
// one row in the session table.
struct CSessionRow
{
    // What follows the interface name in the first field.
    enum class FirstField
    {
        Board, // a board number: "GPIB1", none for 0; a letter there makes another name
        Own,   // anything, read by the kind's parse (ASRL's port)
    };

    // The interface it serves, in capitals ("TCPIP"), and the class.
    const char *interfaceName;
    ResourceClass resourceClass;
    FirstField firstField;
    // Reads the fields of the body (and, for FirstField::Own, the first
    // field's rest) into `resource`; false after text.Fail().
    bool (*parse)(CResourceText &text, CResource &resource);
    // The one spelling of a resource it parsed.
    QString (*canonical)(const CResource &resource);
    std::unique_ptr<CSession> (*make)(const CResource &resource, const CSessionOptions &options);
    // Empty when instruments of this kind cannot be searched for.
    std::unique_ptr<CFinder> (*makeFinder)();
    // Its settings, over its part of CKindOptions, in the order Link
    // Settings shows them; empty when it has none.
    std::vector<CKindSettingsGroup> (*settingsGroups)();
};

// Part T of `options`, with every field whose setting in `groups` would
// refuse what it holds (a value the store would not take) back at T's
// default: the kind's settings say each field's range once, for the store,
// Link Settings and the session alike.
template <class T> T PartInRange(const CKindOptions &options, const std::vector<CKindSettingsGroup> &groups)
{
    CKindOptions checked;
    checked.Set(options.Get<T>());
    const CKindOptions defaults;
    for (const CKindSettingsGroup &group : groups)
        for (const CKindSetting &setting : group.settings)
            if (!setting.Accepts(setting.get(checked)))
                setting.set(checked, setting.get(defaults));
    return checked.Get<T>();
}
