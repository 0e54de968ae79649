// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ConsoleApp.h"
#include "timing/Delay.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>

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

constexpr int EXIT_USAGE = 2;

const char DESCRIPTION[] = "Sends text commands to a laboratory instrument over one of six links (Zemra\n"
                           "Automation, Ordal.dll, Remote GPIB, Lumec.dll, TCP/IP, VISA Resource) and shows\n"
                           "its responses, in one window. It takes no arguments besides the options below;\n"
                           "the settings are kept in ~/.config/Korvane/Tallix.conf. See tallix(1).";

// The options that Qt itself takes from the command line keep working:
// QApplication removes them before the program sees its arguments. They are
// known here, and hidden from the help, so that they are not refused as
// unknown. The list is what QGuiApplication and QApplication document for
// Qt 6, and what the X11 (xcb) platform takes besides: -name, -visual,
// -title and -icon (the X11 spellings of -qwindowtitle and -qwindowicon),
// -nograb and -dograb; and -sync, an X11 option of older Qt, which scripts
// may still pass. Each may be written with one dash or two, and one that
// takes a value as -option value or -option=value (QCommandLineParser reads
// both).
void AddQtOptions(QCommandLineParser &parser)
{
    for (const char *name :
         {// QGuiApplication
          "platform", "platformpluginpath", "platformtheme", "plugin", "qmljsdebugger", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "session", "display", "geometry",
          // QApplication
          "style", "stylesheet",
          // the xcb platform
          "name", "visual", "title", "icon"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

// --help and --version are answered, and a bad option refused, before
// anything that needs a display. Returns the exit status when the program
// ends here, -1 when the window is to run.
int HandleCommandLine(int &argc, char **argv, QString &resource, bool &transcript)
{
    if (argc <= 1)
        return -1;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    // As Qt's own options are written: -platform is one word, not -p -l ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromLatin1(DESCRIPTION));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and exits."));
    const QCommandLineOption resourceOption(
        QStringLiteral("resource"),
        QStringLiteral(
            "Starts with the VISA Resource link chosen and RESOURCE (a VISA resource string, such as "
            "TCPIP::192.168.1.20::5025::SOCKET) in its box."),
        QStringLiteral("RESOURCE"));
    const QCommandLineOption transcriptOption(
        QStringLiteral("transcript"),
        QStringLiteral("Opens the window with its transcript shown (this run only)."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(resourceOption);
    parser.addOption(transcriptOption);
    AddQtOptions(parser);
    const bool parsed = parser.parse(arguments);
    if (parsed && !parser.isSet(help) && !parser.isSet(version)) {
        resource = parser.value(resourceOption);
        transcript = parser.isSet(transcriptOption);
        return -1; // what is not an option is ignored, as it always was
    }

    // Only to name the program in the usage line; it needs no display.
    QCoreApplication core(argc, argv);
    if (!parsed) {
        std::fprintf(stderr, "tallix: %s\n\n%s", qPrintable(parser.errorText()),
                     qPrintable(parser.helpText()));
        return EXIT_USAGE;
    }
    if (parser.isSet(help))
        std::fputs(qPrintable(parser.helpText()), stdout);
    else
        std::fputs("tallix " TALLIX_VERSION "\n", stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QString resource;
    bool transcript = false;
    if (const int status = HandleCommandLine(argc, argv, resource, transcript); status >= 0)
        return status;
    if (!HaveDisplay()) {
        std::fprintf(stderr,
                     "Tallix needs a graphical display, and none was found (DISPLAY and "
                     "WAYLAND_DISPLAY are not set).\n%s",
                     ADVICE);
        return 1;
    }
    // The pause's calibration keeps a core busy for some milliseconds: it
    // runs beside the start-up, from its very beginning, and the window's
    // first delay waits for it.
    StartDelayCalibration();
    g_previousHandler = qInstallMessageHandler(StartUpMessage);
    QApplication application(argc, argv); // takes Qt's own options; the program uses none
    qInstallMessageHandler(g_previousHandler);
    QGuiApplication::setDesktopFileName(QStringLiteral("tallix"));
    CConsoleApp theApp;
    theApp.m_startResource = resource;
    theApp.m_startTranscript = transcript;
    theApp.InitInstance();
    return 0;
}
