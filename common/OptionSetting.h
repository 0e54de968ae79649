// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

// How Link Settings shows a setting; the store always keeps the value as it is.
enum class SettingShown
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

// Whether a stored value may be taken: a text for Library, a number in
// least..most otherwise.
bool SettingAccepts(SettingShown shown, std::int64_t least, std::int64_t most, const QVariant &value);

// The part of `options` that holds a field: the options themselves, or the
// part of its own that a kind keeps in them (CKindOptions::Get and Edit).
template <class Part, class Options> const Part &PartOf(const Options &options)
{
    if constexpr (std::is_same_v<Part, Options>)
        return options;
    else
        return options.template Get<Part>();
}
template <class Part, class Options> Part &PartOf(Options &options)
{
    if constexpr (std::is_same_v<Part, Options>)
        return options;
    else
        return options.template Edit<Part>();
}

// One setting: where the settings store keeps it, how Link Settings shows
// it, and which field of `Options` it is. Whoever uses a setting lists it,
// so that a new setting is one entry beside the code that uses it.
template <class Options> struct COptionSetting
{
    using Shown = SettingShown;

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
    std::function<QVariant(const Options &)> get;
    std::function<void(Options &, const QVariant &)> set;

    // "Section/Key".
    QString Name() const
    {
        return QString::fromLatin1(section) + QLatin1Char('/') + QString::fromLatin1(key);
    }
    bool Accepts(const QVariant &value) const { return SettingAccepts(shown, least, most, value); }

    // The setting kept in `member` (an int, a bool as 1 or 0, a 64-bit
    // count or a text) of the options, or of the part of them that `Part`
    // names.
    template <class Part, class T>
    static COptionSetting Field(const char *section, const char *key, Shown shown, QString label,
                                std::int64_t least, std::int64_t most, T Part::*member,
                                QStringList choices = {}, QString toolTip = {})
    {
        return {section,
                key,
                shown,
                std::move(label),
                std::move(toolTip),
                least,
                most,
                std::move(choices),
                {},
                [member](const Options &o) { return AsVariant(PartOf<Part>(o).*member); },
                [member](Options &o, const QVariant &v) { FromVariant(v, PartOf<Part>(o).*member); }};
    }

    // With the paths a Library setting offers.
    COptionSetting Offering(std::function<QStringList()> found) &&
    {
        suggestions = std::move(found);
        return std::move(*this);
    }

    // The same setting over options that hold these as `part`.
    template <class Outer> COptionSetting<Outer> Within(Options Outer::*part) const
    {
        return {section,
                key,
                shown,
                label,
                toolTip,
                least,
                most,
                choices,
                suggestions,
                [get = get, part](const Outer &o) { return get(o.*part); },
                [set = set, part](Outer &o, const QVariant &v) { set(o.*part, v); }};
    }

private:
    static QVariant AsVariant(int value) { return QVariant(value); }
    static QVariant AsVariant(bool value) { return QVariant(value ? 1 : 0); }
    static QVariant AsVariant(std::int64_t value) { return QVariant(static_cast<qlonglong>(value)); }
    static QVariant AsVariant(const QString &value) { return QVariant(value); }
    static void FromVariant(const QVariant &v, int &value) { value = v.toInt(); }
    static void FromVariant(const QVariant &v, bool &value) { value = v.toInt() != 0; }
    static void FromVariant(const QVariant &v, std::int64_t &value) { value = v.toLongLong(); }
    static void FromVariant(const QVariant &v, QString &value) { value = v.toString(); }
};

// The settings that Link Settings shows under one title.
template <class Options> struct COptionSettingsGroup
{
    QString title;
    std::vector<COptionSetting<Options>> settings;

    template <class Outer> COptionSettingsGroup<Outer> Within(Options Outer::*part) const
    {
        COptionSettingsGroup<Outer> outer{title, {}};
        for (const COptionSetting<Options> &setting : settings)
            outer.settings.push_back(setting.template Within<Outer>(part));
        return outer;
    }
};
