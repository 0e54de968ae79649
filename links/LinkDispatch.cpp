// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/LinkDispatch.h"

#include "links/LinkTable.h"

#include <algorithm>

namespace {

// The links of the table in the order that `turn` of their rows gives.
std::vector<CLink *> InTurn(const std::vector<std::unique_ptr<CLink>> &links, int CLinkRow::*turn)
{
    const auto table = LinkTable();
    std::vector<std::size_t> order(table.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return table[a].*turn < table[b].*turn; });
    std::vector<CLink *> result;
    for (std::size_t i : order)
        result.push_back(links[i].get());
    return result;
}

} // namespace

CLinkDispatch::CLinkDispatch(const CUiHooks *hooks)
{
    m_context.hooks = hooks;
    for (const CLinkRow &row : LinkTable())
        m_links.push_back(row.make(m_context));
    m_connectOrder = InTurn(m_links, &CLinkRow::connectTurn);
    m_releaseOrder = InTurn(m_links, &CLinkRow::releaseTurn);
}

CLinkDispatch::~CLinkDispatch() = default;

CLink &CLinkDispatch::Link(LinkKind kind) const
{
    return *m_links.at(static_cast<std::size_t>(ToInt(kind)));
}

void CLinkDispatch::SetDeviceAddress(int address)
{
    for (const auto &link : m_links)
        if (CDeviceAddressUser *user = link->DeviceAddressUser())
            user->SetAddress(address);
}

CHostAddressUser *CLinkDispatch::HostAddressUser() const
{
    for (const auto &link : m_links)
        if (CHostAddressUser *user = link->HostAddressUser())
            return user;
    return nullptr;
}

CResult CLinkDispatch::SerialPoll(short &result)
{
    CStatusByteSource *source = nullptr;
    if (CLink *chosen = Chosen())
        source = chosen->StatusByteSource();
    for (std::size_t i = 0; !source && i < m_links.size(); ++i) {
        CStatusByteSource *candidate = m_links[i]->StatusByteSource();
        if (candidate && candidate->PollsForEveryLink())
            source = candidate;
    }
    return source ? source->PollStatusByte(result) : CResult();
}

CLink *CLinkDispatch::Chosen() const
{
    const auto index = static_cast<std::size_t>(ToInt(m_linkKind));
    return ToInt(m_linkKind) >= 0 && index < m_links.size() ? m_links[index].get() : nullptr;
}

void CLinkDispatch::RefreshMembers()
{
    if (m_refreshMembers)
        m_refreshMembers();
}

CResult CLinkDispatch::ConnectLinks()
{
    RefreshMembers();
    CResult result;
    const CLink *chosen = Chosen();
    for (CLink *link : m_connectOrder) {
        CResult updated = link->Update(link == chosen);
        if (updated.ToTell())
            return updated;
        if (!updated && result)
            result = std::move(updated);
    }
    return result;
}

CResult CLinkDispatch::Send(std::string_view line)
{
    RefreshMembers();
    CLink *link = Chosen();
    return link ? link->Send(line) : CResult();
}

CResult CLinkDispatch::ReadForLog(CReply &reply)
{
    reply.Reset();
    CLink *link = Chosen();
    return link ? link->ReadForLog(reply) : CResult();
}

CResult CLinkDispatch::ReadResponse(CReply &reply)
{
    reply.Reset();
    CLink *link = Chosen();
    return link ? link->ReadForDisplay(reply) : CResult();
}

CResult CLinkDispatch::ReadResponse(QByteArray &text)
{
    CReply reply;
    CResult result = ReadResponse(reply);
    text = reply.bytes;
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    return result;
}

bool CLinkDispatch::ChosenAnswersOnce() const
{
    const CLink *link = Chosen();
    return link && link->AnswersOnce();
}

bool CLinkDispatch::ChosenExpectsReply() const
{
    const CLink *link = Chosen();
    return !link || link->ExpectsReply();
}

std::int64_t CLinkDispatch::ChosenLongestCommand() const
{
    const CLink *link = Chosen();
    return link ? link->LongestCommand() : COMMAND_MAX_CHARS;
}

QString CLinkDispatch::ChosenName() const
{
    // Asked for every entry of the transcript: made once.
    static const std::vector<QString> names = []() {
        std::vector<QString> made;
        for (const CLinkRow &row : LinkTable())
            made.push_back(QString::fromLatin1(row.label).remove(u'&'));
        return made;
    }();
    const auto at = static_cast<std::size_t>(ToInt(m_linkKind));
    return at < names.size() ? names[at] : QStringLiteral("No link");
}

QString CLinkDispatch::ChosenTarget() const
{
    const CLink *link = Chosen();
    return link ? link->Target() : QString();
}

void CLinkDispatch::ReleaseLinks()
{
    for (CLink *link : m_releaseOrder)
        link->Release();
}
