// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"
#include "sessions/Session.h"
#include "sessions/VisaLibrary.h"

#include <vector>

// Any resource, reached through a VISA library the machine has (loaded by its
// path, see CVisaLibrary::InstalledLibraries): the library's own session for
// the resource string. Every failing status is shown with the library's own
// description of it.
class CVisaLibrarySession : public CSession
{
public:
    CVisaLibrarySession(const CResource &resource, const CSessionOptions &options,
                        const QString &libraryPath);
    ~CVisaLibrarySession() override;

    bool Open(QString &error) override;
    bool IsOpen() const override { return m_vi != visa::VI_NULL; }
    bool Write(std::string_view data, QString &error) override;
    bool Read(CReply &reply, QString &error) override;
    bool ReadStatusByte(std::uint8_t &status, QString &error) override;
    bool Clear(QString &error) override;
    void Close() override;

    // The name viOpen is given: the resource as it was written, so that the
    // library reads it (or an alias of its own) with its own grammar.
    QString ResourceName() const;

private:
    bool Ready(QString &error);
    // The library's text for `status` into `error`; false.
    bool Fail(visa::ViStatus status, QString &error);
    // Drops what is left of a reply that could not be read to its end; when
    // even that fails, the session is closed.
    void DropRest();

    CResource m_resource;
    CVisaLibrary m_library;
    visa::ViSession m_rm = visa::VI_NULL;
    visa::ViSession m_vi = visa::VI_NULL;
    int m_appliedTimeoutMs = -1;
    std::vector<unsigned char> m_buffer;
};
