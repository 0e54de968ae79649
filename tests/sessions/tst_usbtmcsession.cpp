// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/UiHooks.h"
#include "sessions/SessionTable.h"
#include "sessions/usbtmc/UsbtmcDevice.h"
#include "sessions/usbtmc/UsbtmcFinder.h"
#include "sessions/usbtmc/UsbtmcSession.h"
#include "tests/sessions/StopHooks.h"
#include "tests/sim/InstrumentReplies.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

// The USB session and its search against the simulated usbtmc driver, which
// the test's environment preloads (libtallix-usbtmc-sim.so): the simulator
// is tuned through its TALLIX_SIM_USBTMC_ variables between the cases.
namespace {

constexpr const char *KNOB_PREFIX = "TALLIX_SIM_USBTMC_";
const QByteArray IDENTITY("KORVANE,TALLIX-SIM,SN0001,1.0\r\n");
const QByteArray VOLTS("1.250\r\n");

void ClearKnobs()
{
    const QStringList names = QProcessEnvironment::systemEnvironment().keys();
    for (const QString &name : names)
        if (name.startsWith(QLatin1String(KNOB_PREFIX)))
            qunsetenv(name.toLatin1().constData());
}

// "NAME=value" for each knob a case sets.
void SetKnobs(const QStringList &knobs)
{
    for (const QString &knob : knobs) {
        const qsizetype at = knob.indexOf(QLatin1Char('='));
        qputenv((QLatin1String(KNOB_PREFIX) + knob.left(at)).toLatin1(), knob.mid(at + 1).toLocal8Bit());
    }
}

CResource UsbResource(int vendor, int product, const QString &serial, int usbInterface = -1)
{
    CResource resource;
    resource.interfaceName = QStringLiteral("USB");
    resource.resourceClass = ResourceClass::Instr;
    resource.vendor = static_cast<std::uint16_t>(vendor);
    resource.product = static_cast<std::uint16_t>(product);
    resource.serial = serial;
    resource.usbInterface = usbInterface;
    const auto hex = [](int id) { return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')).toUpper(); };
    resource.text = QStringLiteral("USB0::0x%1::0x%2::%3%4::INSTR")
                        .arg(hex(vendor), hex(product), serial,
                             usbInterface >= 0 ? QStringLiteral("::%1").arg(usbInterface) : QString());
    return resource;
}

CResource DefaultResource()
{
    return UsbResource(0x1AB1, 0x04CE, QStringLiteral("TLX0001"));
}

CSessionOptions Options(int timeoutMs = 2000, qint64 maxBytes = DEFAULT_MAX_REPLY_BYTES,
                        const CUiHooks *hooks = nullptr)
{
    CSessionOptions options;
    options.ioTimeoutMs = timeoutMs;
    options.maxReplyBytes = maxBytes;
    options.hooks = hooks;
    return options;
}

bool Query(CSession &session, const QByteArray &command, CReply &reply, QString &error)
{
    return session.Write(std::string_view(command.constData(), static_cast<std::size_t>(command.size())),
                         error) &&
           session.Read(reply, error);
}

// Nothing of an earlier reply is left to be read as this one's.
void VerifyNextQueryAnswered(CSession &session)
{
    CReply reply;
    QString error;
    QVERIFY2(Query(session, "MEAS:VOLT?\n", reply, error), qPrintable(error));
    QCOMPARE(reply.bytes, VOLTS);
}

} // namespace

Q_DECLARE_METATYPE(CResource)

class tst_UsbtmcSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void opens_data();
    void opens();
    void replies_data();
    void replies();
    void timeOuts_data();
    void timeOuts();
    void stopGivesTheWindowBack_data();
    void stopGivesTheWindowBack();
    void statusByteAndClear_data();
    void statusByteAndClear();
    void unplugged_data();
    void unplugged();
    void notesOnOldKernels_data();
    void notesOnOldKernels();
    void finds_data();
    void finds();
};

void tst_UsbtmcSession::initTestCase()
{
    if (!qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("tallix-usbtmc-sim")))
        QSKIP("needs the simulated usbtmc driver preloaded (LD_PRELOAD=libtallix-usbtmc-sim.so, as ctest "
              "does); "
              "in a sanitizer build also the sanitizer's runtime before it");
}

