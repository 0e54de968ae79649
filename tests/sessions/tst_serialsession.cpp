// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/UiHooks.h"
#include "sessions/serial/PortHolders.h"
#include "sessions/ResourceParser.h"
#include "sessions/serial/SerialFinder.h"
#include "sessions/serial/SerialLock.h"
#include "sessions/serial/SerialSession.h"
#include "sessions/SessionTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

// The serial session against tallix-serial-instrument, which answers on a
// pseudo-terminal of its own and reports the line settings the session gave
// it. A pseudo-terminal keeps the rate, the stop bits and the flow control
// but always holds 8 data bits and no parity, and it has no modem lines, so
// those settings cannot be read back here.
namespace {

const QByteArray IDENTITY("KORVANE,TALLIX-SIM,SN0001,1.0");

class CSerialSim
{
public:
    ~CSerialSim() { Stop(); }

    // The port's path; empty when the simulator did not come up.
    QString Start(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-serial-instrument"), arguments);
        if (!m_process.waitForStarted(5000))
            return {};
        QByteArray output;
        while (!output.contains('\n') && m_process.waitForReadyRead(5000))
            output += m_process.readAllStandardOutput();
        return output.startsWith("pty ") ? QString::fromLocal8Bit(output.mid(4).trimmed()) : QString();
    }

    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool Finished(int ms)
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms);
    }

private:
    QProcess m_process;
};

CResource PathResource(const QString &path)
{
    CResource resource;
    QString error;
    ParseResource(QStringLiteral("ASRL%1::INSTR").arg(path), resource, error);
    return resource;
}

CSessionOptions Options(int timeoutMs = 2000, const CSerialOptions &serial = CSerialOptions())
{
    CSessionOptions options;
    options.ioTimeoutMs = timeoutMs;
    options.kinds.Set(serial);
    return options;
}

bool Query(CSession &session, const QByteArray &command, CReply &reply, QString &error)
{
    return session.Write(std::string_view(command.constData(), static_cast<std::size_t>(command.size())),
                         error) &&
           session.Read(reply, error);
}

// The settings line the simulator last wrote, once it has one that starts
// with `expected` (or after a few seconds, whatever it holds).
QString ReportedSettings(const QString &path, const QString &expected)
{
    QString text;
    for (int i = 0; i < 100; ++i) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            text = QString::fromLatin1(file.readAll()).trimmed();
        if (text.startsWith(expected))
            break;
        QThread::msleep(30);
    }
    return text;
}

// A session whose driver counts line errors as a test tells it to.
class CCountingSession : public CSerialSession
{
public:
    using CSerialSession::CSerialSession;
    LineErrors counts;

protected:
    bool ReadLineErrors(LineErrors &out) const override
    {
        out = counts;
        return true;
    }
};

} // namespace

Q_DECLARE_METATYPE(CSerialOptions)

class tst_SerialSession : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void devicePaths_data();
    void devicePaths();
    void settingsReachPort_data();
    void settingsReachPort();
    void replies_data();
    void replies();
    void failedReads_data();
    void failedReads();
    void lineErrors_data();
    void lineErrors();
    void initTestCase();
    void portHolders_data();
    void portHolders();
    void stopDuringSlowBlock_data();
    void stopDuringSlowBlock();
    void noPermission();
    void unplugged();
    void statusByteAndClear();
    void finds();
};

void tst_SerialSession::initTestCase()
{
    // Locks of the test's own, where no other program looks.
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("locks")));
    qputenv("TALLIX_LOCK_DIR", QFile::encodeName(m_dir.filePath(QStringLiteral("locks"))));
}

void tst_SerialSession::devicePaths_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QString>("path");
    QTest::newRow("ASRL1 is the first port") << "ASRL1::INSTR"
                                             << "/dev/ttyS0";
    QTest::newRow("ASRL4") << "ASRL4"
                           << "/dev/ttyS3";
    QTest::newRow("a device path whole") << "ASRL/dev/ttyUSB0::INSTR"
                                         << "/dev/ttyUSB0";
    QTest::newRow("a by-id name whole") << "ASRL/dev/serial/by-id/usb-FTDI_FT232R_A12-if00-port0::INSTR"
                                        << "/dev/serial/by-id/usb-FTDI_FT232R_A12-if00-port0";
    QTest::newRow("ASRL0 names none") << "ASRL0::INSTR" << QString();
}

