// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a PNG of the Link Settings dialog as a first run shows it, for the
// README (scripts/screenshot runs it under a virtual X display).
// Usage: dialog_picture OUT.png
#include "console/LinkSettingsDlg.h"
#include "work/ConsoleSettings.h"

#include <QApplication>
#include <QPixmap>
#include <QTest>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog_picture OUT.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    CLinkSettingsDlg dialog(CConsoleSettings::Load());
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog))
        return 1;
    QTest::qWait(500); // its first paint done
    return dialog.grab().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
