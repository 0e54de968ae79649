// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFiles.h"
#include "common/UiHooks.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// Command files that no one writes on purpose: huge, one endless line,
// random bytes. Whatever they hold, nothing crashes, every line that goes out
// is a well-formed command, and the bad ones are reported.
class TestHostileFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_messages;
    CUiHooks m_hooks;

    QString write(const QString &name, const QByteArray &content, int repeat = 1)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        for (int i = 0; i < repeat; ++i)
            f.write(content);
        return path;
    }

    static bool wellFormed(const char *line)
    {
        const auto n = std::strlen(line);
        if (n < 2 || n > 201 || line[n - 2] != '\r' || line[n - 1] != '\n')
            return false;
        for (std::size_t i = 0; i + 2 < n; ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            if (!((c >= 0x20 && c <= 0x7E) || (c >= 0x09 && c <= 0x0C)) || (c >= 'a' && c <= 'z'))
                return false;
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_hooks.showMessage = [this](const QString &text) { m_messages << text; };
    }

    void init() { m_messages.clear(); }

    void hundredMegabytes()
    {
        // 3,333,334 lines of 30 bytes: the batch sends every one of them.
        const QByteArray line = "meas:volt? channel 0123456789\r\n";
        const int lines = 100 * 1000 * 1000 / int(line.size()) + 1;
        const QString path = write(QStringLiteral("huge.txt"), line, lines);
        QVERIFY(!path.isEmpty());
        CCommandFiles files(&m_hooks);
        QByteArray first;
        QCOMPARE(files.OpenCommandFile(path, first), 1);
        files.SetCommandFilePath(path);
        QCOMPARE(first, QByteArray("MEAS:VOLT? CHANNEL 0123456789"));
        qint64 sent = 0;
        bool allWellFormed = true;
        QVERIFY(files.RunBatch(
            [&](const char *l) {
                ++sent;
                allWellFormed = allWellFormed && std::strcmp(l, "MEAS:VOLT? CHANNEL 0123456789\r\n") == 0;
                return 1;
            },
            [](std::uint32_t) {}));
        QCOMPARE(sent, qint64(lines));
        QVERIFY(allWellFormed);
        QVERIFY(!files.IsCommandFileOpen());
        QVERIFY(m_messages.isEmpty());
        QFile::remove(path);
    }

    void oneMegabyteLine()
    {
        const QString path =
            write(QStringLiteral("long.txt"), QByteArray(1024 * 1024, 'x') + "\r\n*idn?\r\n");
        CCommandFiles files(&m_hooks);
        QByteArray first;
        QCOMPARE(files.OpenCommandFile(path, first), 0);
        QCOMPARE(m_messages, QStringList{QStringLiteral("Bad line in command file")});
        QVERIFY(!files.IsCommandFileOpen());
    }

    void randomBytes_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u})
            QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
    }

    void randomBytes()
    {
        QFETCH(quint32, seed);
        // Mostly printable with line ends, now and then any byte: files that
        // get some way before they go wrong.
        QRandomGenerator random(seed);
        QByteArray content(256 * 1024, '\0');
        for (char &c : content) {
            const quint32 r = random.bounded(100u);
            c = r < 3    ? char(random.bounded(256u))
                : r < 8  ? '\r'
                : r < 10 ? '\n'
                         : char(0x20 + random.bounded(95u));
        }
        const QString path = write(QStringLiteral("random.txt"), content);
        CCommandFiles files(&m_hooks);
        QByteArray first;
        if (files.OpenCommandFile(path, first) == 0) {
            QCOMPARE(m_messages.size(), 1); // "Bad line" or "Blank file", never silence
            return;
        }
        files.SetCommandFilePath(path);
        int sent = 0;
        QStringList bad;
        QVERIFY(files.RunBatch(
            [&](const char *l) {
                ++sent;
                if (!wellFormed(l))
                    bad << QString::fromLatin1(QByteArray(l).toHex());
                return 1;
            },
            [](std::uint32_t) {}));
        QVERIFY2(bad.isEmpty(), qPrintable(bad.join(QLatin1Char('\n'))));
        QVERIFY(sent > 0);
        QVERIFY(!files.IsCommandFileOpen());
        // A random file of this size holds a bad line before its end.
        QCOMPARE(m_messages, QStringList{QStringLiteral("Bad line in command file")});
    }
};

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
