// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "timing/Delay.h"

#include <QElapsedTimer>
#include <QTest>

#include <vector>

// Calibration against a fake tick source: each reading returns the next value
// of a script, so the elapsed time of a calibration is chosen by the test.
class TestDelay : public QObject
{
    Q_OBJECT

private:
    std::vector<std::uint32_t> m_ticks;
    std::size_t m_next = 0;
    std::vector<std::uint64_t> m_bounds;

    void script(std::vector<std::uint32_t> ticks)
    {
        m_ticks = std::move(ticks);
        m_next = 0;
        SetTickSource([this]() { return m_ticks.at(m_next++); });
    }

private slots:
    void init()
    {
        ResetDelayCalibration();
        m_bounds.clear();
        SetCountingLoopObserver([this](std::uint64_t bound) { m_bounds.push_back(bound); });
    }

    void cleanup()
    {
        SetTickSource({});
        SetCountingLoopObserver({});
        ResetDelayCalibration();
    }

    void calibration_data()
    {
        QTest::addColumn<std::uint32_t>("t0");
        QTest::addColumn<std::uint32_t>("t1");
        QTest::addColumn<std::uint32_t>("us");
        QTest::addColumn<float>("factor");
        QTest::addColumn<quint64>("bound");

        QTest::newRow("100 ms gives 400 per us") << 1000u << 1100u << 100u << 400.0f << quint64(40000);
        // Within one tick: taken as 1 ms, not as 40,000,000 loops per us.
        QTest::newRow("within one tick") << 500u << 500u << 100u << 40000.0f << quint64(4000000);
        QTest::newRow("tick counter wraps") << 0xFFFFFFF6u << 0x0000005Au << 1u << 400.0f << quint64(400);
        QTest::newRow("first call with 0 still calibrates") << 0u << 40u << 0u << 1000.0f << quint64(0);
        // 4,000,000,000 us at 40,000 per us is 1.6e14 loops: run whole, no wrap.
        QTest::newRow("product past 2^32 runs whole")
            << 7u << 7u << 4000000000u << 40000.0f << quint64(160000000000000ull);
    }

    void calibration()
    {
        QFETCH(std::uint32_t, t0);
        QFETCH(std::uint32_t, t1);
        QFETCH(std::uint32_t, us);
        QFETCH(float, factor);
        QFETCH(quint64, bound);

        script({t0, t1});
        DelayMicroseconds(us);
        QCOMPARE(g_loopsPerMicrosecond, factor);
        QCOMPARE(m_bounds.size(), std::size_t(2));
        QCOMPARE(m_bounds[0], quint64(DELAY_CALIBRATION_LOOPS));
        QCOMPARE(m_bounds[1], bound);
    }

    void calibratesOnlyOnce()
    {
        script({0, 100});
        DelayMicroseconds(10);
        DelayMicroseconds(10); // a third tick reading would throw out of range
        QCOMPARE(m_next, std::size_t(2));
        QCOMPARE(m_bounds.size(), std::size_t(3));
        QCOMPARE(m_bounds[2], quint64(4000));
    }

    void spinLoops_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("total");
        QTest::newRow("three") << 3 << 2 << 3;
        QTest::newRow("zero") << 0 << -1 << 0;
        QTest::newRow("negative") << -5 << -1 << 0;
    }

    void spinLoops()
    {
        QFETCH(int, count);
        QFETCH(int, index);
        QFETCH(int, total);
        g_spinIndex = -1;
        g_spinTotal = 77;
        SpinLoops(count);
        QCOMPARE(int(g_spinIndex), index);
        QCOMPARE(int(g_spinTotal), total);
    }

    void calibrateSpinLoops_data()
    {
        QTest::addColumn<std::uint32_t>("t0");
        QTest::addColumn<std::uint32_t>("t1");
        QTest::addColumn<std::uint32_t>("factor");
        QTest::newRow("3 ms drops the remainder") << 10u << 13u << 16666666u;
        QTest::newRow("within one tick stays 50,000,000") << 10u << 10u << 50000000u;
        QTest::newRow("wrap") << 0xFFFFFFFFu << 1u << 25000000u;
    }

    void calibrateSpinLoops()
    {
        QFETCH(std::uint32_t, t0);
        QFETCH(std::uint32_t, t1);
        QFETCH(std::uint32_t, factor);
        script({t0, t1});
        CalibrateSpinLoops();
        QCOMPARE(g_spinLoopsPerMillisecond, factor);
        QCOMPARE(int(g_spinTotal), SPIN_CALIBRATION_LOOPS);
        CalibrateSpinLoops(); // measures once per run
        QCOMPARE(m_next, std::size_t(2));
    }

    // On the real clock a pause is never shorter than asked, however wrong
    // its calibration has become (a core that now runs faster than when it
    // was measured): the clock, not the count, ends it. Nor is it taken in
    // the wrong unit: 3 ms, not 3 s (the bound leaves a loaded machine
    // plenty of room).
    void pausesNeverEndEarly_data()
    {
        QTest::addColumn<bool>("spin"); // the GPIB read pause, else the delay
        QTest::newRow("delay") << false;
        QTest::newRow("GPIB read pause") << true;
    }

    void pausesNeverEndEarly()
    {
        QFETCH(bool, spin);
        SetCountingLoopObserver({});
        g_loopsPerMicrosecond = 0.001f; // a thousandth of a loop a microsecond
        g_spinLoopsPerMillisecond = 1;  // one spin loop a millisecond
        QElapsedTimer clock;
        clock.start();
        if (spin)
            SpinPause(3);
        else
            DelayMicroseconds(3000);
        QVERIFY2(clock.nsecsElapsed() >= 3000000, qPrintable(QString::number(clock.nsecsElapsed())));
        QVERIFY2(clock.nsecsElapsed() < 1000000000, qPrintable(QString::number(clock.nsecsElapsed())));
    }

    // The real clock, calibrated as the program does it, beside the caller:
    // its factor must be the loop's real rate (a factor that is off makes
    // every pause as much too long or too short).
    void realLoopRuns()
    {
        SetCountingLoopObserver({});
        QCOMPARE(RunCountingLoop(12345), quint64(12345));
        QCOMPARE(RunCountingLoop(0), quint64(0));

        StartDelayCalibration();
        DelayMicroseconds(0); // waits for the calibration
        QVERIFY(g_loopsPerMicrosecond > 0.0f);
        constexpr std::uint64_t loops = 5000000;
        qint64 fastestNs = 0;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer clock;
            clock.start();
            RunCountingLoop(loops);
            const qint64 ns = clock.nsecsElapsed();
            if (i == 0 || ns < fastestNs)
                fastestNs = ns;
        }
        const double measured = static_cast<double>(loops) / (static_cast<double>(fastestNs) / 1000.0);
        const double ratio = static_cast<double>(g_loopsPerMicrosecond) / measured;
        QVERIFY2(ratio > 0.5 && ratio < 2.0,
                 qPrintable(QStringLiteral("calibrated %1, measured %2 loops per us")
                                .arg(g_loopsPerMicrosecond)
                                .arg(measured)));
    }
};

QTEST_GUILESS_MAIN(TestDelay)
#include "tst_delay.moc"