void tst_UsbtmcSession::init()
{
    ClearKnobs();
    // Unplugged and plugged in again: a fresh instrument, nothing queued.
    qputenv("TALLIX_SIM_USBTMC_UNPLUGGED", "1");
    QVERIFY(CUsbtmcDevice::List().empty());
    qunsetenv("TALLIX_SIM_USBTMC_UNPLUGGED");
}

void tst_UsbtmcSession::opens_data()
{
    QTest::addColumn<QStringList>("knobs");
    QTest::addColumn<CResource>("resource");
    QTest::addColumn<QString>("node");
    QTest::addColumn<QStringList>("errorSays");

    const QStringList second{QStringLiteral("SECOND=0x1234:0x5678:TLX0002:1")};
    const QString both =
        QStringLiteral("USB0::0x1AB1::0x04CE::TLX0001::INSTR (Korvane TALLIX-SIM (/dev/usbtmc0)); "
                       "USB0::0x1234::0x5678::TLX0002::1::INSTR");
    QTest::newRow("vendor, product and serial")
        << QStringList() << DefaultResource() << QStringLiteral("/dev/usbtmc0") << QStringList();
    QTest::newRow("interface 0 named")
        << QStringList() << UsbResource(0x1AB1, 0x04CE, QStringLiteral("TLX0001"), 0)
        << QStringLiteral("/dev/usbtmc0") << QStringList();
    QTest::newRow("second instrument by serial and interface")
        << second << UsbResource(0x1234, 0x5678, QStringLiteral("TLX0002"), 1)
        << QStringLiteral("/dev/usbtmc1") << QStringList();
    QTest::newRow("second instrument, its only interface")
        << second << UsbResource(0x1234, 0x5678, QStringLiteral("TLX0002")) << QStringLiteral("/dev/usbtmc1")
        << QStringList();
    QTest::newRow("interface it does not have lists both")
        << second << UsbResource(0x1234, 0x5678, QStringLiteral("TLX0002"), 0) << QString()
        << QStringList{both};
    QTest::newRow("another serial lists what is there")
        << QStringList() << UsbResource(0x1AB1, 0x04CE, QStringLiteral("TLX0002")) << QString()
        << QStringList{QStringLiteral("USB0::0x1AB1::0x04CE::TLX0002::INSTR"),
                       QStringLiteral("Connected: USB0::0x1AB1::0x04CE::TLX0001::INSTR")};
    QTest::newRow("another product") << QStringList()
                                     << UsbResource(0x1AB1, 0x04C5, QStringLiteral("TLX0001")) << QString()
                                     << QStringList{QStringLiteral("USB0::0x1AB1::0x04CE::TLX0001::INSTR")};
    QTest::newRow("nothing plugged in")
        << QStringList{QStringLiteral("UNPLUGGED=1")} << DefaultResource() << QString()
        << QStringList{QStringLiteral("/sys/class/usbmisc"), QStringLiteral("plugged in")};
    QTest::newRow("device file not for this user")
        << QStringList{QStringLiteral("DENY=1")} << DefaultResource() << QString()
        << QStringList{QStringLiteral("/dev/usbtmc0"), QStringLiteral("70-tallix-usbtmc.rules"),
                       QStringLiteral("udevadm control --reload"), QStringLiteral("plugdev")};
}

void tst_UsbtmcSession::opens()
{
    QFETCH(QStringList, knobs);
    QFETCH(CResource, resource);
    QFETCH(QString, node);
    QFETCH(QStringList, errorSays);
    SetKnobs(knobs);

    // Through the session table, as the link makes it.
    QString error;
    std::unique_ptr<CSession> session = MakeSession(resource, Options(), error);
    QVERIFY2(session, qPrintable(error));
    auto *usb = dynamic_cast<CUsbtmcSession *>(session.get());
    QVERIFY(usb);
    const bool opened = session->Open(error);
    if (node.isEmpty()) {
        QVERIFY(!opened);
        QVERIFY(!session->IsOpen());
        for (const QString &part : errorSays)
            QVERIFY2(error.contains(part), qPrintable(QStringLiteral("'%1' not in: %2").arg(part, error)));
        return;
    }
    QVERIFY2(opened, qPrintable(error));
    QCOMPARE(usb->DevicePath(), node);
    CReply reply;
    QVERIFY2(Query(*session, "*IDN?\n", reply, error), qPrintable(error));
    QCOMPARE(reply.bytes, IDENTITY);
}

