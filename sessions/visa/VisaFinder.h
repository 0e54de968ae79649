// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Finder.h"

// The instruments a VISA library knows of: viFindRsrc("?*::INSTR") and
// viFindNext over the library at `libraryPath`. A library that does not load
// or finds nothing gives nothing.
class CVisaFinder : public CFinder
{
public:
    explicit CVisaFinder(QString libraryPath) : m_libraryPath(std::move(libraryPath)) {}

    QString Name() const override;
    void Find(const std::function<void(const CFoundResource &)> &found,
              const std::atomic<bool> &cancelled) override;

private:
    QString m_libraryPath;
};
