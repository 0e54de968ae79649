// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The transcript's cost: a logged batch and a 16 MiB block with the pane
// shown against the same with it hidden, the memory of 100,000 entries, and
// the time to scroll through them.
#include "bench/BenchResult.h"
#include "bench/BenchSupport.h"
#include "console/ConsoleDlg.h"
#include "console/TranscriptPane.h"
#include "work/TranscriptModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <vector>

namespace {

constexpr int BATCH_LINES = 10000;
constexpr int ROUNDS = 3;
constexpr int ENTRIES = 100000;

double PeakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double Seconds(const QElapsedTimer &clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    QCoreApplication::setOrganizationName(QStringLiteral("Korvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Tallix"));
    QProcess server;
    int port = 0;
    if (!StartScpiServer(server, port))
        return 1;
    const QString resource = QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(port);

    const QString commands = dir.filePath(QStringLiteral("batch.txt"));
    {
        QFile file(commands);
        file.open(QIODevice::WriteOnly);
        for (int i = 0; i < BATCH_LINES; ++i)
            file.write(i % 100 == 99 ? "CURV?\r\n" : i % 2 ? "MEAS:VOLT?\r\n" : "*IDN?\r\n");
    }
    const QString logPath = dir.filePath(QStringLiteral("batch.log"));
    const QString replyPath = dir.filePath(QStringLiteral("reply.bin"));

    int wrong = 0;
    double baseline = 0, withEntries = 0, scroll = 0;
    int pages = 0;
    std::vector<double> batchRatios, blockRatios, batchShown, batchHidden, blockShown, blockHidden;
    {
        CConsoleDlg window;
        window.SetPrompts({.messageBox =
                               [&wrong](const QString &text) {
                                   std::fprintf(stderr, "message: %s\n", qPrintable(text));
                                   ++wrong;
                               },
                           .askOpenFile =
                               [&]() {
                                   return COpenFileChoice{true, commands, QStringLiteral("batch.txt"), true};
                               },
                           .askSaveFile = [&](const QString &) { return logPath; }});
        window.StartWithResource(resource);
        window.show();
        window.ShowTranscript(true, false);
        QCoreApplication::processEvents();

        // Memory and scrolling first, before any reply has grown the heap.
        baseline = PeakMiB();
        CTranscript &transcript = window.Transcript();
        for (int i = 0; i < ENTRIES; ++i) {
            CTranscriptEntry entry;
            entry.kind = i % 2 ? CTranscriptEntry::Kind::Reply : CTranscriptEntry::Kind::Command;
            entry.link = QStringLiteral("VISA Resource");
            entry.target = resource;
            entry.data.bytes = i % 2
                                   ? QByteArray("KORVANE,TX-1000,SIM0001,1.0.") + QByteArray::number(i) + "\n"
                                   : QByteArray("*IDN?\r\n");
            entry.data.total = entry.data.bytes.size();
            entry.data.whole = true;
            transcript.Add(std::move(entry));
        }
        QCoreApplication::processEvents();
        withEntries = PeakMiB();
        QListView *list = window.TranscriptPane()->List();
        QScrollBar *bar = list->verticalScrollBar();
        bar->setValue(0);
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        while (bar->value() < bar->maximum()) {
            bar->setValue(bar->value() + bar->pageStep());
            list->viewport()->repaint();
            ++pages;
        }
        scroll = Seconds(clock);
        transcript.Clear();
        QCoreApplication::processEvents();

        // Shown and hidden take turns, so that both meet the same moments
        // of a busy host.
        for (int round = 0; round < ROUNDS; ++round) {
            double took[2] = {0, 0};
            for (const bool shown : {true, false}) {
                window.ShowTranscript(shown, false);
                QFile::remove(logPath);
                QCoreApplication::processEvents();
                clock.restart();
                window.OnOpenFile();
                window.OnSendFile();
                took[shown ? 1 : 0] = Seconds(clock);
                window.CloseCommandFiles();
                QCoreApplication::processEvents();
            }
            batchHidden.push_back(took[0]);
            batchShown.push_back(took[1]);
            batchRatios.push_back(took[0] / took[1]);
        }
        qobject_cast<QCheckBox *>(window.Control(IDC_READ_AFTER_SEND))->setChecked(true);
        for (int round = 0; round < ROUNDS + 2; ++round) {
            double took[2] = {0, 0};
            for (const bool shown : {false, true}) {
                window.ShowTranscript(shown, false);
                QCoreApplication::processEvents();
                qobject_cast<QComboBox *>(window.Control(IDC_COMMAND))
                    ->setEditText(QStringLiteral("WAV:DATA? %1").arg(16 * 1024 * 1024));
                clock.restart();
                window.OnSend();
                QCoreApplication::processEvents();
                took[shown ? 1 : 0] = Seconds(clock);
                if (window.LastReply().total < 16 * 1024 * 1024)
                    ++wrong;
            }
            blockHidden.push_back(took[0]);
            blockShown.push_back(took[1]);
            blockRatios.push_back(took[0] / took[1]);
        }
    }
    server.terminate();
    server.waitForFinished(5000);

    std::printf("Logged batch of %d lines over %s (median of %d rounds): shown %.3f s, hidden %.3f s\n",
                BATCH_LINES, qPrintable(resource), ROUNDS, Median(batchShown), Median(batchHidden));
    std::printf("16 MiB block, Send with Read ticked (median of %d rounds): shown %.3f s, hidden %.3f s\n",
                ROUNDS + 2, Median(blockShown), Median(blockHidden));
    std::printf("%d entries: peak resident %.1f MiB before, %.1f MiB after (+%.1f MiB)\n", ENTRIES, baseline,
                withEntries, withEntries - baseline);
    std::printf("Scrolling from the first to the last of %d entries: %d pages in %.3f s (%.2f ms a page)\n",
                ENTRIES, pages, scroll, pages ? scroll * 1000 / pages : 0.0);
    std::printf("messages or failed rounds: %d\n", wrong);
    ReportRatio("Logged batch, transcript shown / hidden (rate)", Median(batchRatios), 0.95, true);
    ReportRatio("16 MiB block, transcript shown / hidden (rate)", Median(blockRatios), 0.95, true);
    char measured[32];
    std::snprintf(measured, sizeof measured, "%.1f MiB", withEntries - baseline);
    ReportResult("Memory of 100,000 transcript entries", measured, "<= 64 MiB", withEntries - baseline <= 64);
    std::snprintf(measured, sizeof measured, "%.3f s", scroll);
    ReportResult("Scroll through 100,000 entries, offscreen", measured, "report", true);
    return wrong == 0 ? 0 : 1;
}