void tst_SerialSession::devicePaths()
{
    QFETCH(QString, resource);
    QFETCH(QString, path);
    CResource parsed;
    QString error;
    QVERIFY2(ParseResource(resource, parsed, error), qPrintable(error));
    QCOMPARE(CSerialSession::DevicePathOf(parsed, error), path);
    if (path.isEmpty())
        QVERIFY2(error.contains(QLatin1String("ASRL1 is /dev/ttyS0")), qPrintable(error));
    // The table makes a serial session for every ASRL resource.
    std::unique_ptr<CSession> session = MakeSession(parsed, Options(), error);
    QVERIFY(dynamic_cast<CSerialSession *>(session.get()));
}

void tst_SerialSession::settingsReachPort_data()
{
    QTest::addColumn<CSerialOptions>("serial");
    QTest::addColumn<QString>("reported");
    CSerialOptions fast;
    fast.baud = 115200;
    fast.stopBits = 2;
    fast.flowControl = CSerialOptions::FLOW_RTS_CTS;
    CSerialOptions typed;
    typed.baud = 123456;
    typed.flowControl = CSerialOptions::FLOW_XON_XOFF;
    CSerialOptions slow;
    slow.baud = 300;
    slow.dataBits = 7;
    slow.parity = CSerialOptions::PARITY_EVEN;
    CSerialOptions wild;
    wild.baud = 7;
    wild.stopBits = 3;
    wild.flowControl = 9;
    QTest::newRow("defaults") << CSerialOptions() << "baud=9600 data=8 parity=none stop=1 flow=none";
    QTest::newRow("115200, 2 stop bits, RTS/CTS")
        << fast << "baud=115200 data=8 parity=none stop=2 flow=rtscts";
    QTest::newRow("a typed rate, XON/XOFF") << typed << "baud=123456 data=8 parity=none stop=1 flow=xonxoff";
    QTest::newRow("300 baud") << slow << "baud=300 ";
    QTest::newRow("out of range: defaults") << wild << "baud=9600 data=8 parity=none stop=1 flow=none";
}

void tst_SerialSession::settingsReachPort()
{
    QFETCH(CSerialOptions, serial);
    QFETCH(QString, reported);
    static int row = 0;
    const QString report = m_dir.filePath(QStringLiteral("settings-%1.txt").arg(++row));
    CSerialSim sim;
    const QString port = sim.Start({QStringLiteral("--report"), report});
    QVERIFY(!port.isEmpty());
    CSerialSession session(PathResource(port), Options(2000, serial));
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    const QString settings = ReportedSettings(report, reported);
    QVERIFY2(settings.startsWith(reported), qPrintable(settings));
    // And the port works with them.
    CReply reply;
    QVERIFY2(Query(session, "*IDN?\r\n", reply, error), qPrintable(error));
    QCOMPARE(reply.bytes, IDENTITY + '\n');
    QVERIFY2(session.TakeNotes().join(u' ').contains(QLatin1String("no modem lines")), "DTR/RTS note");
}

