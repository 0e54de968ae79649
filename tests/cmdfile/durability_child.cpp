// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The console window in a process of its own, running a logged batch of a
// command file over the lumec link; the durability test kills it midway.
// Usage: durability_child COMMAND_FILE LOG_FILE DELAY_US
#include "console/ConsoleDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: durability_child COMMAND_FILE LOG_FILE DELAY_US\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QString commands = QString::fromLocal8Bit(argv[1]);
    const QString log = QString::fromLocal8Bit(argv[2]);
    CConsoleDlg dlg;
    dlg.SetPrompts(
        {.messageBox = [](const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }});
    dlg.SetPrompts({.askOpenFile = [&]() {
        return COpenFileChoice{true, QFileInfo(commands).absoluteFilePath(), QFileInfo(commands).fileName(),
                               true};
    }});
    dlg.SetPrompts({.askSaveFile = [&](const QString &) { return log; }});
    qobject_cast<QAbstractButton *>(dlg.Control(IDC_LINK_LUMEC))->click();
    qobject_cast<QLineEdit *>(dlg.Control(IDC_DELAY))->setText(QString::fromLocal8Bit(argv[3]));
    dlg.show();
    dlg.OnOpenFile();
    std::printf("running\n");
    std::fflush(stdout);
    dlg.OnSendFile();
    std::printf("finished\n");
    return 0;
}
