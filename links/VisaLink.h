// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/Link.h"

#include <QString>

#include <memory>

class CSession;
struct CSessionOptions;

// The instrument that a VISA resource string names ("TCPIP::scope::INSTR",
// "GPIB0::14::INSTR" ...), reached through one of Tallix's own sessions or,
// when the settings name one, through the machine's VISA library. The
// session opens with the first command that finds this link chosen and the
// resource box holding a resource, stays open while both stay as they are,
// and closes when another link is chosen or the resource changes. Every
// reply is read whole, once.
class CVisaLink : public CLink, public CStatusByteSource
{
public:
    explicit CVisaLink(const CLinkContext &context);
    ~CVisaLink() override;

    CResult Update(bool chosen) override;
    CResult Send(std::string_view line) override;
    CResult ReadForLog(CReply &reply) override;
    CResult ReadForDisplay(CReply &reply) override;
    bool AnswersOnce() const override { return true; }
    // An instrument answers its queries only: after any other line there
    // is nothing to read but for a read the user asks for.
    bool ExpectsReply() const override { return m_lastLineWasQuery; }
    void Release() override { Close(); }
    // A command is held as a reply is: arbitrary waveforms go out as long
    // data lines.
    std::int64_t LongestCommand() const override { return m_context.options.maxReplyBytes; }
    QString Target() const override { return m_resourceText; }

    // The library and the two waits, then the settings of each kind of
    // session, a group each.
    std::vector<CLinkSettingsGroup> SettingsGroups() const override;
    CStatusByteSource *StatusByteSource() override { return this; }
    // The status byte of the resource's device, over its session (opened
    // first when it is not).
    CResult PollStatusByte(short &result) override;

    // The session in use, or none.
    CSession *Session() const { return m_session.get(); }

private:
    // Parses the resource box, makes the session and opens it; false when
    // any of that failed (reported).
    bool OpenSession();
    void Close();
    void ReadReply(CReply &reply);
    CSessionOptions Options() const;
    // Notes of the session, each shown once.
    void ShowNotes();

    std::unique_ptr<CSession> m_session;
    QString m_resourceText; // as the resource box held it when the session was made
    QString m_libraryPath;  // the VISA library it goes through; empty: Tallix's own
    bool m_lastLineWasQuery = false;
};
