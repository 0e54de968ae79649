// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ConsoleApp.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

namespace {

const char ADVICE[] = "Run it from a desktop session, or under a virtual display such as\n"
                      "  xvfb-run -a tallix\n"
                      "or set QT_QPA_PLATFORM=offscreen to run it without showing a window.\n";

QtMessageHandler g_previousHandler = nullptr;

// A display that is named but cannot be reached (a stale remote session, a
// platform plugin that is missing) ends Qt's start with a fatal message and
// an abort; end with that message and the advice instead.
void StartUpMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        if (g_previousHandler)
            g_previousHandler(type, context, text);
        return;
    }
    std::fprintf(stderr, "%s\nTallix needs a graphical display, and could not open one.\n%s",
                 qPrintable(text), ADVICE);
    std::_Exit(1);
}

// Without a display Qt would abort with a message about platform plugins;
// say plainly what to do instead.
bool HaveDisplay()
{
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char *x = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

} // namespace

int main(int argc, char *argv[])
{
    if (!HaveDisplay()) {
        std::fprintf(stderr,
                     "Tallix needs a graphical display, and none was found (DISPLAY and "
                     "WAYLAND_DISPLAY are not set).\n%s",
                     ADVICE);
        return 1;
    }
    g_previousHandler = qInstallMessageHandler(StartUpMessage);
    QApplication application(argc, argv); // arguments are not used
    qInstallMessageHandler(g_previousHandler);
    QGuiApplication::setDesktopFileName(QStringLiteral("tallix"));
    CConsoleApp theApp;
    theApp.InitInstance();
    return 0;
}
