// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkSetting.h"
#include "links/LinkTypes.h"

#include <memory>
#include <span>
#include <vector>

class CLink;
struct CLinkContext;

// Everything that Tallix knows of one link, in one row: the dispatch makes the
// link from it and calls it in its turn, and the window gives it a radio.
struct CLinkRow
{
    LinkKind kind;     // the row's index (checked), and the radio's place in the group
    const char *label; // the radio's text
    int connectTurn;   // when ConnectLinks brings it up or down, from 0
    int releaseTurn;   // when the window's close releases it, from 0
    std::unique_ptr<CLink> (*make)(const CLinkContext &context);
};

// The links, indexed by kind.
std::span<const CLinkRow> LinkTable();

// The settings of every link that has any, in the order of the table.
const std::vector<CLinkSettingsGroup> &LinkSettingsGroups();
