// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/ReplyFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace {

CReply TextReply(const QByteArray &bytes)
{
    CReply reply;
    reply.bytes = bytes;
    reply.total = bytes.size();
    reply.whole = true;
    return reply;
}

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// The names in `folder`, hidden ones too.
QStringList Names(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

// Save Reply As over what is already there: the file a name stands for is
// replaced as it was, and a save the disk cannot take leaves it untouched.
class TestReplyFile : public QObject
{
    Q_OBJECT

private slots:
    // The chosen name: a file, a chain of links, a link into another folder
    // (relative), a link to a file not yet there. The file the name stands
    // for gets the reply, with the mode (as root also the owner and group)
    // of the one it replaces; the links stay, and nothing else is left.
    void replacesWhatTheNameStandsFor_data()
    {
        QTest::addColumn<QStringList>("links"); // "name>target", made in order in the folder a/
        QTest::addColumn<QString>("chosen");    // relative to a/
        QTest::addColumn<QString>("real");      // the file that gets the reply, relative to a/
        QTest::addColumn<bool>("existed");
        QTest::newRow("a file") << QStringList{} << "reply.bin"
                                << "reply.bin" << true;
        QTest::newRow("a chain of links") << QStringList{"one>reply.bin", "two>one", "three>two"} << "three"
                                          << "reply.bin" << true;
        QTest::newRow("a relative link into another folder") << QStringList{"link>../b/reply.bin"} << "link"
                                                             << "../b/reply.bin" << true;
        QTest::newRow("a link to nothing yet") << QStringList{"link>../b/new.bin"} << "link"
                                               << "../b/new.bin" << false;
    }

    void replacesWhatTheNameStandsFor()
    {
        QFETCH(QStringList, links);
        QFETCH(QString, chosen);
        QFETCH(QString, real);
        QFETCH(bool, existed);
        QTemporaryDir dir;
        const QDir a(dir.filePath(QStringLiteral("a")));
        QVERIFY(QDir().mkpath(a.path()) && QDir().mkpath(dir.filePath(QStringLiteral("b"))));
        const QString realPath = QDir::cleanPath(a.filePath(real));
        const QByteArray native = QFile::encodeName(realPath);
        const bool root = ::geteuid() == 0;
        if (existed) {
            Write(realPath, "the old reply");
            QVERIFY(::chmod(native.constData(), 0600) == 0);
            QVERIFY(!root || ::chown(native.constData(), 65534, 65534) == 0);
        }
        for (const QString &link : links) {
            const QStringList parts = link.split(u'>');
            QVERIFY(::symlink(QFile::encodeName(parts[1]).constData(),
                              QFile::encodeName(a.filePath(parts[0])).constData()) == 0);
        }
        const QStringList before = Names(a.path()) + Names(dir.filePath(QStringLiteral("b")));

        QString error;
        QVERIFY2(SaveReplyToFile(TextReply("the new reply\n"), a.filePath(chosen), error), qPrintable(error));
        QCOMPARE(Read(realPath), QByteArray("the new reply\n"));
        struct stat st
        {
        };
        QVERIFY(::lstat(native.constData(), &st) == 0);
        QVERIFY(S_ISREG(st.st_mode));
        if (existed) {
            QCOMPARE(st.st_mode & 07777, mode_t{0600});
            QCOMPARE(st.st_uid, root ? uid_t{65534} : ::geteuid());
            if (root)
                QCOMPARE(st.st_gid, gid_t{65534});
        }
        // The links are still links, and nothing else came.
        QStringList after = Names(a.path()) + Names(dir.filePath(QStringLiteral("b")));
        if (!existed)
            after.removeOne(QFileInfo(realPath).fileName());
        QCOMPARE(after, before);
        for (const QString &link : links)
            QVERIFY(QFileInfo(a.filePath(link.section(u'>', 0, 0))).isSymLink());
    }

    // The disk takes no more than 512 bytes of a file (a size limit on this
    // process, as a full disk would): a short reply whose bytes only reach
    // the disk with the last flush, and a long one written straight through.
    void failedWriteLeavesTheOldFile_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("last bytes in the buffer") << 1000;
        QTest::newRow("written through") << 100000;
    }

    void failedWriteLeavesTheOldFile()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("reply.bin"));
        Write(path, "the old reply");
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = limit;
        small.rlim_cur = 512;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        QString error;
        const bool saved = SaveReplyToFile(TextReply(QByteArray(size, 'x')), path, error);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!saved);
        QVERIFY2(error.startsWith(QLatin1String("Could not save the reply: ")), qPrintable(error));
        QCOMPARE(Read(path), QByteArray("the old reply"));
        QCOMPARE(Names(dir.path()), QStringList{QStringLiteral("reply.bin")});
    }
};

QTEST_GUILESS_MAIN(TestReplyFile)
#include "tst_replyfile.moc"
