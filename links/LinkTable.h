// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkTypes.h"

#include <memory>
#include <span>

class CLink;
struct CLinkContext;

// The control ids of the link radios.
constexpr int IDC_LINK_AUTOMATION = 1020;
constexpr int IDC_LINK_ORDAL = 1021;
constexpr int IDC_LINK_GPIB = 1022;
constexpr int IDC_LINK_LUMEC = 1023;
constexpr int IDC_LINK_TCPIP = 1027;

// Everything that Tallix knows of one link, in one row: the dispatch makes the
// link from it and calls it in its turn, and the window makes its radio.
struct CLinkRow
{
    LinkKind kind;           // the row's index (checked), and the radio's place in the group
    const char *label;       // the radio's text
    int controlId;           // the radio's control id
    const char *controlName; // and its name
    int x, y, width;         // the radio's place in dialog units (10 high)
    int connectTurn;         // when ConnectLinks brings it up or down, from 0
    int releaseTurn;         // when the window's close releases it, from 0
    std::unique_ptr<CLink> (*make)(const CLinkContext &context);
};

// The links, indexed by kind.
std::span<const CLinkRow> LinkTable();
