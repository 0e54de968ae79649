// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// scripts/check-includes over a tree of one file: which includes of the
// sessions' folders it lets through and which it stops, and what it says.
class TestCheckIncludes : public QObject
{
    Q_OBJECT

private slots:
    void oneInclude_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("include");
        // Empty when the include is let through; else what the script says.
        QTest::addColumn<QString>("complaint");
        QTest::newRow("a kind, another kind") << "sessions/gpib/GpibKind.cpp"
                                              << "sessions/serial/SerialSession.h"
                                              << "the kind gpib/ must not include the kind serial/";
        QTest::newRow("a kind, its own folder") << "sessions/gpib/GpibKind.cpp"
                                                << "sessions/gpib/GpibSession.h"
                                                << "";
        QTest::newRow("a kind, the shared layer") << "sessions/gpib/GpibKind.h"
                                                  << "sessions/SessionRow.h"
                                                  << "";
        QTest::newRow("a kind, the table")
            << "sessions/socket/SocketKind.cpp"
            << "sessions/SessionTable.h"
            << "the kind socket/ must not include SessionTable, which sits above the kinds";
        QTest::newRow("a kind, the parser")
            << "sessions/vxi11/Vxi11Kind.cpp"
            << "sessions/ResourceParser.h"
            << "the kind vxi11/ must not include ResourceParser, which sits above the kinds";
        QTest::newRow("a kind, common") << "sessions/usbtmc/UsbtmcSession.cpp"
                                        << "common/ReplyFramer.h"
                                        << "";
        QTest::newRow("a kind, a link") << "sessions/visa/VisaFinder.cpp"
                                        << "links/Link.h"
                                        << "sessions/ must not include links/";
        QTest::newRow("the shared layer, a kind")
            << "sessions/Session.h"
            << "sessions/gpib/GpibCaller.h"
            << "the shared layer of sessions/ must not include the kind gpib/";
        QTest::newRow("the table, a kind") << "sessions/SessionTable.cpp"
                                           << "sessions/gpib/GpibKind.h"
                                           << "";
        QTest::newRow("a link, a kind") << "links/GpibLink.h"
                                        << "sessions/gpib/GpibCaller.h"
                                        << "";
    }

    void oneInclude()
    {
        QFETCH(QString, file);
        QFETCH(QString, include);
        QFETCH(QString, complaint);
        QTemporaryDir tree;
        QVERIFY(tree.isValid());
        const QString path = tree.filePath(file);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile source(path);
        QVERIFY(source.open(QIODevice::WriteOnly));
        source.write(QStringLiteral("#pragma once\n\n#include \"%1\"\n").arg(include).toUtf8());
        source.close();

        QProcess script;
        script.start(QStringLiteral(TALLIX_SOURCE_DIR "/scripts/check-includes"), {tree.path()});
        QVERIFY(script.waitForFinished(60000));
        const QString said = QString::fromUtf8(script.readAllStandardError());
        if (complaint.isEmpty()) {
            QVERIFY2(script.exitCode() == 0, qPrintable(said));
        } else {
            QCOMPARE(script.exitCode(), 1);
            QVERIFY2(said.contains(complaint), qPrintable(said));
            // Where: the file and its line.
            QVERIFY2(said.startsWith(file + QStringLiteral(":3: ")), qPrintable(said));
        }
    }
};

QTEST_GUILESS_MAIN(TestCheckIncludes)
#include "tst_checkincludes.moc"
