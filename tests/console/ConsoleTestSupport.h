// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/SystemError.h"
#include "console/ConsoleDlg.h"
#include "links/AutomationLink.h"
#include "links/GpibLink.h"
#include "links/MessageLibraryLink.h"
#include "links/TcpLink.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Shared by the window tests: a settings store of the test's own, and a
// window whose message boxes and dialogs are recorded and answered.
namespace consoletest {

inline QString SettingsPath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Korvane"),
                     QStringLiteral("Tallix"))
        .fileName();
}

// A configuration folder of this test process's own: test programs run side
// by side, and a shared store would let one clear what another just wrote.
// Called before the first QSettings of the process, which fixes the folder.
inline void UseTestSettings()
{
    static QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
}

inline void ClearSettings()
{
    QFile::remove(SettingsPath());
}

inline void Store(const QString &key, const QVariant &value)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Korvane"),
                QStringLiteral("Tallix"));
    s.setValue(key, value);
    s.sync();
}

inline QVariant Stored(const QString &key)
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Korvane"),
                QStringLiteral("Tallix"));
    return s.value(key);
}

struct Window
{
    std::unique_ptr<CConsoleDlg> dlg;
    QStringList messages;
    // The questions asked (OK and Cancel), and the answer each gets.
    QStringList questions;
    bool answerOk = true;

    Window()
    {
        dlg = std::make_unique<CConsoleDlg>();
        dlg->SetPrompts({.messageBox = [this](const QString &text) { messages << text; },
                         .askConfirm =
                             [this](const QString &text) {
                                 questions << text;
                                 return answerOk;
                             },
                         .askOpenFile = []() { return COpenFileChoice{}; },
                         .askSaveFile = [](const QString &) { return QString(); },
                         .runAboutBox = []() {}});
    }
    CConsoleDlg *operator->() const { return dlg.get(); }
    template <typename T> T *control(int id) const { return qobject_cast<T *>(dlg->Control(id)); }
};

} // namespace consoletest
