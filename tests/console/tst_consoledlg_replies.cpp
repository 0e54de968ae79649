// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/IpAddressCtrl.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/links/LinkAccess.h"
#include "tests/links/TcpTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QImage>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace consoletest;
using tcptest::CServer;

namespace {

constexpr int ADDRESS_RANGE = 9;

// The reply as the log holds it: the record's pieces without their ">"
// markers. Every piece runs up to and including its LF, so this gives back
// every byte of a reply that ends in its LF.
QByteArray LoggedReply(const QByteArray &record)
{
    QByteArray reply;
    qsizetype at = 0;
    while (at < record.size()) {
        if (record[at] != '>')
            return QByteArray("(not a piece at ") + QByteArray::number(at) + ")";
        const qsizetype lf = record.indexOf('\n', at + 1);
        const qsizetype end = lf < 0 ? record.size() : lf + 1;
        reply += record.mid(at + 1, end - at - 1);
        at = end;
    }
    return reply;
}

} // namespace

// Replies as a user meets them in the window, from a plain SCPI instrument on
// a raw socket ("Ask for each reply" off): each read once, whole, shown or
// summed up, logged byte for byte, and saved.
class TestConsoleDlgReplies : public QObject
{
    Q_OBJECT

private:
    QString m_address;
    tcptest::CServer m_server;
    QTemporaryDir m_dir;

    // A window on the SCPI instrument, with Read ticked.
    std::unique_ptr<Window> ScpiWindow(int replyTimeoutMs = 10000)
    {
        ClearSettings();
        Store(QStringLiteral("TCPIP/Port"), 5025);
        Store(QStringLiteral("TCPIP/RequestLine"), 0);
        Store(QStringLiteral("TCPIP/ReplyTimeoutMs"), replyTimeoutMs);
        auto w = std::make_unique<Window>();
        w->control<QRadioButton>(IDC_LINK_TCPIP)->click();
        w->control<CIpAddressCtrl>(IDC_IP_ADDRESS)->SetAddress(tcptest::AddressNumber(m_address));
        w->control<QCheckBox>(IDC_READ_AFTER_SEND)->setChecked(true);
        return w;
    }

    static QString Send(Window &w, const QString &command)
    {
        w.control<QComboBox>(IDC_COMMAND)->setEditText(command);
        w->OnSend();
        return w.control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText();
    }

    // What the simulated instrument answers to `query`, as its --dump gives
    // it.
    QByteArray Dump(const QString &query)
    {
        const QString path = m_dir.filePath(QStringLiteral("dump.bin"));
        QProcess::execute(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-instrument-server"),
                          {QStringLiteral("--dump"), query, path});
        return tcptest::ReadFile(path);
    }

private slots:
    void initTestCase()
    {
        UseTestSettings();
        m_address = tcptest::NextAddress(ADDRESS_RANGE);
        START_SERVER(m_server, m_address, QStringLiteral("--port"), QStringLiteral("5025"),
                     QStringLiteral("--scpi"));
    }

    // With a log open and Read ticked, the reply that the log took is the
    // one shown: the instrument, which sends it once, is not read again
    // (that second read waited out the time-out and dropped the connection).
    // A line that asks nothing is not waited for, nor is Status.
    void readOncePerSend_data()
    {
        QTest::addColumn<bool>("logged");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("record");
        const QString identity = QString::fromLatin1(tcptest::IDENTITY.chopped(2)) + "\n";
        QTest::newRow("query, logged")
            << true << "*IDN?" << identity << QByteArray("*IDN?\r\n>" + tcptest::IDENTITY.chopped(2) + "\n");
        QTest::newRow("no query, logged") << true << "*RST" << QString() << QByteArray("*RST\r\n");
        QTest::newRow("no query") << false << "*RST" << QString() << QByteArray();
        QTest::newRow("Status") << false << "STATUS" << QString() << QByteArray();
    }

    void readOncePerSend()
    {
        QFETCH(bool, logged);
        QFETCH(QString, command);
        QFETCH(QString, shown);
        QFETCH(QByteArray, record);
        auto w = ScpiWindow(3000);
        const QString logPath = m_dir.filePath(QStringLiteral("once.log"));
        QFile::remove(logPath);
        if (logged)
            QVERIFY((*w)->Files().m_logFile.Open(logPath));
        if (command == QLatin1String("STATUS"))
            (*w)->OnStatus();
        else
            Send(*w, command);
        // A second read would have waited out the time-out, said so, and
        // dropped the connection.
        QCOMPARE(w->control<QPlainTextEdit>(IDC_RESPONSE)->toPlainText(), shown);
        QCOMPARE(w->messages, QStringList());
        QVERIFY(Tcp((*w)->Links()).HasSocket());
        // The connection is in step: the next query gets its own reply.
        (*w)->Files().m_logFile.Close();
        QCOMPARE(Send(*w, QStringLiteral("SYST:ERR?")), QStringLiteral("0,\"No error\"\n"));
        if (logged)
            QCOMPARE(tcptest::ReadFile(logPath), record);
    }
};

QTEST_MAIN(TestConsoleDlgReplies)
#include "tst_consoledlg_replies.moc"
