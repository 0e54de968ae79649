// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "work/InstrumentSearch.h"

#include <QStringList>

#include <memory>
#include <vector>

// A finder that finds the resources it was given, as fast as it is asked.
class CListFinder : public CFinder
{
public:
    explicit CListFinder(QStringList resources) : m_resources(std::move(resources)) {}

    // The search's finders: this one alone.
    static std::function<std::vector<std::unique_ptr<CFinder>>(const CLinkOptions &)>
    Only(QStringList resources)
    {
        return [resources](const CLinkOptions &) {
            std::vector<std::unique_ptr<CFinder>> finders;
            finders.push_back(std::make_unique<CListFinder>(resources));
            return finders;
        };
    }

    QString Name() const override { return QStringLiteral("fake instruments"); }
    void Find(const std::function<void(const CFoundResource &)> &found,
              const std::atomic<bool> &cancelled) override
    {
        for (const QString &resource : m_resources) {
            if (cancelled)
                return;
            found(CFoundResource{resource, QStringLiteral("fake"), true});
        }
    }

private:
    QStringList m_resources;
};
