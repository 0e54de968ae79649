// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/Link.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class CUiHooks;

// Brings the chosen link up before each command, and sends and reads over it.
// The links are made from the link table; nothing here knows one from another.
class CLinkDispatch
{
public:
    explicit CLinkDispatch(const CUiHooks *hooks);
    ~CLinkDispatch();
    CLinkDispatch(const CLinkDispatch &) = delete;
    CLinkDispatch &operator=(const CLinkDispatch &) = delete;

    // What runs before every command to refresh the members from the
    // window's controls (the data exchange in the reading direction); its
    // result is not looked at.
    void SetRefreshMembers(std::function<void()> refresh) { m_refreshMembers = std::move(refresh); }

    // Before every command: every link is updated in its turn; a failure a link has told leaves
    // the others to be updated and the result failed, one still to be told
    // ends the updates there (CLink says which is which).
    CResult ConnectLinks();
    // The chosen link's send, after refreshing the members; done also when
    // no link is chosen.
    CResult Send(std::string_view line);
    // One response for the log over the chosen link.
    CResult ReadForLog(CReply &reply);
    // One response for the window over the chosen link, with every byte that
    // the link counted.
    CResult ReadResponse(CReply &reply);
    // The same as text, which ends at its first NUL.
    CResult ReadResponse(QByteArray &text);
    // Of the chosen link: whether its instrument sends each reply once, and
    // whether the line last sent asks for one (see CLink).
    bool ChosenAnswersOnce() const;
    bool ChosenExpectsReply() const;
    // The longest command the chosen link sends (see CLink).
    std::int64_t ChosenLongestCommand() const;
    // The chosen link's name ("TCP/IP") and where its commands go (see
    // CLink::Target).
    QString ChosenName() const;
    QString ChosenTarget() const;
    // What the window's close gives back, link by link in their turn.
    void ReleaseLinks();

    // The link the commands go over (LINK_NONE: none).
    LinkKind ChosenKind() const { return m_linkKind; }
    void Choose(LinkKind kind) { m_linkKind = kind; }

    // What the links read of the window; the window keeps it current.
    const CLinkContext &Context() const { return m_context; }
    // The links' settings, which each takes at the next command.
    void SetOptions(const CLinkOptions &options) { m_context.options = options; }
    // The IP control's text and the resource box's, read when a link
    // connects or opens.
    void SetIpAddressText(std::function<QString()> text) { m_context.ipAddressText = std::move(text); }
    void SetResourceText(std::function<QString()> text) { m_context.resourceText = std::move(text); }
    // The address box's value as last read (0 when it holds no number),
    // which the GPIB link takes when it comes online.
    void SetGpibAddress(std::int32_t address) { m_context.gpibAddress = address; }

    // The link of `kind`, which must name one.
    CLink &Link(LinkKind kind) const;

    // The window's extras, passed to the links that have them. The GPIB
    // address box's positive values:
    void SetDeviceAddress(int address);
    // The link that uses the IP address box, if one does.
    CHostAddressUser *HostAddressUser() const;
    // Serial Poll: the chosen link's device where it has a status byte,
    // else the board's that answers for every link; `result` is left alone
    // where nothing was polled.
    CResult SerialPoll(short &result);

private:
    void RefreshMembers();
    CLink *Chosen() const;

    std::function<void()> m_refreshMembers;
    LinkKind m_linkKind = LINK_LUMEC;
    CLinkContext m_context;                      // the links hold it by reference
    std::vector<std::unique_ptr<CLink>> m_links; // indexed by kind
    std::vector<CLink *> m_connectOrder;
    std::vector<CLink *> m_releaseOrder;
};