void tst_UsbtmcSession::replies_data()
{
    QTest::addColumn<QStringList>("knobs");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<QByteArray>("kept");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QByteArray>("payload");

    const qint64 unbounded = DEFAULT_MAX_REPLY_BYTES;
    // "#15" and a payload of LF, CR and NUL, then the reply's own LF.
    const QByteArray blockPayload("a\nb\r\0", 5);
    const QByteArray block = "#15" + blockPayload + "\n";
    const QByteArray blockCommand = "BYTES " + block.toHex().toUpper() + "\n";
    const QStringList old{QStringLiteral("KERNEL=4.19")};

    QTest::newRow("identity in one read") << QStringList() << QByteArray("*IDN?\n") << unbounded << IDENTITY
                                          << qint64(IDENTITY.size()) << IDENTITY;
    QTest::newRow("identity in pieces of 7, short before its end")
        << QStringList{QStringLiteral("MAX_PIECE=7")} << QByteArray("*IDN?\n") << unbounded << IDENTITY
        << qint64(IDENTITY.size()) << IDENTITY;
    QTest::newRow("100000 bytes in pieces of 1000")
        << QStringList{QStringLiteral("MAX_PIECE=1000")} << QByteArray("DATA? 100000\n") << unbounded
        << DataReply(100000) << qint64(100000) << DataReply(100000);
    QTest::newRow("block holding LF, CR and NUL, pieces of 3")
        << QStringList{QStringLiteral("MAX_PIECE=3")} << blockCommand << unbounded << block
        << qint64(block.size()) << blockPayload;
    QTest::newRow("longer than the bound: read to its end, its start kept")
        << QStringList{QStringLiteral("MAX_PIECE=700")} << QByteArray("DATA? 5000\n") << qint64(1000)
        << DataReply(5000).left(1000) << qint64(5000) << DataReply(5000).left(1000);
    QTest::newRow("old kernel: identity")
        << old << QByteArray("*IDN?\n") << unbounded << IDENTITY << qint64(IDENTITY.size()) << IDENTITY;
    QTest::newRow("old kernel: 300000 bytes, full reads then a short one")
        << old << QByteArray("DATA? 300000\n") << unbounded << DataReply(300000) << qint64(300000)
        << DataReply(300000);
    QTest::newRow("old kernel: block holding LF")
        << old << blockCommand << unbounded << block << qint64(block.size()) << blockPayload;
}

void tst_UsbtmcSession::replies()
{
    QFETCH(QStringList, knobs);
    QFETCH(QByteArray, command);
    QFETCH(qint64, maxBytes);
    QFETCH(QByteArray, kept);
    QFETCH(qint64, total);
    QFETCH(QByteArray, payload);
    SetKnobs(knobs);

    CUsbtmcSession session(DefaultResource(), Options(2000, maxBytes));
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    CReply reply;
    QVERIFY2(Query(session, command, reply, error), qPrintable(error));
    QCOMPARE(reply.bytes, kept);
    QCOMPARE(reply.total, total);
    QCOMPARE(reply.cut, total > kept.size());
    QCOMPARE(reply.Payload(), payload);
    VerifyNextQueryAnswered(session);
}