void tst_SerialSession::replies_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<int>("rule");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<QByteArray>("command");
    // Each reply in turn; a block reply as its payload's length.
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<qint64>("blockLength");
    QTest::addColumn<bool>("cut");

    const qint64 unbounded = DEFAULT_MAX_REPLY_BYTES;
    QTest::newRow("LF") << QStringList{"--line-end", "lf"} << int(CSerialOptions::END_LF) << unbounded
                        << QByteArray("*IDN?\r\n") << QList<QByteArray>{IDENTITY + "\n"} << qint64(-1)
                        << false;
    QTest::newRow("CR") << QStringList{"--line-end", "cr"} << int(CSerialOptions::END_CR) << unbounded
                        << QByteArray("*IDN?\r\n") << QList<QByteArray>{IDENTITY + "\r"} << qint64(-1)
                        << false;
    QTest::newRow("CR LF: a lone CR inside does not end it")
        << QStringList{"--line-end", "crlf"} << int(CSerialOptions::END_CR_LF) << unbounded
        << QByteArray("ECHO a\rb\r\n") << QList<QByteArray>{"a\rb\r\n"} << qint64(-1) << false;
    QTest::newRow("silence after a reply that ends with nothing")
        << QStringList{"--line-end", "none"} << int(CSerialOptions::END_SILENCE) << unbounded
        << QByteArray("*IDN?\r\n") << QList<QByteArray>{IDENTITY} << qint64(-1) << false;
    QTest::newRow("silence: pauses inside a definite block do not end it")
        << QStringList{"--line-end", "none", "--piece-bytes", "40000", "--pace-ms", "250"}
        << int(CSerialOptions::END_SILENCE) << unbounded << QByteArray("WAV:DATA? 100000\r\n")
        << QList<QByteArray>{} << qint64(100000) << false;
    QTest::newRow("LF: a block's payload holds LFs")
        << QStringList{"--line-end", "lf"} << int(CSerialOptions::END_LF) << unbounded
        << QByteArray("CURV?\r\n") << QList<QByteArray>{} << qint64(1048576) << false;
    QTest::newRow("two replies in one piece, each whole")
        << QStringList{"--line-end", "lf"} << int(CSerialOptions::END_LF) << unbounded
        << QByteArray("*IDN?\r\nMEAS:VOLT?\r\n") << QList<QByteArray>{IDENTITY + "\n", "1.250\n"}
        << qint64(-1) << false;
    QTest::newRow("past the bound: read to its end, its start kept")
        << QStringList{"--line-end", "lf", "--piece-bytes", "1000", "--pace-ms", "5"}
        << int(CSerialOptions::END_LF) << qint64(1000) << QByteArray("DATA? 20000\r\n") << QList<QByteArray>{}
        << qint64(-1) << true;
}

void tst_SerialSession::replies()
{
    QFETCH(QStringList, simulator);
    QFETCH(int, rule);
    QFETCH(qint64, maxBytes);
    QFETCH(QByteArray, command);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(qint64, blockLength);
    QFETCH(bool, cut);
    CSerialSim sim;
    const QString port = sim.Start(simulator);
    QVERIFY(!port.isEmpty());
    CSerialOptions serial;
    serial.baud = 115200;
    serial.replyEnd = rule;
    serial.silenceMs = 100;
    CSessionOptions options = Options(2000, serial);
    options.maxReplyBytes = maxBytes;
    CSerialSession session(PathResource(port), options);
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    CReply reply;
    QVERIFY2(Query(session, command, reply, error), qPrintable(error));
    if (blockLength >= 0) {
        QVERIFY(reply.block);
        QCOMPARE(reply.payloadLength, blockLength);
        QCOMPARE(reply.Payload().size(), blockLength);
    } else if (cut) {
        QVERIFY(reply.cut);
        QCOMPARE(reply.total, qint64(20000));
        QCOMPARE(reply.bytes.size(), maxBytes);
    } else {
        QCOMPARE(reply.bytes, replies.first());
        for (qsizetype i = 1; i < replies.size(); ++i) {
            QVERIFY2(session.Read(reply, error), qPrintable(error));
            QCOMPARE(reply.bytes, replies[i]);
        }
    }
    // Nothing of it is left to be taken for the next reply.
    if (rule == CSerialOptions::END_LF) {
        QVERIFY2(Query(session, "MEAS:VOLT?\r\n", reply, error), qPrintable(error));
        QCOMPARE(reply.bytes, QByteArray("1.250\n"));
    }
}

