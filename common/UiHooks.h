// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

// How far long work has come, for a progress indication: lines of a batch,
// bytes of a reply, or milliseconds of a wait. `total` is -1 when unknown.
struct CProgress
{
    enum class Kind
    {
        Batch,
        Reply,
        Wait,
    };
    Kind kind = Kind::Reply;
    std::int64_t done = 0;
    std::int64_t total = -1;
};

// Shows one modal message box titled "Tallix" with a warning icon and OK.
using MessageFn = std::function<void(const QString &)>;

// What the widget-free classes need of the window: its message box, its
// wait cursor and where notes go. The window fills these in; tests put
// recorders in their place.
class CUiHooks
{
public:
    MessageFn showMessage;
    // Something the user should know that is no failure and asks nothing of
    // them (a port without modem lines): shown beside the work's results, never
    // in a box that waits for an answer. Empty: the note is dropped.
    std::function<void(const QString &)> showNote;
    std::function<void()> beginWait;
    std::function<void()> endWait;
    // Called by long work between slices of its waits; false when the user
    // has stopped it. Empty: nothing is shown and nothing stops.
    std::function<bool(const CProgress &)> pulse;

    void Message(const QString &text) const
    {
        if (showMessage)
            showMessage(text);
    }
    void Note(const QString &text) const
    {
        if (showNote)
            showNote(text);
    }
    void BeginWait() const
    {
        if (beginWait)
            beginWait();
    }
    void EndWait() const
    {
        if (endWait)
            endWait();
    }
    bool Pulse(const CProgress &progress) const { return !pulse || pulse(progress); }
    bool Pulses() const { return static_cast<bool>(pulse); }
};

// Keeps a wait cursor up for the lifetime of a scope, also when a link error
// unwinds it.
class CWaitScope
{
public:
    explicit CWaitScope(const CUiHooks &hooks) : m_hooks(hooks) { m_hooks.BeginWait(); }
    ~CWaitScope() { m_hooks.EndWait(); }
    CWaitScope(const CWaitScope &) = delete;
    CWaitScope &operator=(const CWaitScope &) = delete;

private:
    const CUiHooks &m_hooks;
};
