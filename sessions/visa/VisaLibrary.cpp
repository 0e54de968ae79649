// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/visa/VisaLibrary.h"

#include <QFileInfo>
#include <QSet>

#include <array>

CVisaLibrary::CVisaLibrary(const QString &path) : m_path(path), m_library(path) {}

// A VISA library, once loaded, stays for the rest of the run: it may run
// threads of its own, and Qt unloads a library for every QLibrary that has
// it when one of them unloads, which would pull it from under the sessions
// and searches that use it at the same time.
CVisaLibrary::~CVisaLibrary() = default;

bool CVisaLibrary::Load(QString &error)
{
    if (m_loaded)
        return true;
    // A path without a folder would send the loader searching its path: only
    // the file that was named may load.
    if (!QFileInfo(m_path).isAbsolute()) {
        error = QStringLiteral("The VISA library '%1' is not given by its full path").arg(m_path);
        return false;
    }
    if (!m_library.load()) {
        error = QStringLiteral("The VISA library '%1' could not be loaded: %2")
                    .arg(m_path, m_library.errorString());
        return false;
    }
    CVisaCalls calls;
    struct CName
    {
        const char *name;
        QFunctionPointer *slot;
    };
    const std::array<CName, 12> names = {{
        {"viOpenDefaultRM", reinterpret_cast<QFunctionPointer *>(&calls.viOpenDefaultRM)},
        {"viOpen", reinterpret_cast<QFunctionPointer *>(&calls.viOpen)},
        {"viClose", reinterpret_cast<QFunctionPointer *>(&calls.viClose)},
        {"viSetAttribute", reinterpret_cast<QFunctionPointer *>(&calls.viSetAttribute)},
        {"viGetAttribute", reinterpret_cast<QFunctionPointer *>(&calls.viGetAttribute)},
        {"viWrite", reinterpret_cast<QFunctionPointer *>(&calls.viWrite)},
        {"viRead", reinterpret_cast<QFunctionPointer *>(&calls.viRead)},
        {"viReadSTB", reinterpret_cast<QFunctionPointer *>(&calls.viReadSTB)},
        {"viClear", reinterpret_cast<QFunctionPointer *>(&calls.viClear)},
        {"viFindRsrc", reinterpret_cast<QFunctionPointer *>(&calls.viFindRsrc)},
        {"viFindNext", reinterpret_cast<QFunctionPointer *>(&calls.viFindNext)},
        {"viStatusDesc", reinterpret_cast<QFunctionPointer *>(&calls.viStatusDesc)},
    }};
    QStringList missing;
    for (const CName &name : names) {
        *name.slot = m_library.resolve(name.name);
        if (!*name.slot)
            missing << QLatin1String(name.name);
    }
    if (!missing.isEmpty()) {
        m_library.unload();
        error = QStringLiteral("'%1' is not a VISA library: it lacks %2")
                    .arg(m_path, missing.join(QStringLiteral(", ")));
        return false;
    }
    m_calls = calls;
    m_loaded = true;
    return true;
}

QString CVisaLibrary::ErrorText(visa::ViObject vi, visa::ViStatus status) const
{
    // The description buffer has room to spare: a library that overruns the
    // 256 bytes it is owed does not reach past it.
    char description[visa::VI_FIND_BUFLEN * 4] = {};
    QString text;
    if (m_loaded && !visa::Failed(m_calls.viStatusDesc(vi, status, description))) {
        description[sizeof description - 1] = '\0';
        text = QString::fromLocal8Bit(description).trimmed();
    }
    if (text.isEmpty())
        text = QStringLiteral("the VISA library gives no description of it");
    return QStringLiteral("VISA error 0x%1: %2")
        .arg(QString::number(static_cast<visa::ViUInt32>(status), 16)
                 .toUpper()
                 .rightJustified(8, QLatin1Char('0')),
             text);
}

QStringList CVisaLibrary::KnownLocations()
{
    // Where each implementation puts its library on Linux, as its package
    // file lists and the set-ups of its users show it (the vendors' own
    // installation notes could not be read whole; a path that is wrong costs
    // nothing, as only existing files are listed):
    return {
        // NI-VISA from NI's package repositories: Debian and Ubuntu (and the
        // same on 64-bit Arm), then Red Hat and openSUSE; older releases
        // installed into the VXIplug&play folder or /usr/local.
        QStringLiteral("/usr/lib/x86_64-linux-gnu/libvisa.so"),
        QStringLiteral("/usr/lib/aarch64-linux-gnu/libvisa.so"),
        QStringLiteral("/usr/lib64/libvisa.so"),
        QStringLiteral("/usr/local/vxipnp/linux/lib64/libvisa.so"),
        QStringLiteral("/usr/local/lib/libvisa.so"),
        QStringLiteral("/usr/lib/libvisa.so"),
        // The libvisa0 package of the Debian and Ubuntu archives.
        QStringLiteral("/usr/lib/x86_64-linux-gnu/libvisa.so.0"),
        QStringLiteral("/usr/lib/aarch64-linux-gnu/libvisa.so.0"),
        // Keysight IO Libraries Suite for Linux.
        QStringLiteral("/opt/keysight/iolibs/libktvisa32.so"),
        // R&S VISA for Linux: Debian and Ubuntu, then Red Hat and openSUSE.
        QStringLiteral("/usr/lib/librsvisa.so"),
        QStringLiteral("/usr/lib64/librsvisa.so"),
    };
}

QStringList CVisaLibrary::InstalledLibraries()
{
    QStringList candidates;
    const QString chosen = qEnvironmentVariable("TALLIX_VISA_LIBRARY");
    if (!chosen.isEmpty())
        candidates << chosen;
    candidates << KnownLocations();

    QStringList found;
    QSet<QString> seen;
    for (const QString &path : candidates) {
        const QFileInfo info(path);
        if (!info.isAbsolute() || !info.isFile())
            continue;
        const QString real = info.canonicalFilePath();
        if (seen.contains(real))
            continue;
        seen.insert(real);
        found << path;
    }
    return found;
}
