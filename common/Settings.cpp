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

namespace {

std::int32_t IntOf(const QVariant &value, std::int32_t defaultValue)
{
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok || number < INT32_MIN || number > INT32_MAX)
        return defaultValue;
    return static_cast<std::int32_t>(number);
}

} // namespace

std::int32_t GetProfileInt(const QString &section, const QString &key, std::int32_t defaultValue)
{
    return IntOf(Store().value(section + QLatin1Char('/') + key), defaultValue);
}

struct CProfileReader::Store
{
    QSettings settings{QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Korvane"),
                       QStringLiteral("Tallix")};
};

CProfileReader::CProfileReader() : m_store(new Store) {}

CProfileReader::~CProfileReader()
{
    delete m_store;
}

std::int32_t CProfileReader::Int(const QString &section, const QString &key, std::int32_t defaultValue) const
{
    return IntOf(m_store->settings.value(section + QLatin1Char('/') + key), defaultValue);
}

QString CProfileReader::String(const QString &section, const QString &key, const QString &defaultValue) const
{
    const QVariant value = m_store->settings.value(section + QLatin1Char('/') + key);
    return value.isValid() ? value.toString() : defaultValue;
}

QStringList CProfileReader::StringList(const QString &section, const QString &key) const
{
    return m_store->settings.value(section + QLatin1Char('/') + key).toStringList();
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

bool SetValue(QSettings &store, const QString &name, const QVariant &value)
{
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong)
        return Set(store, name, static_cast<std::int32_t>(value.toLongLong()));
    if (store.contains(name) && store.value(name) == value)
        return false;
    store.setValue(name, value);
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

void WriteProfileValues(const std::vector<std::pair<QString, QVariant>> &values)
{
    QSettings store = Store();
    bool changed = false;
    for (const auto &[name, value] : values)
        changed |= SetValue(store, name, value);
    if (changed)
        store.sync();
}
