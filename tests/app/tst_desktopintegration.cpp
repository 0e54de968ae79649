// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// What the desktop and the system see of the program besides its window: the
// manual pages, the AppStream metainfo and the desktop entries, each checked
// by the tool that reads it.
class TestDesktopIntegration : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };

    static Run RunTool(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        Run run;
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
            return run;
        run.status = process.exitCode();
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

    static QString Source(const QString &path) { return QStringLiteral(TALLIX_SOURCE_DIR "/") + path; }

private slots:
    void manPageRenders_data()
    {
        QTest::addColumn<QString>("page");
        QStringList pages{QStringLiteral("tallix.1"), QStringLiteral("tallix-demo.1")};
        // Pages that others add to the folder are held to the same rules.
        for (const QString &name :
             QDir(Source(QStringLiteral("docs/man"))).entryList({QStringLiteral("*.1")}))
            if (!pages.contains(name))
                pages << name;
        for (const QString &name : std::as_const(pages))
            QTest::newRow(qPrintable(name)) << name;
    }

    void manPageRenders()
    {
        QFETCH(QString, page);
        const QString groff = QStandardPaths::findExecutable(QStringLiteral("groff"));
        QVERIFY2(!groff.isEmpty(), "groff is missing: scripts/install-deps installs it");
        // Every warning on: a bad request or escape renders quietly wrong.
        // Plain text out (no bold or underline by overstriking), to be read.
        const Run run =
            RunTool(groff, {QStringLiteral("-man"), QStringLiteral("-Tutf8"), QStringLiteral("-ww"),
                            QStringLiteral("-P-cbou"), Source(QStringLiteral("docs/man/") + page)});
        QVERIFY2(run.status == 0 && run.err.isEmpty(), run.err.constData());
        // The title line names the page as man looks it up.
        const QByteArray title = QFileInfo(page).completeBaseName().toUpper().toUtf8() + "(1)";
        QVERIFY2(run.out.startsWith(title) || run.out.contains("\n" + title), run.out.left(200).constData());
        for (const char *section : {"NAME", "SYNOPSIS", "DESCRIPTION"})
            QVERIFY2(run.out.contains(section), section);
    }

    void metainfoValidates()
    {
        const QString appstream = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
        if (appstream.isEmpty())
            QSKIP("appstreamcli is not installed");
        const QString metainfo = Source(QStringLiteral("app/com.korvane.tallix.metainfo.xml"));
        Run run = RunTool(appstream, {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo});
        QVERIFY2(run.status == 0, (run.out + run.err).constData());

        // Laid out as installed: its launchable must find the desktop entry.
        QTemporaryDir tree;
        QVERIFY(QDir().mkpath(tree.filePath(QStringLiteral("usr/share/metainfo"))));
        QVERIFY(QDir().mkpath(tree.filePath(QStringLiteral("usr/share/applications"))));
        QVERIFY(QFile::copy(metainfo, tree.filePath(QStringLiteral("usr/share/metainfo/")) +
                                          QFileInfo(metainfo).fileName()));
        QVERIFY(QFile::copy(Source(QStringLiteral("app/tallix.desktop")),
                            tree.filePath(QStringLiteral("usr/share/applications/tallix.desktop"))));
        run = RunTool(appstream, {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), tree.path()});
        QVERIFY2(run.status == 0, (run.out + run.err).constData());
    }

    void desktopEntryValidates_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("tallix") << QStringLiteral("app/tallix.desktop");
        QTest::newRow("demo") << QStringLiteral("app/tallix-demo.desktop");
    }

    void desktopEntryValidates()
    {
        QFETCH(QString, entry);
        QFile file(Source(entry));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().contains("\nKeywords="), "no Keywords= for the desktop's search");
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed");
        const Run run = RunTool(validator, {Source(entry)});
        QVERIFY2(run.status == 0 && run.out.isEmpty() && run.err.isEmpty(), (run.out + run.err).constData());
    }
};

QTEST_GUILESS_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
