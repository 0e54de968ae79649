// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/OptionSetting.h"

bool SettingAccepts(SettingShown shown, std::int64_t least, std::int64_t most, const QVariant &value)
{
    if (shown == SettingShown::Library)
        return value.canConvert<QString>();
    if (value.typeId() == QMetaType::QString && value.toString().trimmed().isEmpty())
        return false;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    return ok && number >= least && number <= most;
}
