// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Finder.h"

#include <memory>

// The listeners on GPIB board 0, as the library "gpib-32" finds them
// (FindLstn), as GPIB0::n::INSTR. Nothing where the library is missing or
// cannot search.
class CGpibFinder : public CFinder
{
public:
    explicit CGpibFinder(QString libraryName = QStringLiteral("gpib-32"));

    static std::unique_ptr<CFinder> Make();

    QString Name() const override { return QStringLiteral("GPIB board 0"); }
    void Find(const std::function<void(const CFoundResource &)> &found,
              const std::atomic<bool> &cancelled) override;

private:
    QString m_libraryName;
};
