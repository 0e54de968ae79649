// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/LinkDispatch.h"

#include "cmdfile/ResponseLog.h"
#include "links/UiHooks.h"

#include <cstring>

CLinkDispatch::CLinkDispatch(const CUiHooks *hooks)
    : m_ordal(LINK_ORDAL, QStringLiteral("ordal"), "OrdalInputMsg", "OrdalOutputMsg"),
      m_lumec(LINK_LUMEC, QStringLiteral("lumec"), "LUMECInputMsg", "LUMECOutputMsg"), m_gpib(hooks),
      m_tcp(hooks), m_hooks(hooks)
{
}

void CLinkDispatch::RefreshMembers()
{
    if (m_refreshMembers)
        m_refreshMembers();
}

int CLinkDispatch::ConnectLinks()
{
    RefreshMembers();
    m_automation.UpdateAutomationLink(m_linkKind);
    m_ordal.UpdateLink(m_linkKind);
    m_lumec.UpdateLink(m_linkKind);
    // Whatever link is chosen: the first command of a run loads the GPIB
    // library and clears the bus, and while it cannot be loaded every command
    // tries again.
    if (m_gpib.IsOffline()) {
        m_gpib.Initialize(0);
        m_gpib.SetAddress(m_gpibAddress);
    }
    return m_tcp.ConnectSocket(m_linkKind, m_ipAddressText ? m_ipAddressText() : QString());
}

int CLinkDispatch::SendCommand(const char *line)
{
    RefreshMembers();
    switch (m_linkKind) {
    case LINK_AUTOMATION:
        m_automation.Send(line);
        break;
    case LINK_ORDAL:
        m_ordal.Send(line);
        break;
    case LINK_GPIB:
        if (m_gpib.WriteString(line) == 0) {
            if (m_hooks)
                m_hooks->Message(QStringLiteral("Error sending GPIB command"));
            return 0;
        }
        break;
    case LINK_LUMEC:
        m_lumec.Send(line);
        break;
    case LINK_TCPIP:
        if (m_tcp.SendSocketCommand(line) == 0)
            return 0;
        break;
    default:
        break;
    }

    if (!m_logFile || !m_logFile->IsOpen())
        return 1;

    // A failed log write must never be silent: it stops a batch and steps no
    // line, so the user knows the transcript is incomplete from here on.
    auto logFailed = [this]() {
        if (m_hooks)
            m_hooks->Message(QStringLiteral("Error writing response log: %1")
                                 .arg(SystemErrorText(m_logFile->LastError())));
        m_logFile->Close();
        if (m_logWriteFailed)
            m_logWriteFailed();
        return 0;
    };
    if (m_logFile->WriteCommand(line) == 0)
        return logFailed();

    char buffer[RESPONSE_BUFFER_SIZE + 1];
    buffer[0] = '\0';
    buffer[RESPONSE_BUFFER_SIZE] = '\0';
    ReadLogResponse(buffer);
    if (m_logFile->WriteResponse(buffer) == 0)
        return logFailed();
    return 1;
}

void CLinkDispatch::ReadLogResponse(char *buffer)
{
    switch (m_linkKind) {
    case LINK_AUTOMATION:
        m_automation.ReceiveForLog(buffer);
        break;
    case LINK_ORDAL:
        m_ordal.Receive(buffer);
        break;
    case LINK_GPIB:
        m_gpib.Read(buffer, RESPONSE_BUFFER_SIZE, 1, 0x100);
        break;
    case LINK_LUMEC:
        m_lumec.Receive(buffer);
        break;
    case LINK_TCPIP:
        // A read failure during a batch drops the socket; the next send of the
        // batch then reports "not connected" instead of touching it.
        if (m_tcp.HasSocket())
            m_tcp.ReadSocketResponse(buffer);
        break;
    default:
        break;
    }
}

int CLinkDispatch::ReadResponse(QByteArray &text)
{
    switch (m_linkKind) {
    case LINK_AUTOMATION:
        m_automation.ReceiveForDisplay(text);
        break;
    case LINK_ORDAL:
    case LINK_LUMEC:
    case LINK_TCPIP: {
        // A writable buffer of 4048 bytes inside the text, starting with what
        // the text held, so that a link that writes nothing leaves it as it was.
        const qsizetype keep = text.size();
        text.resize(RESPONSE_BUFFER_SIZE + 1);
        if (keep < RESPONSE_BUFFER_SIZE + 1)
            text[keep] = '\0';
        text[RESPONSE_BUFFER_SIZE] = '\0';
        if (m_linkKind == LINK_ORDAL)
            m_ordal.Receive(text.data());
        else if (m_linkKind == LINK_LUMEC)
            m_lumec.Receive(text.data());
        else if (m_tcp.HasSocket())
            m_tcp.ReadSocketResponse(text.data());
        break;
    }
    case LINK_GPIB: {
        char buffer[RESPONSE_BUFFER_SIZE + 1];
        constexpr auto full = static_cast<unsigned>(RESPONSE_BUFFER_SIZE);
        unsigned n = 0;
        do {
            buffer[0] = '\0';
            m_gpib.Read(buffer, RESPONSE_BUFFER_SIZE, 0, 0x100);
            n = m_gpib.LastCount();
            // The count is the library's word and may exceed what was asked
            // for: never index past the buffer, and take such a read as the
            // last one rather than chaining on a count that cannot be right.
            const bool bogus = n > full;
            if (bogus)
                n = full;
            buffer[n] = '\0';
            text.append(buffer, static_cast<qsizetype>(std::strlen(buffer)));
            if (bogus)
                break;
        } while (n == full);
        break;
    }
    default:
        break;
    }
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    return 1;
}

void CLinkDispatch::ReleaseLinks()
{
    m_ordal.Free();
    m_lumec.Free();
    m_automation.Release();
    m_tcp.DropSocket();
}
