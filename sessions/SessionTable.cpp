// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/SessionTable.h"

#include "sessions/ResourceGrammar.h"
#include "sessions/ResourceParser.h"
#include "sessions/gpib/GpibKind.h"
#include "sessions/serial/SerialKind.h"
#include "sessions/socket/SocketKind.h"
#include "sessions/usbtmc/UsbtmcKind.h"
#include "sessions/visa/VisaLibrarySession.h"
#include "sessions/vxi11/Vxi11Kind.h"

std::span<const CSessionRow> SessionTable()
{
    // One row a kind, each declared in its folder.
    static const CSessionRow table[] = {
        SocketRow(), Vxi11Row(), UsbtmcRow(), SerialRow(), GpibRow(),
    };
    return table;
}

const CSessionRow *SessionRowFor(const QString &interfaceName, ResourceClass resourceClass)
{
    for (const CSessionRow &row : SessionTable())
        if (row.resourceClass == resourceClass &&
            interfaceName.compare(QLatin1String(row.interfaceName), Qt::CaseInsensitive) == 0)
            return &row;
    return nullptr;
}

std::unique_ptr<CSession> MakeSession(const CResource &resource, const CSessionOptions &options,
                                      QString &error)
{
    if (const CSessionRow *row = SessionRowFor(resource.interfaceName, resource.resourceClass))
        return row->make(resource, options);
    error = QStringLiteral("Resource '%1': Tallix cannot reach %2 %3 resources yet")
                .arg(resource.text, resource.interfaceName, ResourceClassName(resource.resourceClass));
    return nullptr;
}

std::unique_ptr<CSession> SessionFor(const QString &text, const CSessionOptions &options,
                                     const QString &libraryPath, QString &error)
{
    CResource resource;
    if (!libraryPath.isEmpty() && !text.trimmed().isEmpty()) {
        resource.text = text;
        return std::make_unique<CVisaLibrarySession>(resource, options, libraryPath);
    }
    if (!ParseResource(text, resource, error))
        return nullptr;
    return MakeSession(resource, options, error);
}
