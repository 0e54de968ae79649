// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/AutomationLink.h"
#include "links/GpibLink.h"
#include "links/LinkTypes.h"
#include "links/MessageLibraryLink.h"
#include "links/TcpLink.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

class CResponseLog;
class CUiHooks;

// Brings the chosen link up before each command, sends one command line and
// reads responses over it, and writes the log record while a log is open.
class CLinkDispatch
{
public:
    explicit CLinkDispatch(const CUiHooks *hooks);

    // Refreshes the members from the window's controls (the data exchange in
    // the reading direction); its result is not looked at.
    std::function<void()> m_refreshMembers;
    // The IP control's address as dotted-decimal text.
    std::function<QString()> m_ipAddressText;
    // The log of the command files; written while it is open.
    CResponseLog *m_logFile = nullptr;
    // Called after a failed log write has been reported.
    std::function<void()> m_logWriteFailed;

    int ConnectLinks();
    int SendCommand(const char *line);
    int ReadResponse(QByteArray &text);
    // Frees the message libraries, releases the automation server and drops
    // the socket, in that order (the close of the window).
    void ReleaseLinks();

    LinkKind m_linkKind = LINK_LUMEC;
    std::int32_t m_gpibAddress = 0;

    CAutomationLink m_automation;
    CMessageLibraryLink m_ordal;
    CMessageLibraryLink m_lumec;
    CGpibLink m_gpib;
    CTcpLink m_tcp;

private:
    void RefreshMembers();
    void ReadLogResponse(char *buffer);

    const CUiHooks *m_hooks;
};
