// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/SessionTable.h"

#include "sessions/GpibFinder.h"
#include "sessions/GpibSession.h"
#include "sessions/MdnsFinder.h"
#include "sessions/ResourceParser.h"
#include "sessions/SerialFinder.h"
#include "sessions/SerialSession.h"
#include "sessions/SocketSession.h"
#include "sessions/UsbtmcFinder.h"
#include "sessions/UsbtmcSession.h"
#include "sessions/VisaLibrarySession.h"
#include "sessions/Vxi11Finder.h"
#include "sessions/Vxi11Session.h"

namespace {

// Plain SCPI servers announce themselves over mDNS.
std::unique_ptr<CFinder> MakeMdnsFinder()
{
    return std::make_unique<CMdnsFinder>();
}

// One row a kind of session.
const CSessionRow TABLE[] = {
    {ResourceInterface::Tcpip, ResourceClass::Socket, &CSocketSession::Make, MakeMdnsFinder},
    {ResourceInterface::Tcpip, ResourceClass::Instr, &CVxi11Session::Make, &CVxi11Finder::Make},
    {ResourceInterface::Usb, ResourceClass::Instr, &CUsbtmcSession::Make, &CUsbtmcFinder::Make},
    {ResourceInterface::Gpib, ResourceClass::Instr, &CGpibSession::Make, &CGpibFinder::Make},
    {ResourceInterface::Asrl, ResourceClass::Instr, &CSerialSession::Make, &CSerialFinder::Make},
};

QString InterfaceName(const CResource &resource)
{
    switch (resource.interfaceType) {
    case ResourceInterface::Tcpip:
        return resource.resourceClass == ResourceClass::Socket ? QStringLiteral("TCPIP SOCKET")
                                                               : QStringLiteral("TCPIP INSTR (VXI-11)");
    case ResourceInterface::Usb:
        return QStringLiteral("USB INSTR");
    case ResourceInterface::Asrl:
        return QStringLiteral("ASRL INSTR");
    case ResourceInterface::Gpib:
        return QStringLiteral("GPIB INSTR");
    }
    return QString();
}

} // namespace

std::span<const CSessionRow> SessionTable()
{
    return TABLE;
}

std::unique_ptr<CSession> MakeSession(const CResource &resource, const CSessionOptions &options,
                                      QString &error)
{
    for (const CSessionRow &row : SessionTable())
        if (row.interfaceType == resource.interfaceType && row.resourceClass == resource.resourceClass &&
            row.make)
            return row.make(resource, options);
    error = QStringLiteral("Resource '%1': Tallix cannot reach %2 resources yet")
                .arg(resource.text, InterfaceName(resource));
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
