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
                                << QByteArrayList{"Usage: ", "--help", "--version", "Tallix.conf"}
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
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArrayList, out);
        QFETCH(QByteArrayList, err);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        QProcess tallix;
        tallix.setProcessEnvironment(env);
        tallix.start(QStringLiteral(TALLIX_BINARY_DIR "/app/tallix"), arguments);
        QVERIFY2(tallix.waitForFinished(20000), "tallix did not end");
        const QByteArray stdOut = tallix.readAllStandardOutput();
        const QByteArray stdErr = tallix.readAllStandardError();
        QCOMPARE(tallix.exitStatus(), QProcess::NormalExit);
        QVERIFY2(tallix.exitCode() == status, (stdOut + stdErr).constData());
        for (const auto &[expected, stream] : {std::pair{out, stdOut}, std::pair{err, stdErr}}) {
            if (expected.isEmpty())
                QVERIFY2(stream.isEmpty(), stream.constData());
            for (const QByteArray &text : expected)
                QVERIFY2(stream.contains(text),
                         qPrintable(QStringLiteral("no \"%1\" in:\n%2")
                                        .arg(QString::fromUtf8(text), QString::fromUtf8(stream))));
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
