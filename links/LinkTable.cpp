// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/LinkTable.h"

#include "links/AutomationLink.h"
#include "links/GpibLink.h"
#include "links/MessageLibraryLink.h"
#include "links/TcpLink.h"
#include "links/VisaLink.h"

namespace {

template <typename T> std::unique_ptr<CLink> Make(const CLinkContext &context)
{
    return std::make_unique<T>(context);
}

// The automation server and the message libraries go first, the GPIB bus is
// brought up whatever is chosen, and the TCP/IP connect, the one that can
// stop a command, comes last of the five; the VISA resource opens after all
// of them. At the close the GPIB library stays: it goes with the window.
constexpr CLinkRow TABLE[] = {
    {LINK_AUTOMATION, "Zemra Automation", 0, 2, Make<CAutomationLink>},
    {LINK_ORDAL, "Ordal.dll", 1, 0,
     [](const CLinkContext &c) -> std::unique_ptr<CLink> {
         return std::make_unique<CMessageLibraryLink>(c, QStringLiteral("ordal"), "OrdalInputMsg",
                                                      "OrdalOutputMsg");
     }},
    {LINK_GPIB, "Remote GPIB", 3, 4, Make<CGpibLink>},
    {LINK_LUMEC, "Lumec.dll", 2, 1,
     [](const CLinkContext &c) -> std::unique_ptr<CLink> {
         return std::make_unique<CMessageLibraryLink>(c, QStringLiteral("lumec"), "LUMECInputMsg",
                                                      "LUMECOutputMsg");
     }},
    {LINK_TCPIP, "TCP/IP", 4, 3, Make<CTcpLink>},
    {LINK_VISA, "VISA Resource", 5, 5, Make<CVisaLink>},
};

// A link's kind is where its row stands: the dispatch and the window find it
// there.
constexpr bool KindsAreRowIndices()
{
    for (std::size_t i = 0; i < std::size(TABLE); ++i)
        if (ToInt(TABLE[i].kind) != static_cast<std::int32_t>(i))
            return false;
    return true;
}
static_assert(KindsAreRowIndices(), "each row of the link table stands at its kind");

} // namespace

std::span<const CLinkRow> LinkTable()
{
    return TABLE;
}

const std::vector<CLinkSettingsGroup> &LinkSettingsGroups()
{
    // Each link knows its own settings; a link made for the asking, and
    // never brought up, tells them.
    static const std::vector<CLinkSettingsGroup> groups = [] {
        std::vector<CLinkSettingsGroup> all;
        const CLinkContext context;
        for (const CLinkRow &row : TABLE)
            for (CLinkSettingsGroup &group : row.make(context)->SettingsGroups())
                if (!group.settings.empty())
                    all.push_back(std::move(group));
        return all;
    }();
    return groups;
}
