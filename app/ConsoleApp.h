// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QString>

// Owns the start-up order: the process-wide services, then the console window
// run modally until it closes. Holds nothing of its own.
class CConsoleApp
{
public:
    CConsoleApp();
    virtual ~CConsoleApp();

    // Always false: no message loop follows the window's own.
    virtual bool InitInstance();

    // Prepares the sockets layer: a send on a connection that the peer closed
    // must come back as an error, not end the process. False when it failed.
    static bool InitSockets();

    // `--resource`: the resource the window starts with, on the VISA
    // Resource link; empty for none.
    QString m_startResource;
    // `--transcript`: the window opens with its transcript shown, which is
    // not stored.
    bool m_startTranscript = false;

    // Shows a start-up message (tests replace it).
    std::function<void(const QString &)> m_showMessage;
};
