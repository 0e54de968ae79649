// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Settings.h"

#include <QSettings>

namespace {

// A fresh store for each call: the file is read when asked and written at
// once, so another Tallix or a test sees every value as soon as it is set. A
// failed write is ignored, as the callers expect.
QSettings Store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Korvane"),
                     QStringLiteral("Tallix"));
}

} // namespace

std::int32_t GetProfileInt(const QString &section, const QString &key, std::int32_t defaultValue)
{
    const QVariant value = Store().value(section + QLatin1Char('/') + key);
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok || number < INT32_MIN || number > INT32_MAX)
        return defaultValue;
    return static_cast<std::int32_t>(number);
}

namespace {

// Sets `name` unless it holds `value` already; true when it changed.
bool Set(QSettings &store, const QString &name, std::int32_t value)
{
    if (store.value(name).toString() == QString::number(value))
        return false;
    store.setValue(name, static_cast<int>(value));
    return true;
}

} // namespace

void WriteProfileInt(const QString &section, const QString &key, std::int32_t value)
{
    // A value that is stored already needs no write: each write rewrites the
    // file and waits for the disk, at every start (the address box) and at
    // every keystroke in it.
    QSettings store = Store();
    if (Set(store, section + QLatin1Char('/') + key, value))
        store.sync();
}

void WriteProfileInts(std::initializer_list<CProfileValue> values)
{
    QSettings store = Store();
    bool changed = false;
    for (const CProfileValue &v : values)
        changed |= Set(store, QString::fromLatin1(v.section) + QLatin1Char('/') + QString::fromLatin1(v.key),
                       v.value);
    if (changed)
        store.sync();
}
