// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Finder.h"
#include "sessions/Resource.h"
#include "sessions/Session.h"
#include "sessions/SessionRow.h"

#include <memory>
#include <span>

// Every kind of session that Tallix has of its own, one row each, in the
// order messages list their interfaces.
std::span<const CSessionRow> SessionTable();

// The row that serves resources of `interfaceName` (any case) and `resourceClass`;
// null when none does.
const CSessionRow *SessionRowFor(const QString &interfaceName, ResourceClass resourceClass);

// The session that serves `resource`, not yet open; empty, with the reason in
// `error`, when Tallix has none for it.
std::unique_ptr<CSession> MakeSession(const CResource &resource, const CSessionOptions &options,
                                      QString &error);

// The session for the resource string `text`, not yet open. With a VISA
// library named, the library reads the string (or an alias of its own) with
// its own grammar; else it must be one that Tallix parses and serves. Empty,
// with the reason in `error`, when there is none.
std::unique_ptr<CSession> SessionFor(const QString &text, const CSessionOptions &options,
                                     const QString &libraryPath, QString &error);
