// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QByteArrayList>
#include <QProcess>
#include <QTest>

// The built program's options, run as a user would run them from a shell
// with no display at all: what they print, where, and the exit status.
class TestCommandLine : public QObject
{
    Q_OBJECT

private:
    // Runs the built program with no display at all; its exit status, -1
    // when it did not end normally.
    static int run(const QStringList &arguments, QByteArray &stdOut, QByteArray &stdErr)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        QProcess tallix;
        tallix.setProcessEnvironment(env);
        tallix.start(QStringLiteral(TALLIX_BINARY_DIR "/app/tallix"), arguments);
        if (!tallix.waitForFinished(20000) || tallix.exitStatus() != QProcess::NormalExit)
            return -1;
        stdOut = tallix.readAllStandardOutput();
        stdErr = tallix.readAllStandardError();
        return tallix.exitCode();
    }

private slots:
    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        // Each text must be in the stream; no text at all: the stream must be empty.
        QTest::addColumn<QByteArrayList>("out");
        QTest::addColumn<QByteArrayList>("err");
        const QByteArray version("tallix " TALLIX_VERSION "\n");

        QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0
                                << QByteArrayList{"Usage: ", "--help", "--version", "--resource <RESOURCE>",
                                                  "Tallix.conf"}
                                << QByteArrayList{};
        QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0 << QByteArrayList{version}
                                   << QByteArrayList{};
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--bogus")} << 2 << QByteArrayList{}
                                        << QByteArrayList{"Unknown option 'bogus'", "Usage: ", "--version"};
        QTest::newRow("unknown option beside --help")
            << QStringList{QStringLiteral("--help"), QStringLiteral("-x")} << 2 << QByteArrayList{}
            << QByteArrayList{"Unknown option 'x'", "Usage: "};
        // Qt's own options are written with one dash and take a value; they
        // must not be refused, nor read as a row of one-letter options.
        QTest::newRow("Qt's own options pass")
            << QStringList{QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("-reverse"),
                           QStringLiteral("--version")}
            << 0 << QByteArrayList{version} << QByteArrayList{};
        // Every option QGuiApplication, QApplication and the X11 platform
        // take, one row each. An option with a value is given "-x", which is
        // refused as unknown unless it is taken as that value; one without
        // is followed at once by --version, which a value would swallow.
        for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin", "qmljsdebugger",
                                 "qwindowgeometry", "qwindowicon", "qwindowtitle", "session", "display",
                                 "geometry", "style", "stylesheet", "name", "visual", "title", "icon"}) {
            QTest::addRow("-%s takes a value", name)
                << QStringList{QLatin1Char('-') + QLatin1String(name), QStringLiteral("-x"),
                               QStringLiteral("--version")}
                << 0 << QByteArrayList{version} << QByteArrayList{};
        }
        for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
            QTest::addRow("-%s takes none", name)
                << QStringList{QLatin1Char('-') + QLatin1String(name), QStringLiteral("--version")} << 0
                << QByteArrayList{version} << QByteArrayList{};
        }
        QTest::newRow("X11's -name and -visual as written")
            << QStringList{QStringLiteral("-name"), QStringLiteral("foo"), QStringLiteral("-visual"),
                           QStringLiteral("TrueColor"), QStringLiteral("--version")}
            << 0 << QByteArrayList{version} << QByteArrayList{};
        QTest::newRow("-option=value")
            << QStringList{QStringLiteral("-style=fusion"), QStringLiteral("-qmljsdebugger=port:1234"),
                           QStringLiteral("--version")}
            << 0 << QByteArrayList{version} << QByteArrayList{};
        QTest::newRow("a name near Qt's is still refused")
            << QStringList{QStringLiteral("-names"), QStringLiteral("--version")} << 2 << QByteArrayList{}
            << QByteArrayList{"Unknown option 'names'"};
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArrayList, out);
        QFETCH(QByteArrayList, err);

        QByteArray stdOut;
        QByteArray stdErr;
        const int exitCode = run(arguments, stdOut, stdErr);
        QVERIFY2(exitCode == status, (stdOut + stdErr).constData());
        for (const auto &[expected, stream] : {std::pair{out, stdOut}, std::pair{err, stdErr}}) {
            if (expected.isEmpty())
                QVERIFY2(stream.isEmpty(), stream.constData());
            for (const QByteArray &text : expected)
                QVERIFY2(stream.contains(text),
                         qPrintable(QStringLiteral("no \"%1\" in:\n%2")
                                        .arg(QString::fromUtf8(text), QString::fromUtf8(stream))));
        }
    }

    // The help lists Tallix's own options only: Qt's pass, but unannounced.
    void helpHidesQtOptions()
    {
        QByteArray stdOut;
        QByteArray stdErr;
        QCOMPARE(run({QStringLiteral("--help")}, stdOut, stdErr), 0);
        QVERIFY(stdOut.contains("--version"));
        for (const char *name :
             {"platform", "qwindow", "style", "display", "geometry", "-name", "visual", "reverse"})
            QVERIFY2(!stdOut.contains(name), name);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
