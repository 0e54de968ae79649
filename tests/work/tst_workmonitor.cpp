// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/WorkMonitor.h"

#include <QList>
#include <QTest>

// The watch over long work on a clock of the test's own: when Stop takes
// effect, and the grace a batch's line in flight gets.
class TestWorkMonitor : public QObject
{
    Q_OBJECT

private slots:
    // Stop takes effect at the very next pulse: before the progress shows,
    // and while it shows, between two rounds of the window's events.
    void stopTakesTheNextPulse_data()
    {
        QTest::addColumn<int>("shownAfterMs"); // -1: not shown yet
        QTest::newRow("before the progress shows") << -1;
        QTest::newRow("while it shows") << 600;
    }

    void stopTakesTheNextPulse()
    {
        QFETCH(int, shownAfterMs);
        int shown = 0;
        CWorkMonitor work({.show = [&shown](const CProgress &) { ++shown; }});
        CWorkMonitor::Clock::time_point t{};
        work.SetClock([&t] { return t; });
        work.Begin();
        QVERIFY(work.Pulse({}));
        if (shownAfterMs >= 0) {
            t += std::chrono::milliseconds(shownAfterMs);
            QVERIFY(work.Pulse({}));
            QCOMPARE(shown, 1);
        }
        work.Stop();
        t += std::chrono::milliseconds(1);
        QVERIFY(!work.Pulse({}));
        work.End();
        QVERIFY(!work.Busy());
    }

    // Stop during a batch: the batch's own pulse ends it at once, a reply
    // of the line in flight may still end within its grace, and one that
    // takes longer is stopped; the indication keeps the batch's lines.
    void stopInABatchLetsTheLineFinish()
    {
        QList<CProgress::Kind> shown;
        CWorkMonitor work({.show = [&shown](const CProgress &p) { shown << p.kind; }});
        CWorkMonitor::Clock::time_point t{};
        work.SetClock([&t] { return t; });
        const CProgress batch{CProgress::Kind::Batch, 3, 10};
        const CProgress reply{CProgress::Kind::Reply, 100, -1};
        work.Begin();
        QVERIFY(work.Pulse(batch));
        t += std::chrono::milliseconds(600);
        QVERIFY(work.Pulse(reply));
        QCOMPARE(shown, QList<CProgress::Kind>{CProgress::Kind::Batch});
        work.Stop();
        t += CWorkMonitor::LINE_GRACE / 2;
        QVERIFY(work.Pulse(reply));
        QVERIFY(!work.Pulse(batch));
        t += CWorkMonitor::LINE_GRACE;
        QVERIFY(!work.Pulse(reply));
        work.End();

        // Outside a batch nothing waits.
        work.Begin();
        work.Stop();
        QVERIFY(!work.Pulse(reply));
        work.End();
    }
};

QTEST_MAIN(TestWorkMonitor)
#include "tst_workmonitor.moc"
