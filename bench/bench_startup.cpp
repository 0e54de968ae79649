// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up time: from process start to the first painted window, for the
// console and for a bare dialog with the same controls, median of 10 runs each.
// Each run is a fresh process (this program, started again with --child);
// the child reports the moment of its first paint on the monotonic clock.
#include "BenchResult.h"
#include "BenchSupport.h"
#include "app/ConsoleApp.h"
#include "timing/Delay.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double MonotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

class PaintWatch : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::printf("painted %.3f\n", MonotonicMs());
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, []() { QCoreApplication::exit(0); });
        }
        return false;
    }
    bool m_done = false;
};

// The same controls, without any of the console's logic.
QDialog *BareDialog()
{
    auto *d = new QDialog;
    new QPushButton(QStringLiteral("Send"), d);
    auto *combo = new QComboBox(d);
    combo->setEditable(true);
    new QCheckBox(QStringLiteral("Read"), d);
    for (const char *t : {"Read", "Status", "Serial Poll", "Open File", "Exit", "Send File"})
        new QPushButton(QString::fromLatin1(t), d);
    new QLineEdit(d);
    new QLineEdit(d);
    new QLabel(QStringLiteral("GPIB Address:"), d);
    new QLabel(d);
    new QLabel(d);
    new QPlainTextEdit(d);
    for (const char *t :
         {"Zemra Automation", "Ordal.dll", "Remote GPIB", "Lumec.dll", "TCP/IP", "VISA Resource"})
        new QRadioButton(QString::fromLatin1(t), d);
    for (int i = 0; i < 4; ++i)
        new QLineEdit(d);
    new QLabel(QStringLiteral("Resource:"), d);
    auto *resource = new QComboBox(d);
    resource->setEditable(true);
    new QPushButton(QStringLiteral("&Find..."), d);
    (new QProgressBar(d))->hide();
    (new QPushButton(QStringLiteral("&Stop"), d))->hide();
    d->resize(592, 426);
    return d;
}

int Child(int argc, char **argv, bool console)
{
    if (console)
        StartDelayCalibration(); // where the program starts it, before Qt
    QApplication app(argc, argv);
    PaintWatch watch;
    app.installEventFilter(&watch);
    if (console) {
        // As the program starts: the application object runs the window.
        CConsoleApp theApp;
        theApp.InitInstance();
        return 0;
    }
    QDialog *dlg = BareDialog();
    dlg->show();
    const int rc = app.exec();
    delete dlg;
    return rc;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 2 && std::string(argv[1]) == "--child")
        return Child(argc, argv, std::string(argv[2]) == "console");

    QCoreApplication app(argc, argv);
    QTemporaryDir config; // a first run: no stored settings
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    if (!env.contains(QStringLiteral("DISPLAY")) && !env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    std::printf("start-up to first paint, platform %s, median of 10 runs\n",
                qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"))));

    // The two take turns, so that a machine that drifts between runs (a
    // core's clock, the page cache, another process) weighs on both alike.
    const char *kinds[2] = {"bare", "console"};
    std::vector<double> runs[2];
    for (int i = 0; i < 10; ++i) {
        for (int k = 0; k < 2; ++k) {
            QProcess child;
            child.setProcessEnvironment(env);
            const double t0 = MonotonicMs();
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--child"), QString::fromLatin1(kinds[k])});
            child.waitForFinished(30000);
            const QByteArray out = child.readAllStandardOutput();
            const qsizetype at = out.indexOf("painted ");
            if (at < 0) {
                std::fprintf(stderr, "child %s did not paint: %s\n", kinds[k],
                             child.readAllStandardError().constData());
                return 1;
            }
            runs[k].push_back(out.mid(at + 8).trimmed().toDouble() - t0);
        }
    }
    double medians[2] = {};
    for (int k = 0; k < 2; ++k) {
        medians[k] = Median(runs[k]);
        std::printf("%-8s median %8.1f ms (min %.1f, max %.1f)\n", kinds[k], medians[k],
                    *std::min_element(runs[k].begin(), runs[k].end()),
                    *std::max_element(runs[k].begin(), runs[k].end()));
    }
    std::printf("ratio console/bare %.3f (target <= 1.10)\n", medians[1] / medians[0]);
    ReportRatio("start-up to first paint, console/bare dialog", medians[1] / medians[0], 1.10, false);
    return 0;
}
