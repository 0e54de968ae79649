// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

// What a call came to, the one way a failure travels from a session up
// through a link to the window: done, or failed with the sentence for the
// user and, where the layer below gave one, its code (an errno, a VISA
// status, a GPIB error number).
//
// A failure is told to the user once. Most are told by the window when they
// reach it; a link whose next step must wait for the user to have read the
// message (one that drops its connection only after its box) tells it where
// it fails and hands up the failure marked as told.
class [[nodiscard]] CResult
{
public:
    CResult() = default;

    static CResult Failure(QString text, std::optional<std::int64_t> code = std::nullopt)
    {
        CResult result;
        result.m_failed = true;
        result.m_text = std::move(text);
        result.m_code = code;
        return result;
    }

    bool Ok() const { return !m_failed; }
    explicit operator bool() const { return Ok(); }
    // The sentence for the user; empty when it succeeded, and for a failure
    // that has nothing to tell.
    const QString &Text() const { return m_text; }
    std::optional<std::int64_t> Code() const { return m_code; }

    // The same failure, as already told to the user.
    CResult Told() const
    {
        CResult told = *this;
        told.m_told = true;
        return told;
    }
    // Whether the window still has to tell it.
    bool ToTell() const { return m_failed && !m_told && !m_text.isEmpty(); }

private:
    bool m_failed = false;
    bool m_told = false;
    QString m_text;
    std::optional<std::int64_t> m_code;
};
