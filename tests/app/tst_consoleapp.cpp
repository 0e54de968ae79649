// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ConsoleApp.h"

#include <QTest>

#include <csignal>

class TestConsoleApp : public QObject
{
    Q_OBJECT

private slots:
    void socketsLayerIgnoresSigpipe()
    {
        QVERIFY(CConsoleApp::InitSockets());
        struct sigaction current = {};
        QCOMPARE(sigaction(SIGPIPE, nullptr, &current), 0);
        QVERIFY(current.sa_handler == SIG_IGN);
    }
};

QTEST_GUILESS_MAIN(TestConsoleApp)
#include "tst_consoleapp.moc"
