// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/CommandSender.h"

#include <QDateTime>
#include <QTest>

// A command and its log record.
class TestCommandSender : public QObject
{
    Q_OBJECT

private slots:
    // The stamp's offset is the local time's own, written as +hh:mm.
    void stampLine()
    {
        const QDateTime sent(QDate(2026, 12, 8), QTime(18, 30, 1, 123), Qt::OffsetFromUTC, 3600);
        QCOMPARE(CCommandSender::StampLine(sent, 12.44, true),
                 QByteArray("# 2026-12-08T18:30:01.123+01:00 reply 12.4 ms\r\n"));
        const QDateTime west(QDate(2026, 1, 2), QTime(3, 4, 5, 6), Qt::OffsetFromUTC, -(9 * 3600 + 30 * 60));
        QCOMPARE(CCommandSender::StampLine(west, 0, false),
                 QByteArray("# 2026-01-02T03:04:05.006-09:30 no reply read\r\n"));
    }
};

QTEST_MAIN(TestCommandSender)
#include "tst_commandsender.moc"
