// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/CallThread.h"

#include <QtTest>

#include <atomic>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A call that blocks until the test lets it go, as a library transfer does.
struct CGate
{
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    std::atomic<bool> ended{false};
};

// Hooks that pulse and record when; they stop the work from the pulse
// `stopAt` on (0: never).
struct CPulses
{
    CUiHooks hooks;
    std::vector<std::chrono::steady_clock::time_point> at;
    int stopAt = 0;

    CPulses()
    {
        hooks.pulse = [this](const CProgress &) {
            at.push_back(std::chrono::steady_clock::now());
            return stopAt == 0 || static_cast<int>(at.size()) < stopAt;
        };
    }
};

} // namespace

class tst_CallThread : public QObject
{
    Q_OBJECT

private slots:
    void pulsesWhileTheCallBlocks();
    void stopLeavesTheCallRunningAndTheNextCallWaitsForIt();
    void onStopCutsTheCallShort();
    void droppedWhileACallRunsWaitsForNothing();
    void withoutPulsesTheCallRunsOnTheCallersThread();
    void queuedCallsFollowTheRunningOne();
    void afterRunsOnceTheRunningCallHasEnded();
};

void tst_CallThread::pulsesWhileTheCallBlocks()
{
    CCallThread thread;
    CPulses pulses;
    std::thread::id ranOn;
    const CallEnd end = RunCall(thread, &pulses.hooks, [&]() {
        ranOn = std::this_thread::get_id();
        std::this_thread::sleep_for(300ms);
    });
    QCOMPARE(end, CallEnd::Done);
    QVERIFY(ranOn != std::this_thread::get_id());
    // A call of 300 ms with a pulse every 20 ms: a loaded machine may miss a
    // few, never most of them.
    QVERIFY2(pulses.at.size() >= 5, qPrintable(QString::number(pulses.at.size())));
}

void tst_CallThread::stopLeavesTheCallRunningAndTheNextCallWaitsForIt()
{
    CCallThread thread;
    CPulses pulses;
    pulses.stopAt = 3;
    auto gate = std::make_shared<CGate>();
    const auto started = std::chrono::steady_clock::now();
    QCOMPARE(RunCall(thread, &pulses.hooks,
                     [gate]() {
                         gate->opened.wait();
                         gate->ended = true;
                     }),
             CallEnd::Stopped);
    QVERIFY(std::chrono::steady_clock::now() - started < 5s);
    QVERIFY(!thread.Idle());
    QVERIFY(!gate->ended);

    // The next call is not started beside the one still running: it waits,
    // and that wait can be stopped too.
    CPulses again;
    again.stopAt = 2;
    bool ran = false;
    QCOMPARE(RunCall(thread, &again.hooks, [&]() { ran = true; }), CallEnd::Stopped);
    QVERIFY(!ran);

    gate->open.set_value();
    CPulses last;
    QCOMPARE(RunCall(thread, &last.hooks, [&]() { ran = true; }), CallEnd::Done);
    QVERIFY(gate->ended);
    QVERIFY(ran);
}

void tst_CallThread::onStopCutsTheCallShort()
{
    CCallThread thread;
    CPulses pulses;
    pulses.stopAt = 1;
    auto gate = std::make_shared<CGate>();
    const CallEnd end = RunCall(
        thread, &pulses.hooks, [gate]() { gate->opened.wait(); }, {}, [gate]() { gate->open.set_value(); },
        5s);
    QCOMPARE(end, CallEnd::Stopped);
    // The grace let the call that onStop released end within the wait.
    QVERIFY(thread.Idle());
}

void tst_CallThread::droppedWhileACallRunsWaitsForNothing()
{
    auto gate = std::make_shared<CGate>();
    {
        CCallThread thread;
        CPulses pulses;
        pulses.stopAt = 1;
        QCOMPARE(RunCall(thread, &pulses.hooks,
                         [gate]() {
                             gate->opened.wait();
                             gate->ended = true;
                         }),
                 CallEnd::Stopped);
    } // would hang here if the thread were joined
    gate->open.set_value();
    QTRY_VERIFY_WITH_TIMEOUT(gate->ended, 5000);
}

void tst_CallThread::withoutPulsesTheCallRunsOnTheCallersThread()
{
    CCallThread thread;
    CUiHooks silent;
    std::thread::id ranOn;
    QCOMPARE(RunCall(thread, &silent, [&]() { ranOn = std::this_thread::get_id(); }), CallEnd::Done);
    QCOMPARE(ranOn, std::this_thread::get_id());
}

void tst_CallThread::queuedCallsFollowTheRunningOne()
{
    CCallThread thread;
    CPulses pulses;
    pulses.stopAt = 1;
    auto gate = std::make_shared<CGate>();
    auto order = std::make_shared<std::vector<int>>();
    QCOMPARE(RunCall(thread, &pulses.hooks,
                     [gate, order]() {
                         gate->opened.wait();
                         order->push_back(1);
                     }),
             CallEnd::Stopped);
    // Queued behind the stopped call: it waits its turn, and the caller
    // does not wait for it.
    QVERIFY(thread.Queue([order]() { order->push_back(2); }));
    QVERIFY(!thread.Wait(50ms));
    QVERIFY(order->empty());
    gate->open.set_value();
    QVERIFY(thread.Wait(5s));
    QCOMPARE(*order, (std::vector<int>{1, 2}));

    // On an idle thread it starts at once, still off the caller's thread.
    std::thread::id ranOn;
    QVERIFY(thread.Queue([&ranOn]() { ranOn = std::this_thread::get_id(); }));
    QVERIFY(thread.Wait(5s));
    QVERIFY(ranOn != std::thread::id());
    QVERIFY(ranOn != std::this_thread::get_id());
}

void tst_CallThread::afterRunsOnceTheRunningCallHasEnded()
{
    CCallThread thread;
    auto gate = std::make_shared<CGate>();
    auto followedTheEnd = std::make_shared<std::atomic<bool>>(false);
    QVERIFY(thread.Start([gate]() {
        gate->opened.wait();
        gate->ended = true;
    }));
    QVERIFY(thread.After([gate, followedTheEnd]() { *followedTheEnd = gate->ended.load(); }));
    QVERIFY(!thread.After([]() {}));

    // The wrap-up wait keeps its bound although every pulse says stop, and
    // gives the window its pulses meanwhile.
    CPulses pulses;
    pulses.stopAt = 1;
    const auto started = std::chrono::steady_clock::now();
    QVERIFY(!FinishCall(thread, &pulses.hooks, 200ms));
    QVERIFY(std::chrono::steady_clock::now() - started >= 190ms);
    QVERIFY2(pulses.at.size() >= 3, qPrintable(QString::number(pulses.at.size())));

    gate->open.set_value();
    QVERIFY(FinishCall(thread, &pulses.hooks, 5s));
    QVERIFY(*followedTheEnd);

    // With nothing running it starts at once.
    auto ran = std::make_shared<std::atomic<bool>>(false);
    QVERIFY(thread.After([ran]() { *ran = true; }));
    QVERIFY(FinishCall(thread, nullptr, 5s));
    QVERIFY(*ran);
}

QTEST_GUILESS_MAIN(tst_CallThread)
#include "tst_callthread.moc"