void tst_SerialSession::failedReads_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<int>("baud");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QStringList>("errorSays");
    QTest::addColumn<bool>("garbled");

    QTest::newRow("no reply to a command") << QStringList() << 9600 << QByteArray("*CLS\r\n")
                                           << QStringList{"No reply", "within 300 ms", "9,600 baud"} << false;
    QTest::newRow("the instrument is set to another rate")
        << QStringList{"--baud", "19200"} << 9600 << QByteArray("*IDN?\r\n")
        << QStringList{"No reply", "match the instrument's"} << true;
    QTest::newRow("its line end never comes")
        << QStringList{"--line-end", "none"} << 9600 << QByteArray("*IDN?\r\n")
        << QStringList{"broke off after 29 bytes", "line end never came"} << false;
}

void tst_SerialSession::failedReads()
{
    QFETCH(QStringList, simulator);
    QFETCH(int, baud);
    QFETCH(QByteArray, command);
    QFETCH(QStringList, errorSays);
    QFETCH(bool, garbled);
    static int row = 0;
    const QString report = m_dir.filePath(QStringLiteral("failed-%1.txt").arg(++row));
    CSerialSim sim;
    const QString port = sim.Start(simulator + QStringList{QStringLiteral("--report"), report});
    QVERIFY(!port.isEmpty());
    CSerialOptions serial;
    serial.baud = baud;
    CSerialSession session(PathResource(port), Options(300, serial));
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    CReply reply;
    QVERIFY(!Query(session, command, reply, error));
    for (const QString &part : errorSays)
        QVERIFY2(error.contains(part), qPrintable(error));
    QVERIFY(session.IsOpen());
    if (garbled)
        QVERIFY(!ReportedSettings(report, QStringLiteral("baud=9600")).endsWith(QLatin1String("garbled=0")));
    if (simulator.contains(QLatin1String("--baud")) || simulator.contains(QLatin1String("none")))
        return;
    // What came late of the failed reply is not read as the next one.
    QVERIFY2(Query(session, "MEAS:VOLT?\r\n", reply, error), qPrintable(error));
    QCOMPARE(reply.bytes, QByteArray("1.250\n"));
}

void tst_SerialSession::lineErrors_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("says");
    QTest::newRow("framing")
        << 0 << "framing errors: its settings (9,600 baud, 8 data bits, no parity, 1 stop bit)";
    QTest::newRow("parity") << 1 << "parity errors";
    QTest::newRow("overrun") << 2 << "lost bytes of the reply (overrun)";
    QTest::newRow("break") << 3 << "saw a break";
}

void tst_SerialSession::lineErrors()
{
    QFETCH(int, which);
    QFETCH(QString, says);
    CSerialSim sim;
    const QString port = sim.Start({QStringLiteral("--piece-bytes"), QStringLiteral("100"),
                                    QStringLiteral("--pace-ms"), QStringLiteral("20")});
    QVERIFY(!port.isEmpty());
    CCountingSession session(PathResource(port), Options());
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    CReply reply;
    QVERIFY2(Query(session, "*IDN?\r\n", reply, error), qPrintable(error));
    int *counts[] = {&session.counts.frame, &session.counts.parity, &session.counts.overrun,
                     &session.counts.brk};
    ++*counts[which];
    QVERIFY(!Query(session, "DATA? 3000\r\n", reply, error));
    QVERIFY2(error.contains(says), qPrintable(error));
    // The damaged reply was flushed: the next one is whole.
    QVERIFY2(Query(session, "MEAS:VOLT?\r\n", reply, error), qPrintable(error));
    QCOMPARE(reply.bytes, QByteArray("1.250\n"));
}

void tst_SerialSession::portHolders_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("opens");
    // In the error (%1 the port, %2 the holder's process id, %3 the lock
    // file), or in the notes; empty: no note names another program.
    QTest::addColumn<QString>("says");
    QTest::newRow("another session of ours")
        << "session" << false << "Another program has the serial port %1 open (";
    QTest::newRow("a live process holds its lock")
        << "lock" << false
        << "Another program has the serial port %1 open (sleep, process %2): close it, then try again. If "
           "it no longer uses the port, remove its lock file %3.";
    QTest::newRow("a stale lock is taken over") << "stale" << true << QString();
    QTest::newRow("a program that merely has it open is noted")
        << "opener" << true << "Another program also has the serial port %1 open (sleep, process %2).";
    QTest::newRow("the pair's creator keeps this end open too") << "creator" << true << QString();
    QTest::newRow("one end of a socat pair") << "socat" << true << QString();
}

