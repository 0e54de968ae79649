// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/visa/VisaTypes.h"

#include <QLibrary>
#include <QString>
#include <QStringList>

// A VISA library loaded by its path at run time (never linked), with the calls
// Tallix makes found by name.
class CVisaLibrary
{
public:
    explicit CVisaLibrary(const QString &path);
    ~CVisaLibrary();
    CVisaLibrary(const CVisaLibrary &) = delete;
    CVisaLibrary &operator=(const CVisaLibrary &) = delete;

    // Loads the library and finds every call; false, with the reason for the
    // user in `error`, when it cannot be loaded or lacks one of them. Loading
    // it again is nothing.
    bool Load(QString &error);
    bool IsLoaded() const { return m_loaded; }
    // Valid once Load has succeeded.
    const CVisaCalls &Calls() const { return m_calls; }

    // "VISA error 0xBFFF0015: " and the library's own description of the
    // status (viStatusDesc on `vi`, which may be VI_NULL).
    QString ErrorText(visa::ViObject vi, visa::ViStatus status) const;

    // The VISA libraries on this machine: the file that TALLIX_VISA_LIBRARY
    // names first, then those of KnownLocations(); existing files only, each
    // once (a link to a library already listed is left out).
    static QStringList InstalledLibraries();
    // Where the VISA implementations for Linux install their library.
    static QStringList KnownLocations();

private:
    QString m_path;
    QLibrary m_library;
    bool m_loaded = false;
    CVisaCalls m_calls;
};
