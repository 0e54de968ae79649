// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/VisaLink.h"

#include "common/UiHooks.h"
#include "sessions/SessionTable.h"
#include "sessions/visa/VisaLibrary.h"

CVisaLink::CVisaLink(const CLinkContext &context) : CLink(context) {}

CVisaLink::~CVisaLink()
{
    Close();
}

CSessionOptions CVisaLink::Options() const
{
    CSessionOptions options;
    options.openTimeoutMs = m_context.options.visaOpenTimeoutMs;
    options.ioTimeoutMs = m_context.options.visaTimeoutMs;
    options.maxReplyBytes = m_context.options.maxReplyBytes;
    options.hooks = m_context.hooks;
    options.kinds = m_context.options.kinds;
    return options;
}

void CVisaLink::Close()
{
    if (m_session)
        m_session->Close();
    m_session.reset();
    m_resourceText.clear();
}

void CVisaLink::ShowNotes()
{
    if (!m_session)
        return;
    // Notes hold up nothing: the command goes on.
    for (const QString &note : m_session->TakeNotes())
        Hooks().Note(note);
}

bool CVisaLink::OpenSession()
{
    const QString text = (m_context.resourceText ? m_context.resourceText() : QString()).trimmed();
    const QString library = m_context.options.visaLibrary;
    // Another resource, or another way to it: the session in use goes.
    if (m_session && (text != m_resourceText || library != m_libraryPath))
        Close();
    if (!m_session) {
        QString error;
        m_session = SessionFor(text, Options(), library, error);
        if (!m_session) {
            ReportFailure(error);
            return false;
        }
        m_resourceText = text;
        m_libraryPath = library;
    }
    m_session->SetOptions(Options());
    if (m_session->IsOpen())
        return true;
    CWaitScope wait(Hooks());
    QString error;
    if (!m_session->Open(error)) {
        Close();
        ReportFailure(error);
        return false;
    }
    ShowNotes();
    return true;
}

CResult CVisaLink::Update(bool chosen)
{
    if (!chosen) {
        Close();
        return CResult();
    }
    BeginOperation();
    return Outcome(OpenSession());
}

CResult CVisaLink::Send(std::string_view line)
{
    m_lastLineWasQuery = line.find('?') != std::string_view::npos;
    // A batch whose read closed the session still has lines to send: they
    // open it again, as the next command would.
    BeginOperation();
    if ((!m_session || !m_session->IsOpen()) && !OpenSession())
        return Outcome(false);
    QString error;
    if (m_session->Write(line, error))
        return CResult();
    return Fail(error);
}

void CVisaLink::ReadReply(CReply &reply)
{
    reply.Reset();
    if (!m_session || !m_session->IsOpen())
        return;
    QString error;
    CReply got;
    const bool read = m_session->Read(got, error);
    ShowNotes();
    if (!read) {
        // The session has made sure that nothing of the reply is left to be
        // taken for the next one; nothing of it is shown.
        ReportFailure(error);
        return;
    }
    reply = std::move(got);
    ReportIfCut(reply);
}

CResult CVisaLink::ReadForLog(CReply &reply)
{
    if (!ExpectsReply()) {
        reply.Reset();
        return CResult();
    }
    BeginOperation();
    ReadReply(reply);
    return Outcome();
}

CResult CVisaLink::ReadForDisplay(CReply &reply)
{
    BeginOperation();
    ReadReply(reply);
    return Outcome();
}

CResult CVisaLink::PollStatusByte(short &result)
{
    BeginOperation();
    if ((!m_session || !m_session->IsOpen()) && !OpenSession())
        return Outcome(false);
    std::uint8_t status = 0;
    QString error;
    if (!m_session->ReadStatusByte(status, error))
        return CResult::Failure(error);
    result = status;
    return CResult();
}

std::vector<CLinkSettingsGroup> CVisaLink::SettingsGroups() const
{
    using Shown = CLinkSetting::Shown;
    CLinkSettingsGroup group{QStringLiteral("VISA Resource"), {}};
    group.settings = {
        CLinkSetting::Field(
            "VISA", "Library", Shown::Library, QStringLiteral("VISA &library:"), 0, 0,
            &CLinkOptions::visaLibrary, {QStringLiteral("Tallix's own")},
            QStringLiteral("Tallix's own sessions, or a VISA library that is installed on this "
                           "machine, through which every resource is then opened."))
            .Offering([] { return CVisaLibrary::InstalledLibraries(); }),
        CLinkSetting::Field("VISA", "OpenTimeoutMs", Shown::Seconds, QStringLiteral("&Open time-out:"), 100,
                            600000, &CLinkOptions::visaOpenTimeoutMs),
        CLinkSetting::Field("VISA", "TimeoutMs", Shown::Seconds, QStringLiteral("I/O &time-out:"), 100,
                            600000, &CLinkOptions::visaTimeoutMs, {},
                            QStringLiteral("How long a write may take, and how long a read waits for the "
                                           "next byte of a reply.")),
    };
    std::vector<CLinkSettingsGroup> groups{group};
    // Then each kind's own, over its part of the options.
    for (const CSessionRow &row : SessionTable())
        if (row.settingsGroups)
            for (const CKindSettingsGroup &kind : row.settingsGroups())
                groups.push_back(kind.Within(&CLinkOptions::kinds));
    return groups;
}
