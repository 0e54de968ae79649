// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <memory>
#include <typeindex>
#include <typeinfo>
#include <utility>

// What each kind of session may be told of its own (a serial port's baud
// rate, say), one part per kind, each of a type the kind declares in its
// folder. The settings, the links and the sessions carry the whole of it
// without knowing any part; a part never set reads as its type's defaults.
class CKindOptions
{
public:
    CKindOptions() = default;
    CKindOptions(const CKindOptions &other) { *this = other; }
    CKindOptions(CKindOptions &&) noexcept = default;
    CKindOptions &operator=(const CKindOptions &other)
    {
        if (this == &other)
            return *this;
        m_parts.clear();
        for (const auto &[type, part] : other.m_parts)
            m_parts.emplace(type, part->Clone());
        return *this;
    }
    CKindOptions &operator=(CKindOptions &&) noexcept = default;

    // The part of type T, as set, or T's defaults.
    template <class T> const T &Get() const
    {
        const auto found = m_parts.find(std::type_index(typeid(T)));
        if (found == m_parts.end()) {
            static const T defaults{};
            return defaults;
        }
        return static_cast<const CPart<T> &>(*found->second).value;
    }
    // The part of type T to change, made with T's defaults when not set yet.
    template <class T> T &Edit()
    {
        std::unique_ptr<CBase> &part = m_parts[std::type_index(typeid(T))];
        if (!part)
            part = std::make_unique<CPart<T>>();
        return static_cast<CPart<T> &>(*part).value;
    }
    template <class T> void Set(T value) { Edit<T>() = std::move(value); }

    // Equal when every part is, a part not set being equal to its defaults.
    bool operator==(const CKindOptions &other) const { return Covers(other) && other.Covers(*this); }

private:
    struct CBase
    {
        virtual ~CBase() = default;
        virtual std::unique_ptr<CBase> Clone() const = 0;
        // `other` is of the same type, or null for the defaults.
        virtual bool Equals(const CBase *other) const = 0;
    };
    template <class T> struct CPart final : CBase
    {
        T value{};
        std::unique_ptr<CBase> Clone() const override { return std::make_unique<CPart>(*this); }
        bool Equals(const CBase *other) const override
        {
            return other ? value == static_cast<const CPart &>(*other).value : value == T{};
        }
    };

    // Every part of this one equals the other's.
    bool Covers(const CKindOptions &other) const
    {
        for (const auto &[type, part] : m_parts) {
            const auto theirs = other.m_parts.find(type);
            if (!part->Equals(theirs == other.m_parts.end() ? nullptr : theirs->second.get()))
                return false;
        }
        return true;
    }

    std::map<std::type_index, std::unique_ptr<CBase>> m_parts;
};