void tst_SerialSession::portHolders()
{
    QFETCH(QString, holder);
    QFETCH(bool, opens);
    QFETCH(QString, says);
    CSerialSim sim;
    QProcess other;
    const auto stopOther = qScopeGuard([&other] {
        other.kill();
        other.waitForFinished();
    });
    QString port;
    if (holder == QLatin1String("socat")) {
        const QString a = m_dir.filePath(QStringLiteral("socat-a"));
        port = m_dir.filePath(QStringLiteral("socat-b"));
        other.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=") + a,
                                              QStringLiteral("pty,raw,echo=0,link=") + port});
        if (!other.waitForStarted())
            QSKIP("needs socat (scripts/install-deps)");
        QTRY_VERIFY(QFileInfo::exists(a) && QFileInfo::exists(port));
        QVERIFY(!sim.Start({QStringLiteral("--port"), a}).isEmpty());
    } else {
        port = sim.Start(holder == QLatin1String("creator") ? QStringList{QStringLiteral("--hold-slave")}
                                                            : QStringList());
    }
    QVERIFY(!port.isEmpty());
    const QString lock = CSerialLock::PathFor(port);
    CSerialSession first(PathResource(port), Options());
    QString error;
    qint64 pid = ::getpid();
    if (holder == QLatin1String("session")) {
        QVERIFY2(first.Open(error), qPrintable(error));
    } else if (holder == QLatin1String("lock") || holder == QLatin1String("stale") ||
               holder == QLatin1String("opener")) {
        other.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), holder == QLatin1String("opener")
                                               ? QStringLiteral("exec sleep 30 <>%1").arg(port)
                                               : QStringLiteral("exec sleep 30")});
        QVERIFY(other.waitForStarted());
        pid = other.processId();
        QTRY_COMPARE(ProcessName(pid), QStringLiteral("sleep"));
        if (holder == QLatin1String("stale")) {
            other.kill();
            QVERIFY(other.waitForFinished());
        }
        if (holder != QLatin1String("opener")) {
            QFile file(lock);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QStringLiteral("%1\n").arg(pid, 10).toLatin1());
        }
    }
    const QString expected = QString(says)
                                 .replace(QLatin1String("%1"), port)
                                 .replace(QLatin1String("%2"), QString::number(pid))
                                 .replace(QLatin1String("%3"), lock);
    CSerialSession session(PathResource(port), Options());
    const bool opened = session.Open(error);
    if (!opens) {
        QVERIFY2(!opened, "opened");
        QVERIFY2(error.contains(expected), qPrintable(error));
        return;
    }
    QVERIFY2(opened, qPrintable(error));
    const QString notes = session.TakeNotes().join(u'\n');
    if (says.isEmpty())
        QVERIFY2(!notes.contains(QLatin1String("also has")), qPrintable(notes));
    else
        QVERIFY2(notes.contains(expected), qPrintable(notes));
    CReply reply;
    QVERIFY2(Query(session, "*IDN?\r\n", reply, error), qPrintable(error));
    QCOMPARE(reply.bytes, IDENTITY + '\n');
    // Tallix holds the lock while it has the port, as the others would.
    QFile file(lock);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QStringLiteral("%1\n").arg(::getpid(), 10).toLatin1());
    session.Close();
    QVERIFY(!QFileInfo::exists(lock));
}

void tst_SerialSession::stopDuringSlowBlock_data()
{
    QTest::addColumn<int>("blockBytes");
    QTest::addColumn<QByteArray>("next");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("stopWaitToo");
    // Most of the block still to come after the Stop, longer than any fixed
    // drain would wait.
    QTest::newRow("the next command waits for the block's end")
        << 4000 << QByteArray("SYST:ERR?\r\n") << QByteArray("0,\"No error\"\n") << false;
    QTest::newRow("that wait stopped too: the command after it is clean")
        << 1500 << QByteArray("*IDN?\r\n") << IDENTITY + '\n'
        << true;
}

