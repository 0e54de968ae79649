// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/ConsoleSettings.h"

#include "common/Settings.h"
#include "links/LinkTable.h"

#include <QString>

#include <climits>

namespace {

// What every link shares: the bound of a reply.
CLinkSettingsGroup RepliesGroup()
{
    CLinkSettingsGroup group{QStringLiteral("Replies"), {}};
    group.settings.push_back(
        {"Replies",
         "MaxBytes",
         CLinkSetting::Shown::Mebibytes,
         QStringLiteral("Largest repl&y kept:"),
         QStringLiteral(
             "A longer reply is still read to its end, but only its start is kept, shown, logged and "
             "saved."),
         MIN_MAX_REPLY_BYTES,
         MAX_MAX_REPLY_BYTES,
         {},
         {},
         [](const CLinkOptions &o) { return QVariant(static_cast<qlonglong>(o.maxReplyBytes)); },
         [](CLinkOptions &o, const QVariant &v) { o.maxReplyBytes = v.toLongLong(); }});
    return group;
}

} // namespace

const std::vector<CLinkSettingsGroup> &CConsoleSettings::Groups()
{
    static const std::vector<CLinkSettingsGroup> groups = [] {
        std::vector<CLinkSettingsGroup> all = LinkSettingsGroups();
        all.push_back(RepliesGroup());
        return all;
    }();
    return groups;
}

const CLinkSetting *CConsoleSettings::Find(const QString &name)
{
    for (const CLinkSettingsGroup &group : Groups())
        for (const CLinkSetting &setting : group.settings)
            if (setting.Name() == name)
                return &setting;
    return nullptr;
}

CConsoleSettings CConsoleSettings::Load()
{
    CConsoleSettings settings;
    const CProfileReader store;
    for (const CLinkSettingsGroup &group : Groups()) {
        for (const CLinkSetting &setting : group.settings) {
            const QString section = QString::fromLatin1(setting.section);
            const QString key = QString::fromLatin1(setting.key);
            QVariant stored;
            if (setting.shown == CLinkSetting::Shown::Library) {
                stored = store.String(section, key);
            } else {
                const std::int32_t value = store.Int(section, key, INT32_MIN);
                if (value != INT32_MIN)
                    stored = QVariant(static_cast<qlonglong>(value));
            }
            if (stored.isValid() && setting.Accepts(stored))
                setting.set(settings.links, stored);
        }
    }
    settings.showControlCharacters =
        store.Int(QStringLiteral("Console"), QStringLiteral("ShowControlCharacters"), 0) == 1;
    settings.logTimeStamps = store.Int(QStringLiteral("Log"), QStringLiteral("TimeStamps"), 0) == 1;
    return settings;
}

void CConsoleSettings::Save() const
{
    std::vector<std::pair<QString, QVariant>> values;
    for (const CLinkSettingsGroup &group : Groups())
        for (const CLinkSetting &setting : group.settings) {
            const QVariant value = setting.get(links);
            values.emplace_back(setting.Name(), setting.shown == CLinkSetting::Shown::Library
                                                    ? QVariant(value.toString())
                                                    : QVariant(value.toLongLong()));
        }
    values.emplace_back(QStringLiteral("Console/ShowControlCharacters"),
                        QVariant(showControlCharacters ? 1 : 0));
    values.emplace_back(QStringLiteral("Log/TimeStamps"), QVariant(logTimeStamps ? 1 : 0));
    WriteProfileValues(values);
}