void tst_UsbtmcSession::timeOuts_data()
{
    QTest::addColumn<QStringList>("knobs");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<QString>("errorSays");
    QTest::addColumn<bool>("setAfterOpen");

    QTest::newRow("no reply in time: the driver aborts it")
        << QStringList{QStringLiteral("DELAY_MS=800")} << 200 << QByteArray("*IDN?\n") << qint64(0)
        << QStringLiteral("No reply from USB0::0x1AB1::0x04CE::TLX0001::INSTR within 200 ms") << false;
    QTest::newRow("reply breaks off after its first piece")
        << QStringList{QStringLiteral("MAX_PIECE=1000"), QStringLiteral("PIECE_DELAY_MS=800")} << 200
        << QByteArray("DATA? 5000\n") << qint64(1000) << QStringLiteral("broke off after 1000 bytes")
        << false;
    // The driver waits its fixed 5 s and leaves the reply: only a clear
    // keeps it from answering the next query.
    QTest::newRow("old kernel without auto-abort: cleared instead")
        << QStringList{QStringLiteral("KERNEL=4.19"), QStringLiteral("DELAY_MS=5500")} << 200
        << QByteArray("*IDN?\n") << qint64(0) << QStringLiteral("within 5000 ms") << false;
    // The time-out runs from the last bytes received, not from the command.
    QTest::newRow("slower than the time-out in all, never between pieces")
        << QStringList{QStringLiteral("MAX_PIECE=500"), QStringLiteral("PIECE_DELAY_MS=60")} << 200
        << QByteArray("DATA? 5000\n") << qint64(5000) << QString() << false;
    QTest::newRow("time-out changed after the open")
        << QStringList{QStringLiteral("DELAY_MS=800")} << 200 << QByteArray("*IDN?\n") << qint64(0)
        << QStringLiteral("within 200 ms") << true;
}

void tst_UsbtmcSession::timeOuts()
{
    QFETCH(QStringList, knobs);
    QFETCH(int, timeoutMs);
    QFETCH(QByteArray, command);
    QFETCH(qint64, received);
    QFETCH(QString, errorSays);
    QFETCH(bool, setAfterOpen);
    SetKnobs(knobs);

    CUsbtmcSession session(DefaultResource(), Options(setAfterOpen ? 10000 : timeoutMs));
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    if (setAfterOpen)
        session.SetOptions(Options(timeoutMs));
    CReply reply;
    const bool answered = Query(session, command, reply, error);
    QCOMPARE(reply.total, received);
    if (errorSays.isEmpty()) {
        QVERIFY2(answered, qPrintable(error));
    } else {
        QVERIFY(!answered);
        QVERIFY2(error.contains(errorSays), qPrintable(error));
        QVERIFY(session.IsOpen());
    }
    ClearKnobs();
    VerifyNextQueryAnswered(session);
}

void tst_UsbtmcSession::stopGivesTheWindowBack_data()
{
    QTest::addColumn<QStringList>("knobs");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("writeHeld"); // else the read is
    QTest::addColumn<QString>("errorSays");

    // Only the first reply is late: the next query's comes at once.
    QTest::newRow("read held") << QStringList{QStringLiteral("DELAY_MS=60000"),
                                              QStringLiteral("DELAYED_REPLIES=1")}
                               << QByteArray("*IDN?\n") << false
                               << QStringLiteral("was stopped after 0 bytes");
    QTest::newRow("read held after the first piece")
        << QStringList{QStringLiteral("MAX_PIECE=1000"), QStringLiteral("PIECE_DELAY_MS=60000")}
        << QByteArray("DATA? 5000\n") << false << QStringLiteral("was stopped after 1000 bytes");
    QTest::newRow("write held") << QStringList{QStringLiteral("HELD_WRITES=1")} << QByteArray("*IDN?\n")
                                << true
                                << QStringLiteral(
                                       "Sending the command to USB0::0x1AB1::0x04CE::TLX0001::INSTR "
                                       "was stopped; the driver gives the write up within 3000 ms");
}

// The driver keeps a transfer until its time-out: Stop gives the window back
// within a second all the same, with pulses all the while, and the next
// query waits for the transfer to be given up, aborted and cleared, and gets
// its own reply.
void tst_UsbtmcSession::stopGivesTheWindowBack()
{
    QFETCH(QStringList, knobs);
    QFETCH(QByteArray, command);
    QFETCH(bool, writeHeld);
    QFETCH(QString, errorSays);
    SetKnobs(knobs);

    CStopHooks stop;
    CUsbtmcSession session(DefaultResource(), Options(3000, DEFAULT_MAX_REPLY_BYTES, &stop.hooks));
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    const std::string_view sent(command.constData(), static_cast<std::size_t>(command.size()));
    if (!writeHeld)
        QVERIFY2(session.Write(sent, error), qPrintable(error));
    stop.Begin(std::chrono::milliseconds(300));
    CReply reply;
    QVERIFY(writeHeld ? !session.Write(sent, error) : !session.Read(reply, error));
    const CStopHooks::CWatch watch = stop.End();
    QVERIFY2(watch.sinceStop && *watch.sinceStop < std::chrono::milliseconds(1500), qPrintable(watch.Text()));
    QVERIFY2(watch.largestGap < std::chrono::milliseconds(100), qPrintable(watch.Text()));
    QVERIFY2(error.contains(errorSays), qPrintable(error));

    stop.Begin();
    VerifyNextQueryAnswered(session);
    QVERIFY2(stop.End().largestGap < std::chrono::milliseconds(100), qPrintable(stop.End().Text()));
}