void tst_SerialSession::stopDuringSlowBlock()
{
    QFETCH(int, blockBytes);
    QFETCH(QByteArray, next);
    QFETCH(QByteArray, answer);
    QFETCH(bool, stopWaitToo);
    CSerialSim sim;
    // At 9,600 baud the line carries 960 bytes a second.
    const QString port = sim.Start({QStringLiteral("--line-rate")});
    QVERIFY(!port.isEmpty());
    CSerialOptions serial;
    serial.silenceMs = 100;
    CUiHooks hooks;
    bool stop = false;
    bool stopWait = false;
    QElapsedTimer stopped;
    hooks.pulse = [&](const CProgress &progress) {
        const bool now =
            progress.kind == CProgress::Kind::Reply ? progress.done >= 500 : stopWait && progress.done >= 200;
        if (!stop && now) {
            stop = true;
            stopped.start();
        }
        return !stop;
    };
    CSessionOptions options = Options(10000, serial);
    options.hooks = &hooks;
    CSerialSession session(PathResource(port), options);
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    CReply reply;
    QVERIFY(!Query(session, QStringLiteral("WAV:DATA? %1\r\n").arg(blockBytes).toLatin1(), reply, error));
    QVERIFY2(error.contains(QLatin1String("was stopped after")), qPrintable(error));
    QVERIFY2(stopped.elapsed() < 1000, qPrintable(QString::number(stopped.elapsed())));
    if (stopWaitToo) {
        stop = false;
        stopWait = true;
        QVERIFY(!Query(session, next, reply, error));
        QVERIFY2(error.contains(QLatin1String("Stopped while")), qPrintable(error));
        QVERIFY2(stopped.elapsed() < 1000, qPrintable(QString::number(stopped.elapsed())));
        stopWait = false;
    }
    stop = false;
    QVERIFY2(Query(session, next, reply, error), qPrintable(error));
    QCOMPARE(reply.bytes, answer);
}

void tst_SerialSession::noPermission()
{
    CSerialSim sim;
    const QString port = sim.Start({});
    QVERIFY(!port.isEmpty());
    // The pseudo-terminal is its owner's and its group's; as root the
    // session is opened by a child that has given root up.
    QProcess child;
    const QString self = QCoreApplication::applicationFilePath();
    if (geteuid() == 0)
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                     QStringLiteral("--clear-groups"), self, QStringLiteral("--open-serial"), port});
    else
        child.start(self, {QStringLiteral("--open-serial"), port});
    QVERIFY(child.waitForFinished(20000));
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
    if (out.isEmpty())
        QSKIP(qPrintable(QStringLiteral("the test program could not run as another user here: ") +
                         QString::fromLocal8Bit(child.readAllStandardError()).trimmed()));
    if (geteuid() != 0 && out == QLatin1String("opened"))
        QSKIP("this user may open the simulator's pseudo-terminal");
    QVERIFY2(out.startsWith(QStringLiteral("Tallix may not use the serial port %1").arg(port)),
             qPrintable(out));
    const QString group = QFileInfo(port).group();
    QVERIFY2(out.contains(QStringLiteral("belongs to the group %1").arg(group)), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("sudo usermod -aG %1 $USER, then log in again").arg(group)),
             qPrintable(out));
}

void tst_SerialSession::unplugged()
{
    CSerialSim sim;
    const QString port = sim.Start({});
    QVERIFY(!port.isEmpty());
    CSerialSession session(PathResource(port), Options(5000));
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    CReply reply;
    QVERIFY(!Query(session, "TEST:VANISH? 50\r\n", reply, error));
    QCOMPARE(reply.bytes, QByteArray(50, '7'));
    QVERIFY2(
        error.contains(QStringLiteral("The serial port %1 went away after 50 bytes of the reply").arg(port)),
        qPrintable(error));
    QVERIFY2(error.contains(QLatin1String("Plug it in")), qPrintable(error));
    QVERIFY(!session.IsOpen());
    QVERIFY(sim.Finished(5000));
}

