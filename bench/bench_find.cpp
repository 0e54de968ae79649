// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// Find against an instrument that trickles its "*IDN?" reply a byte every
// 200 ms without end: the time from Cancel to the dialog gone (exec and the
// dialog's destructor returned, as the window runs it) and to the window's
// next paint; the time one identity query takes against that peer; and how
// long the cancelled search's threads take to end on their own. Median and
// worst of ROUNDS rounds each.
#include "BenchResult.h"
#include "BenchSupport.h"
#include "console/FindDlg.h"
#include "tests/work/ListFinder.h"
#include "tests/work/TricklingPeer.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

constexpr int ROUNDS = 10;
constexpr int TRICKLE_GAP_MS = 200;

// Notes the moment of each paint of the widget it watches.
class CPaintWatch : public QObject
{
public:
    QElapsedTimer *clock = nullptr;
    qint64 paintedAt = -1;

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && paintedAt < 0 && clock)
            paintedAt = clock->nsecsElapsed();
        return false;
    }
};

struct CRound
{
    double closedMs = -1;
    double paintedMs = -1;
};

// One Find as the window runs it, cancelled once the instrument has begun to
// trickle; times from the click on Cancel.
CRound CancelRound(QWidget &window, CPaintWatch &watch, const CTricklingPeer &peer)
{
    CRound round;
    QElapsedTimer clock;
    CSearchParts parts;
    parts.finders = CListFinder::Only({peer.Resource()});
    const qint64 sentBefore = peer.BytesSent();
    {
        CFindDlg dialog(CLinkOptions(), &window, parts);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &dialog, [&]() {
            auto *list = dialog.findChild<QTreeWidget *>(QStringLiteral("instruments"));
            if (list->topLevelItemCount() == 0 || peer.BytesSent() < sentBefore + 2)
                return;
            poll.stop();
            clock.start();
            dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
        });
        poll.start(10);
        dialog.exec();
    }
    round.closedMs = clock.nsecsElapsed() / 1e6;
    watch.clock = &clock;
    watch.paintedAt = -1;
    window.update();
    QElapsedTimer wait;
    wait.start();
    while (watch.paintedAt < 0 && wait.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    round.paintedMs = watch.paintedAt < 0 ? -1 : watch.paintedAt / 1e6;
    watch.clock = nullptr;
    return round;
}

// One search alone: how long its identity query takes against the peer,
// and how long its threads take to end once it is cancelled mid-query.
void QueryRound(const CTricklingPeer &peer, double &queryMs, double &endMs)
{
    CSearchParts parts;
    parts.finders = CListFinder::Only({peer.Resource()});
    {
        CInstrumentSearch search(parts);
        std::mutex lock;
        QElapsedTimer clock;
        qint64 at = -1;
        CSearchEvents events;
        events.identified = [&](const QString &, const QString &) {
            std::lock_guard guard(lock);
            at = clock.nsecsElapsed();
        };
        clock.start();
        search.Start(CLinkOptions(), false, std::move(events));
        search.WaitIdle(10000);
        std::lock_guard guard(lock);
        queryMs = at < 0 ? -1 : at / 1e6;
    }
    CInstrumentSearch search(parts);
    const qint64 sentBefore = peer.BytesSent();
    search.Start(CLinkOptions(), false);
    QElapsedTimer wait;
    wait.start();
    while (peer.BytesSent() < sentBefore + 2 && wait.elapsed() < 5000)
        QThread::msleep(5);
    QElapsedTimer clock;
    clock.start();
    search.Cancel();
    endMs = search.WaitIdle(10000) ? clock.nsecsElapsed() / 1e6 : -1;
}

void Report(const char *what, const std::vector<double> &values, double target)
{
    const bool complete = std::none_of(values.begin(), values.end(), [](double v) { return v < 0; });
    const double median = Median(values);
    const double worst = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    std::printf("%s: median %.1f ms, worst %.1f ms over %zu rounds%s\n", what, median, worst, values.size(),
                complete ? "" : " (some rounds never ended)");
    char measured[64];
    char wanted[32];
    std::snprintf(measured, sizeof measured, "%.1f ms (worst %.1f)", median, worst);
    std::snprintf(wanted, sizeof wanted, "<= %.0f ms", target);
    ReportResult(what, measured, wanted, complete && worst <= target);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    CTricklingPeer peer(TRICKLE_GAP_MS, 60000);
    if (!peer.Listening()) {
        std::fprintf(stderr, "bench_find: cannot listen on the loopback\n");
        return 1;
    }
    QWidget window;
    window.resize(400, 300);
    CPaintWatch watch;
    window.installEventFilter(&watch);
    window.show();
    QCoreApplication::processEvents();

    std::vector<double> closed, painted, queries, ends;
    for (int i = 0; i < ROUNDS; ++i) {
        const CRound round = CancelRound(window, watch, peer);
        closed.push_back(round.closedMs);
        painted.push_back(round.paintedMs);
    }
    for (int i = 0; i < ROUNDS / 2; ++i) {
        double query = -1, end = -1;
        QueryRound(peer, query, end);
        queries.push_back(query);
        ends.push_back(end);
    }
    Report("Find: Cancel to the dialog gone, trickling peer", closed, 500);
    Report("Find: Cancel to the window's next paint, trickling peer", painted, 500);
    Report("Find: one identity query against a trickling peer", queries, 1600);
    Report("Find: a cancelled search's threads end", ends, 500);
    return 0;
}
