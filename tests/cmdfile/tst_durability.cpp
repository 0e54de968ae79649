// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// A logged batch of 10,000 lines in a separate process, killed with SIGKILL in
// the middle: the log must hold every record before the last one, complete and
// in order, because each record goes to the operating system as it is made.
class TestDurability : public QObject
{
    Q_OBJECT

private slots:
    void killedMidBatch()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const int lines = 10000;
        const QString commands = dir.filePath(QStringLiteral("commands.txt"));
        const QString log = dir.filePath(QStringLiteral("transcript.log"));
        QByteArray expected;
        {
            QFile f(commands);
            QVERIFY(f.open(QIODevice::WriteOnly));
            for (int i = 1; i <= lines; ++i) {
                const QByteArray tag = QByteArray::number(i).rightJustified(5, '0');
                f.write("echo L" + tag + "\r\n");
                // The reader upper-cases the line; the instrument echoes its text.
                expected += "ECHO L" + tag + "\r\n>L" + tag + "\r\n";
            }
        }

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // 200 us after each line keeps the run going for a few seconds.
        child.start(QStringLiteral(DURABILITY_CHILD), {commands, log, QStringLiteral("200")});
        QVERIFY(child.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() > expected.size() / 4, 60000);
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray written = f.readAll();
        QVERIFY2(written.size() < expected.size(), "the batch ended before it was killed: raise the delay");
        // Everything written is the start of the whole transcript: every
        // record complete and in order, the last one possibly cut short.
        QCOMPARE(written, expected.left(written.size()));
        QVERIFY(written.size() > expected.size() / 4);
    }
};

QTEST_GUILESS_MAIN(TestDurability)
#include "tst_durability.moc"