void tst_SerialSession::statusByteAndClear()
{
    CSerialSim sim;
    const QString port = sim.Start({QStringLiteral("--piece-bytes"), QStringLiteral("1000"),
                                    QStringLiteral("--pace-ms"), QStringLiteral("10")});
    QVERIFY(!port.isEmpty());
    CSerialSession session(PathResource(port), Options(300));
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    std::uint8_t status = 0x5A;
    QVERIFY(!session.ReadStatusByte(status, error));
    QVERIFY2(error.contains(QLatin1String("*STB?")), qPrintable(error));
    QCOMPARE(status, std::uint8_t(0x5A));
    session.TakeNotes();

    const QByteArray query("DATA? 8000\r\n");
    QVERIFY(session.Write(std::string_view(query.constData(), std::size_t(query.size())), error));
    QThread::msleep(100);
    QVERIFY2(session.Clear(error), qPrintable(error));
    const QStringList notes = session.TakeNotes();
    QCOMPARE(notes.size(), 1);
    QVERIFY2(notes.first().contains(QLatin1String("sent nothing")), qPrintable(notes.first()));
    QVERIFY2(notes.first().contains(QLatin1String("discarded 8,000 bytes")), qPrintable(notes.first()));
    CReply reply;
    QVERIFY(!session.Read(reply, error));
    QVERIFY2(error.contains(QLatin1String("No reply")), qPrintable(error));
}

void tst_SerialSession::finds()
{
    CSerialSim sim;
    const QString link = m_dir.filePath(QStringLiteral("instrument"));
    const QString port = sim.Start({QStringLiteral("--link"), link});
    QVERIFY(!port.isEmpty());
    qputenv("TALLIX_SERIAL_PORTS", QFile::encodeName(QStringLiteral("/nonexistent/port:") + link));
    std::unique_ptr<CFinder> finder;
    for (const CSessionRow &row : SessionTable())
        if (QLatin1String(row.interfaceName) == QLatin1String("ASRL") && row.makeFinder)
            finder = row.makeFinder();
    QVERIFY(finder);
    QList<CFoundResource> found;
    std::atomic<bool> cancelled{false};
    finder->Find([&](const CFoundResource &one) { found << one; }, cancelled);
    qunsetenv("TALLIX_SERIAL_PORTS");
    const QString wanted = QStringLiteral("ASRL%1::INSTR").arg(link);
    const auto it = std::find_if(found.begin(), found.end(),
                                 [&](const CFoundResource &one) { return one.resource == wanted; });
    QVERIFY2(it != found.end(), qPrintable(wanted));
    QVERIFY2(it->description.contains(port), qPrintable(it->description));
    for (const CFoundResource &one : found) {
        QVERIFY2(!one.mayAskIdentity, qPrintable(one.resource));
        QVERIFY2(!one.resource.contains(QLatin1String("nonexistent")), qPrintable(one.resource));
    }
    // What was found opens.
    CResource resource;
    QString error;
    QVERIFY2(ParseResource(it->resource, resource, error), qPrintable(error));
    std::unique_ptr<CSession> session = MakeSession(resource, Options(), error);
    QVERIFY(session);
    QVERIFY2(session->Open(error), qPrintable(error));
    CReply reply;
    QVERIFY2(Query(*session, "*IDN?\r\n", reply, error), qPrintable(error));
    QCOMPARE(reply.bytes, IDENTITY + '\n');
}

// "--open-serial PATH": opens the port once and prints "opened" or why not,
// for the case that must run as another user.
int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--open-serial") == 0) {
        QCoreApplication app(argc, argv);
        CSerialSession session(PathResource(QString::fromLocal8Bit(argv[2])), Options());
        QString error;
        std::printf("%s\n", session.Open(error) ? "opened" : qPrintable(error));
        return 0;
    }
    QCoreApplication app(argc, argv);
    tst_SerialSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serialsession.moc"
