// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// Shows one modal message box titled "Tallix" with a warning icon and OK.
using MessageFn = std::function<void(const QString &)>;

// What the widget-free classes need of the window: its message box and its
// wait cursor. The window fills these in; tests put recorders in their place.
class CUiHooks
{
public:
    MessageFn showMessage;
    std::function<void()> beginWait;
    std::function<void()> endWait;

    void Message(const QString &text) const
    {
        if (showMessage)
            showMessage(text);
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
