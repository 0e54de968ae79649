// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/FindDlg.h"
#include "tests/work/ListFinder.h"
#include "tests/work/TricklingPeer.h"
#include "work/IdentityQuery.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <mutex>
#include <system_error>

namespace {

// How many fake queries run at once, at most, and how many there were.
struct CConcurrency
{
    std::mutex lock;
    int now = 0;
    int peak = 0;
    int total = 0;
};

std::function<QString(const QString &, const CLinkOptions &, const CIdentityQuery &)>
CountingQuery(std::shared_ptr<CConcurrency> count)
{
    return [count](const QString &resource, const CLinkOptions &, const CIdentityQuery &) {
        {
            std::lock_guard lock(count->lock);
            count->peak = std::max(count->peak, ++count->now);
            ++count->total;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::lock_guard lock(count->lock);
        --count->now;
        return QStringLiteral("FAKE,") + resource;
    };
}

QStringList Column(const QTreeWidget *list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

bool Done(const CFindDlg &dialog)
{
    return dialog.findChild<QLabel *>(QStringLiteral("state"))->text().endsWith(QLatin1String("found."));
}

} // namespace

// Find against peers that do their worst: one that trickles its reply, more
// than the list can hold, a system that refuses threads.
class TestFindDlg : public QObject
{
    Q_OBJECT

private slots:
    // Whatever ends the dialog returns at once while an instrument trickles
    // its identity (the target is 0.5 s; bench_find measures it).
    void letsGoAtOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << QStringLiteral("cancel");
        QTest::newRow("OK") << QStringLiteral("ok");
        QTest::newRow("double click") << QStringLiteral("double click");
        QTest::newRow("close") << QStringLiteral("close");
    }

    void letsGoAtOnce()
    {
        QFETCH(QString, how);
        CTricklingPeer peer(200);
        QVERIFY(peer.Listening());
        CSearchParts parts;
        parts.finders = CListFinder::Only({peer.Resource()});
        QElapsedTimer clock;
        QString chosen;
        {
            CFindDlg dialog(CLinkOptions(), nullptr, parts);
            dialog.show();
            auto *list = dialog.findChild<QTreeWidget *>(QStringLiteral("instruments"));
            auto *buttons = dialog.findChild<QDialogButtonBox *>();
            QTRY_VERIFY(list->topLevelItemCount() == 1 && peer.BytesSent() >= 2);
            clock.start();
            if (how == QLatin1String("cancel")) {
                buttons->button(QDialogButtonBox::Cancel)->click();
            } else if (how == QLatin1String("ok")) {
                QVERIFY(buttons->button(QDialogButtonBox::Ok)->isEnabled());
                buttons->button(QDialogButtonBox::Ok)->click();
            } else if (how == QLatin1String("double click")) {
                emit list->itemDoubleClicked(list->topLevelItem(0), 0);
            } else {
                dialog.close();
            }
            QVERIFY(!dialog.isVisible());
            chosen = dialog.ChosenResource();
        }
        const qint64 ms = clock.elapsed();
        QVERIFY2(ms < 2000, qPrintable(QStringLiteral("%1 took %2 ms").arg(how).arg(ms)));
        QCOMPARE(chosen, how == QLatin1String("ok") || how == QLatin1String("double click") ? peer.Resource()
                                                                                            : QString());
    }

    // At most sixteen queries at a time, at most 256 rows, and a last line
    // that counts the rest.
    void manyAnswers_data()
    {
        QTest::addColumn<int>("answers");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("3,000") << 3000 << QStringLiteral("\u2026 and 2,744 more answered");
        QTest::newRow("257") << 257 << QStringLiteral("\u2026 and 1 more answered");
        QTest::newRow("256") << 256 << QString();
    }

    void manyAnswers()
    {
        QFETCH(int, answers);
        QFETCH(QString, lastLine);
        QStringList resources;
        for (int i = 0; i < answers; ++i)
            resources << QStringLiteral("TCPIP::10.0.%1.%2::INSTR").arg(i / 250).arg(i % 250 + 1);
        auto count = std::make_shared<CConcurrency>();
        CSearchParts parts;
        parts.finders = CListFinder::Only(resources);
        parts.askIdentity = CountingQuery(count);
        CFindDlg dialog(CLinkOptions(), nullptr, parts);
        auto *list = dialog.findChild<QTreeWidget *>(QStringLiteral("instruments"));
        QTRY_VERIFY_WITH_TIMEOUT(Done(dialog), 20000);
        const int rows = list->topLevelItemCount();
        QCOMPARE(rows, lastLine.isEmpty() ? 256 : 257);
        QCOMPARE(list->topLevelItem(rows - 1)->text(CFindDlg::RESOURCE),
                 lastLine.isEmpty() ? resources.last() : lastLine);
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("state"))->text(),
                 QStringLiteral("256 instruments found."));
        // Sorted the other way, the line stays last.
        list->sortByColumn(CFindDlg::RESOURCE, Qt::DescendingOrder);
        if (!lastLine.isEmpty())
            QCOMPARE(list->topLevelItem(rows - 1)->text(CFindDlg::RESOURCE), lastLine);
        for (int i = 0; i < 256; ++i)
            QCOMPARE(list->topLevelItem(i)->text(CFindDlg::IDENTITY),
                     QStringLiteral("FAKE,") + list->topLevelItem(i)->text(CFindDlg::RESOURCE));
        std::lock_guard lock(count->lock);
        QCOMPARE(count->total, 256);
        QVERIFY2(count->peak <= CInstrumentSearch::MAX_QUERIES, qPrintable(QString::number(count->peak)));
    }

    // A thread the system refuses is a line in the list, never the end of
    // the program.
    void threadRefused_data()
    {
        QTest::addColumn<QList<int>>("refused"); // which starts fail, counted from 0
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QString>("note");
        const QString why =
            QString::fromStdString(std::make_error_code(std::errc::resource_unavailable_try_again).message());
        QTest::newRow("the finder's")
            << QList<int>{0} << QString()
            << QStringLiteral("Could not start a thread to search fake instruments: ") + why;
        QList<int> everyQuery;
        for (int i = 1; i < 20; ++i)
            everyQuery << i;
        QTest::newRow("every query's")
            << everyQuery << QStringLiteral("(not asked: ") + why + QLatin1Char(')')
            << QStringLiteral("Could not start a thread to ask the instruments found: ") + why;
        QTest::newRow("one query's of two")
            << QList<int>{2} << QStringLiteral("FAKE")
            << QStringLiteral("Could not start a thread to ask the instruments found: ") + why;
    }

    void threadRefused()
    {
        QFETCH(QList<int>, refused);
        QFETCH(QString, identity);
        QFETCH(QString, note);
        const QStringList resources{QStringLiteral("TCPIP::10.0.0.1::INSTR"),
                                    QStringLiteral("TCPIP::10.0.0.2::INSTR"),
                                    QStringLiteral("TCPIP::10.0.0.3::INSTR")};
        auto starts = std::make_shared<std::atomic<int>>(0);
        auto count = std::make_shared<CConcurrency>();
        CSearchParts parts;
        parts.finders = CListFinder::Only(resources);
        parts.askIdentity = CountingQuery(count);
        parts.startThread = [starts, refused](std::function<void()> work) {
            if (refused.contains((*starts)++))
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            std::thread(std::move(work)).detach();
        };
        CFindDlg dialog(CLinkOptions(), nullptr, parts);
        auto *list = dialog.findChild<QTreeWidget *>(QStringLiteral("instruments"));
        QTRY_VERIFY_WITH_TIMEOUT(Done(dialog), 10000);
        QStringList expected = identity.isEmpty() ? QStringList() : resources;
        expected.append(note);
        QTRY_COMPARE(Column(list, CFindDlg::RESOURCE), expected);
        for (int i = 0; i < list->topLevelItemCount() - 1; ++i)
            QTRY_VERIFY(list->topLevelItem(i)->text(CFindDlg::IDENTITY).startsWith(identity));
    }
};

QTEST_MAIN(TestFindDlg)
#include "tst_finddlg.moc"
