// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/work/ListFinder.h"
#include "tests/work/TricklingPeer.h"
#include "work/InstrumentSearch.h"

#include <QElapsedTimer>
#include <QTest>

#include <mutex>

// Find's search without its dialog, against a peer that trickles its reply.
class TestInstrumentSearch : public QObject
{
    Q_OBJECT

private slots:
    // A query ends by its deadline however its bytes come, and says so.
    void identityByItsDeadline_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::newRow("a byte every 200 ms") << 200;
        QTest::newRow("a byte every 20 ms") << 20;
    }

    void identityByItsDeadline()
    {
        QFETCH(int, gapMs);
        CTricklingPeer peer(gapMs);
        QVERIFY(peer.Listening());
        CSearchParts parts;
        parts.finders = CListFinder::Only({peer.Resource()});
        CInstrumentSearch search(parts);
        std::mutex lock;
        QString identity;
        QElapsedTimer clock;
        qint64 took = -1;
        CSearchEvents events;
        events.identified = [&](const QString &, const QString &text) {
            std::lock_guard guard(lock);
            identity = text;
            took = clock.elapsed();
        };
        clock.start();
        search.Start(CLinkOptions(), false, std::move(events));
        QVERIFY(search.WaitIdle(8000));
        std::lock_guard guard(lock);
        QVERIFY2(took >= 0 && took < 3000, qPrintable(QStringLiteral("%1 ms").arg(took)));
        QVERIFY2(identity.startsWith(QLatin1String("(no answer within ")), qPrintable(identity));
        QVERIFY(peer.BytesSent() >= 3);
    }
};

QTEST_MAIN(TestInstrumentSearch)
#include "tst_instrumentsearch.moc"
