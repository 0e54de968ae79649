// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/LinkSetting.h"

bool CLinkSetting::Accepts(const QVariant &value) const
{
    if (shown == Shown::Library)
        return value.canConvert<QString>();
    if (value.typeId() == QMetaType::QString && value.toString().trimmed().isEmpty())
        return false;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    return ok && number >= least && number <= most;
}
