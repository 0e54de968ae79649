// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/visa/VisaFinder.h"

#include "sessions/visa/VisaLibrary.h"

#include <QFileInfo>

QString CVisaFinder::Name() const
{
    return QStringLiteral("VISA library %1").arg(QFileInfo(m_libraryPath).fileName());
}

void CVisaFinder::Find(const std::function<void(const CFoundResource &)> &found,
                       const std::atomic<bool> &cancelled)
{
    CVisaLibrary library(m_libraryPath);
    QString ignored;
    if (cancelled || !library.Load(ignored))
        return;
    const CVisaCalls &vi = library.Calls();
    visa::ViSession rm = visa::VI_NULL;
    if (visa::Failed(vi.viOpenDefaultRM(&rm)))
        return;
    visa::ViFindList list = visa::VI_NULL;
    visa::ViUInt32 count = 0;
    char description[visa::VI_FIND_BUFLEN * 4] = {};
    if (!visa::Failed(vi.viFindRsrc(rm, "?*::INSTR", &list, &count, description))) {
        const QString source = QStringLiteral("found by %1").arg(QFileInfo(m_libraryPath).fileName());
        for (visa::ViUInt32 i = 0; i < count && !cancelled; ++i) {
            if (i > 0 && visa::Failed(vi.viFindNext(list, description)))
                break;
            description[sizeof description - 1] = '\0';
            CFoundResource resource;
            resource.resource = QString::fromLocal8Bit(description).trimmed();
            resource.description = source;
            // A serial port may hold a device that speaks no SCPI.
            resource.mayAskIdentity =
                !resource.resource.startsWith(QLatin1String("ASRL"), Qt::CaseInsensitive);
            if (!resource.resource.isEmpty())
                found(resource);
        }
        vi.viClose(list);
    }
    vi.viClose(rm);
}