void tst_UsbtmcSession::statusByteAndClear_data()
{
    QTest::addColumn<QStringList>("knobs");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("clear");
    QTest::addColumn<int>("status");

    QTest::newRow("nothing waiting") << QStringList() << QByteArray() << false << 0;
    QTest::newRow("a reply waiting: MAV") << QStringList() << QByteArray("*IDN?\n") << false << 0x10;
    QTest::newRow("service requested: RQS") << QStringList() << QByteArray("SRQ\n") << false << 0x40;
    QTest::newRow("device clear drops the waiting reply")
        << QStringList() << QByteArray("*IDN?\n") << true << 0;
    QTest::newRow("kernel without the status byte")
        << QStringList{QStringLiteral("KERNEL=4.5")} << QByteArray() << false << -1;
}

void tst_UsbtmcSession::statusByteAndClear()
{
    QFETCH(QStringList, knobs);
    QFETCH(QByteArray, sent);
    QFETCH(bool, clear);
    QFETCH(int, status);
    SetKnobs(knobs);

    CUsbtmcSession session(DefaultResource(), Options());
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    QVERIFY2(session.Write(std::string_view(sent.constData(), static_cast<std::size_t>(sent.size())), error),
             qPrintable(error));
    if (clear)
        QVERIFY2(session.Clear(error), qPrintable(error));
    std::uint8_t read = 0xFF;
    const bool ok = session.ReadStatusByte(read, error);
    if (status < 0) {
        QVERIFY(!ok);
        QVERIFY2(error.contains(QLatin1String("status byte")), qPrintable(error));
        QVERIFY(session.TakeNotes().join(QLatin1Char(' ')).contains(QLatin1String("status byte")));
        // Said once: asking again fails the same way without a second note.
        QVERIFY(!session.ReadStatusByte(read, error));
        QVERIFY(session.TakeNotes().isEmpty());
        return;
    }
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(int(read), status);
    if ((read & 0x10) != 0) {
        CReply reply;
        QVERIFY2(session.Read(reply, error), qPrintable(error));
    }
    VerifyNextQueryAnswered(session);
}

void tst_UsbtmcSession::unplugged_data()
{
    QTest::addColumn<QByteArray>("firstErrno");
    QTest::addColumn<bool>("midRead");

    QTest::newRow("mid-read, the device gone (ENODEV)") << QByteArray("19") << true;
    QTest::newRow("mid-read, the transfer broken (EPIPE)") << QByteArray("32") << true;
    QTest::newRow("before a command") << QByteArray("19") << false;
}

void tst_UsbtmcSession::unplugged()
{
    QFETCH(QByteArray, firstErrno);
    QFETCH(bool, midRead);
    QTemporaryDir folder;
    const QString gone = folder.filePath(QStringLiteral("gone"));
    SetKnobs({QStringLiteral("UNPLUG_FILE=") + gone, QStringLiteral("UNPLUG_ERRNO=") + firstErrno,
              QStringLiteral("MAX_PIECE=1000")});
    const auto unplug = [&gone] { QFile(gone).open(QIODevice::WriteOnly); };

    // The cable is pulled while the first piece is being shown.
    CUiHooks hooks;
    hooks.pulse = [&](const CProgress &progress) {
        if (progress.done > 0)
            unplug();
        return true;
    };
    CUsbtmcSession session(DefaultResource(), Options(2000, DEFAULT_MAX_REPLY_BYTES, &hooks));
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    CReply reply;
    if (midRead) {
        QVERIFY(!Query(session, "DATA? 100000\n", reply, error));
        QCOMPARE(reply.total, 1000);
    } else {
        unplug();
        QVERIFY(!session.Write("*IDN?\n", error));
    }
    QVERIFY2(error.contains(QLatin1String("is gone")) && error.contains(QLatin1String("unplugged")),
             qPrintable(error));
    QVERIFY(!session.IsOpen());

    // Plugged in again, it opens afresh.
    QVERIFY(QFile::remove(gone));
    QVERIFY2(session.Open(error), qPrintable(error));
    VerifyNextQueryAnswered(session);
}

