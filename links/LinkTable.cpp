// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/LinkTable.h"

#include "links/AutomationLink.h"
#include "links/GpibLink.h"
#include "links/MessageLibraryLink.h"
#include "links/TcpLink.h"

namespace {

// The automation server and the message libraries go first, the GPIB bus is
// brought up whatever is chosen, and the TCP/IP connect, the one that can
// stop a command, comes last. At the close the GPIB library stays: it goes
// with the window.
constexpr CLinkRow TABLE[] = {
    {LINK_AUTOMATION, "Zemra Automation", IDC_LINK_AUTOMATION, "IDC_LINK_AUTOMATION", 7, 169, 75, 0, 2,
     [](const CLinkContext &c) -> std::unique_ptr<CLink> { return std::make_unique<CAutomationLink>(c); }},
    {LINK_ORDAL, "Ordal.dll", IDC_LINK_ORDAL, "IDC_LINK_ORDAL", 7, 188, 42, 1, 0,
     [](const CLinkContext &c) -> std::unique_ptr<CLink> {
         return std::make_unique<CMessageLibraryLink>(c, LINK_ORDAL, QStringLiteral("ordal"), "OrdalInputMsg",
                                                      "OrdalOutputMsg");
     }},
    {LINK_GPIB, "Remote GPIB", IDC_LINK_GPIB, "IDC_LINK_GPIB", 7, 207, 59, 3, 4,
     [](const CLinkContext &c) -> std::unique_ptr<CLink> { return std::make_unique<CGpibLink>(c); }},
    {LINK_LUMEC, "Lumec.dll", IDC_LINK_LUMEC, "IDC_LINK_LUMEC", 95, 169, 40, 2, 1,
     [](const CLinkContext &c) -> std::unique_ptr<CLink> {
         return std::make_unique<CMessageLibraryLink>(c, LINK_LUMEC, QStringLiteral("lumec"), "LUMECInputMsg",
                                                      "LUMECOutputMsg");
     }},
    {LINK_TCPIP, "TCP/IP", IDC_LINK_TCPIP, "IDC_LINK_TCPIP", 95, 188, 40, 4, 3,
     [](const CLinkContext &c) -> std::unique_ptr<CLink> { return std::make_unique<CTcpLink>(c); }},
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
