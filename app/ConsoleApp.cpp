// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ConsoleApp.h"

#include "console/ConsoleDlg.h"
#include "console/WarningDialog.h"

#include <QCoreApplication>

#include <csignal>

CConsoleApp::CConsoleApp()
{
    m_showMessage = [](const QString &text) { ShowWarningDialog(nullptr, text); };
}

CConsoleApp::~CConsoleApp() = default;

bool CConsoleApp::InitSockets()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

bool CConsoleApp::InitInstance()
{
    // The settings live under the company key: organisation "Korvane",
    // application "Tallix". The window's constructor reads one, so this comes
    // first.
    QCoreApplication::setOrganizationName(QStringLiteral("Korvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Tallix"));

    if (!InitSockets() && m_showMessage)
        m_showMessage(QStringLiteral("Failed to initialize sockets."));

    {
        CConsoleDlg dlg;
        if (!m_startResource.isEmpty())
            dlg.StartWithResource(m_startResource);
        if (m_startTranscript)
            dlg.ShowTranscript(true, false);
        dlg.exec();
    } // the window goes here, and with it the GPIB library
    return false;
}