void tst_UsbtmcSession::notesOnOldKernels_data()
{
    QTest::addColumn<QByteArray>("kernel");
    QTest::addColumn<QStringList>("notesSay");

    QTest::newRow("Debian 12's kernel") << QByteArray("6.1") << QStringList();
    QTest::newRow("before the driver's rework")
        << QByteArray("4.19")
        << QStringList{QStringLiteral("cannot take a time-out"), QStringLiteral("cannot abort"),
                       QStringLiteral("where a message ends")};
}

void tst_UsbtmcSession::notesOnOldKernels()
{
    QFETCH(QByteArray, kernel);
    QFETCH(QStringList, notesSay);
    qputenv("TALLIX_SIM_USBTMC_KERNEL", kernel);

    CUsbtmcSession session(DefaultResource(), Options());
    QString error;
    QVERIFY2(session.Open(error), qPrintable(error));
    const QStringList notes = session.TakeNotes();
    QCOMPARE(notes.size(), notesSay.size());
    for (int i = 0; i < notes.size(); ++i)
        QVERIFY2(notes.join(QLatin1Char('|')).contains(notesSay.at(i)),
                 qPrintable(notes.join(QLatin1Char('|'))));
    // Once in the session's life, also across a second open.
    session.Close();
    QVERIFY2(session.Open(error), qPrintable(error));
    QVERIFY(session.TakeNotes().isEmpty());
}

void tst_UsbtmcSession::finds_data()
{
    QTest::addColumn<QStringList>("knobs");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QStringList>("found");

    const QString first =
        QStringLiteral("USB0::0x1AB1::0x04CE::TLX0001::INSTR|Korvane TALLIX-SIM (/dev/usbtmc0)");
    QTest::newRow("one instrument") << QStringList() << false << QStringList{first};
    // sysfs writes the interface number in hex: "0a".
    QTest::newRow("a second on interface 10")
        << QStringList{QStringLiteral("SECOND=0x1234:0x5678:TLX0002:10")} << false
        << QStringList{first, QStringLiteral("USB0::0x1234::0x5678::TLX0002::10::INSTR|Korvane TALLIX-SIM "
                                             "(/dev/usbtmc1)")};
    QTest::newRow("ids written as sysfs writes them")
        << QStringList{QStringLiteral("VENDOR=0xbeef"), QStringLiteral("PRODUCT=0x00ab"),
                       QStringLiteral("SERIAL=101234")}
        << false
        << QStringList{
               QStringLiteral("USB0::0xBEEF::0x00AB::101234::INSTR|Korvane TALLIX-SIM (/dev/usbtmc0)")};
    // The class's other devices (a keyboard's hiddev0) are never listed.
    QTest::newRow("none plugged in") << QStringList{QStringLiteral("UNPLUGGED=1")} << false << QStringList();
    QTest::newRow("cancelled") << QStringList() << true << QStringList();
}

void tst_UsbtmcSession::finds()
{
    QFETCH(QStringList, knobs);
    QFETCH(bool, cancelled);
    QFETCH(QStringList, found);
    SetKnobs(knobs);

    std::unique_ptr<CFinder> finder;
    for (const CSessionRow &row : SessionTable())
        if (QLatin1String(row.interfaceName) == QLatin1String("USB") && row.resourceClass == ResourceClass::Instr)
            finder = row.makeFinder();
    QVERIFY(finder);
    QStringList listed;
    std::atomic<bool> stop{cancelled};
    finder->Find(
        [&](const CFoundResource &one) { listed << one.resource + QLatin1Char('|') + one.description; },
        stop);
    QCOMPARE(listed, found);
}

QTEST_GUILESS_MAIN(tst_UsbtmcSession)
#include "tst_usbtmcsession.moc"
