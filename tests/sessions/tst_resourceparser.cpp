// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/ResourceGrammar.h"
#include "sessions/ResourceParser.h"
#include "sessions/SessionTable.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

CResource Socket(int board, const char *host, int port)
{
    CResource r;
    r.interfaceName = QStringLiteral("TCPIP");
    r.resourceClass = ResourceClass::Socket;
    r.board = board;
    r.host = QString::fromLatin1(host);
    r.port = port;
    return r;
}

CResource Lan(int board, const char *host, const char *device)
{
    CResource r;
    r.interfaceName = QStringLiteral("TCPIP");
    r.board = board;
    r.host = QString::fromLatin1(host);
    r.lanDevice = QString::fromLatin1(device);
    return r;
}

CResource Usb(int board, std::uint16_t vendor, std::uint16_t product, const char *serial, int usbInterface)
{
    CResource r;
    r.interfaceName = QStringLiteral("USB");
    r.board = board;
    r.vendor = vendor;
    r.product = product;
    r.serial = QString::fromLatin1(serial);
    r.usbInterface = usbInterface;
    return r;
}

CResource Asrl(int number, const char *path = "")
{
    CResource r;
    r.interfaceName = QStringLiteral("ASRL");
    r.asrlNumber = number;
    r.devicePath = QString::fromLatin1(path);
    return r;
}

CResource Gpib(int board, int primary, int secondary)
{
    CResource r;
    r.interfaceName = QStringLiteral("GPIB");
    r.board = board;
    r.primary = primary;
    r.secondary = secondary;
    return r;
}

struct CGoodRow
{
    const char *name;
    const char *text;
    CResource expected;
    const char *canonical;
    // PyVISA 1.11 splits every "::" (so an IPv6 host with "::" falls apart)
    // and compares the class name case-sensitively: for those rows it reads
    // something else, and the agreement check leaves them out.
    bool pyvisaReadsIt;
};

const QList<CGoodRow> &GoodRows()
{
    static const QList<CGoodRow> rows = {
        {"raw socket", "TCPIP0::192.168.1.20::5025::SOCKET", Socket(0, "192.168.1.20", 5025),
         "TCPIP0::192.168.1.20::5025::SOCKET", true},
        {"socket on a named host, highest port", "TCPIP3::localhost::65535::SOCKET",
         Socket(3, "localhost", 65535), "TCPIP3::localhost::65535::SOCKET", true},
        {"VXI-11 by name, no board", "TCPIP::scope.lab::INSTR", Lan(0, "scope.lab", "inst0"),
         "TCPIP0::scope.lab::inst0::INSTR", true},
        {"VXI-11 without a class", "TCPIP::10.0.0.5", Lan(0, "10.0.0.5", "inst0"),
         "TCPIP0::10.0.0.5::inst0::INSTR", true},
        {"gateway device, lower case, blanks around", "  tcpip1::10.0.0.5::gpib0,14::instr \t",
         Lan(1, "10.0.0.5", "gpib0,14"), "TCPIP1::10.0.0.5::gpib0,14::INSTR", false},
        {"HiSLIP device on a bracketed IPv6 host", "TCPIP::[2001:db8:0:0:0:0:0:1]::hislip0::INSTR",
         Lan(0, "2001:db8:0:0:0:0:0:1", "hislip0"), "TCPIP0::[2001:db8:0:0:0:0:0:1]::hislip0::INSTR", true},
        {"IPv6 with a zone", "TCPIP0::[fe80::1%eth0]::5025::SOCKET", Socket(0, "fe80::1%eth0", 5025),
         "TCPIP0::[fe80::1%eth0]::5025::SOCKET", false},
        {"IPv6 with a numeric zone", "TCPIP0::[fe80::1%3]::5025::SOCKET", Socket(0, "fe80::1%3", 5025),
         "TCPIP0::[fe80::1%3]::5025::SOCKET", false},
        {"USB in hex", "USB0::0x1AB1::0x04CE::DS1ZA170000000::INSTR",
         Usb(0, 0x1AB1, 0x04CE, "DS1ZA170000000", -1), "USB0::0x1AB1::0x04CE::DS1ZA170000000::INSTR", true},
        {"USB in decimal with an interface", "USB::6833::0x04ce::ABC123::2::INSTR",
         Usb(0, 0x1AB1, 0x04CE, "ABC123", 2), "USB0::0x1AB1::0x04CE::ABC123::2::INSTR", true},
        {"USB extremes without a class", "USB7::0xFFFF::0::X::255", Usb(7, 0xFFFF, 0, "X", 255),
         "USB7::0xFFFF::0x0000::X::255::INSTR", true},
        {"serial port by number", "ASRL1", Asrl(1), "ASRL1::INSTR", true},
        {"serial port by device", "ASRL/dev/ttyUSB0::INSTR", Asrl(-1, "/dev/ttyUSB0"),
         "ASRL/dev/ttyUSB0::INSTR", true},
        {"serial port by its by-id name",
         "ASRL/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0::INSTR",
         Asrl(-1, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
         "ASRL/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0::INSTR", true},
        {"GPIB", "GPIB0::14::INSTR", Gpib(0, 14, -1), "GPIB0::14::INSTR", true},
        {"GPIB lower case", "gpib2::0::instr", Gpib(2, 0, -1), "GPIB2::0::INSTR", false},
        {"GPIB secondary as 0 to 30", "GPIB::30::30", Gpib(0, 30, 30), "GPIB0::30::30::INSTR", true},
        {"GPIB secondary as the bus byte", "GPIB1::3::96::INSTR", Gpib(1, 3, 0), "GPIB1::3::0::INSTR", true},
        {"GPIB highest bus byte", "GPIB1::3::126", Gpib(1, 3, 30), "GPIB1::3::30::INSTR", true},
    };
    return rows;
}

// What PyVISA calls the fields, filled from our reading of a resource, so
// that the two can be compared whole. Where PyVISA has a default of its own
// for a field that was not written (a USB interface number, a GPIB
// secondary address: "0"), ours is shown as that default.
QJsonObject AsPyvisaFields(const CResource &r)
{
    QJsonObject o;
    if (r.interfaceName == QLatin1String("TCPIP")) {
        o[QStringLiteral("interface")] = QStringLiteral("TCPIP");
        o[QStringLiteral("board")] = r.board;
        o[QStringLiteral("host")] = r.host;
        if (r.resourceClass == ResourceClass::Socket) {
            o[QStringLiteral("class")] = QStringLiteral("SOCKET");
            o[QStringLiteral("port")] = r.port;
        } else {
            o[QStringLiteral("class")] = QStringLiteral("INSTR");
            o[QStringLiteral("lan")] = r.lanDevice;
        }
    } else if (r.interfaceName == QLatin1String("USB")) {
        o[QStringLiteral("interface")] = QStringLiteral("USB");
        o[QStringLiteral("class")] = QStringLiteral("INSTR");
        o[QStringLiteral("board")] = r.board;
        o[QStringLiteral("vendor")] = r.vendor;
        o[QStringLiteral("product")] = r.product;
        o[QStringLiteral("serial")] = r.serial;
        o[QStringLiteral("usbif")] = r.usbInterface < 0 ? 0 : r.usbInterface;
    } else if (r.interfaceName == QLatin1String("ASRL")) {
        o[QStringLiteral("interface")] = QStringLiteral("ASRL");
        o[QStringLiteral("class")] = QStringLiteral("INSTR");
        o[QStringLiteral("board")] = r.asrlNumber >= 0 ? QString::number(r.asrlNumber) : r.devicePath;
    } else if (r.interfaceName == QLatin1String("GPIB")) {
        o[QStringLiteral("interface")] = QStringLiteral("GPIB");
        o[QStringLiteral("class")] = QStringLiteral("INSTR");
        o[QStringLiteral("board")] = r.board;
        o[QStringLiteral("primary")] = r.primary;
        o[QStringLiteral("secondary")] = r.secondary < 0 ? 0 : r.secondary;
    }
    return o;
}

// PyVISA's reading of every text, in one run of Debian's python3 (the one
// that python3-pyvisa is installed for). A bus byte 96 to 126 is brought to
// the secondary address it carries, as ours does.
const char PYVISA_SCRIPT[] = R"(
import json, sys
from pyvisa import rname
def number(s):
    return int(s, 16) if s.lower().startswith('0x') else int(s, 10)
out = {}
for text in json.load(sys.stdin):
    try:
        r = rname.parse_resource_name(text)
    except Exception as e:
        out[text] = {'error': str(e)}
        continue
    d = {'interface': r.interface_type, 'class': r.resource_class}
    if r.interface_type == 'TCPIP':
        d['board'] = int(r.board)
        host = r.host_address
        d['host'] = host[1:-1] if host.startswith('[') and host.endswith(']') else host
        if r.resource_class == 'SOCKET':
            d['port'] = int(r.port)
        else:
            d['lan'] = r.lan_device_name
    elif r.interface_type == 'USB':
        d['board'] = int(r.board)
        d['vendor'] = number(r.manufacturer_id)
        d['product'] = number(r.model_code)
        d['serial'] = r.serial_number
        d['usbif'] = int(r.usb_interface_number)
    elif r.interface_type == 'ASRL':
        d['board'] = r.board
    elif r.interface_type == 'GPIB':
        d['board'] = int(r.board)
        d['primary'] = int(r.primary_address)
        s = int(r.secondary_address)
        d['secondary'] = s - 96 if s >= 96 else s
    out[text] = d
json.dump(out, sys.stdout)
)";

} // namespace

class TestResourceParser : public QObject
{
    Q_OBJECT

private:
    QHash<QString, QJsonObject> m_pyvisa;
    QString m_pyvisaFailure;

private slots:
    void initTestCase();

    void readsGoodStrings_data();
    void readsGoodStrings();
    void agreesWithPyvisa_data() { readsGoodStrings_data(); }
    void agreesWithPyvisa();
    void rejectsBadStrings_data();
    void rejectsBadStrings();
    void listsNames_data();
    void listsNames();
};

void TestResourceParser::initTestCase()
{
    QJsonArray texts;
    for (const CGoodRow &row : GoodRows())
        if (row.pyvisaReadsIt)
            texts.append(QString::fromLatin1(row.text).trimmed());
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(PYVISA_SCRIPT)});
    if (!python.waitForStarted(10000)) {
        m_pyvisaFailure = QStringLiteral("/usr/bin/python3 did not start: ") + python.errorString();
        return;
    }
    python.write(QJsonDocument(texts).toJson());
    python.closeWriteChannel();
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        m_pyvisaFailure = QStringLiteral("PyVISA's parser did not run (python3-pyvisa is installed by "
                                         "scripts/install-deps): ") +
                          QString::fromLocal8Bit(python.readAllStandardError());
        return;
    }
    const QJsonObject all = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    for (auto it = all.begin(); it != all.end(); ++it)
        m_pyvisa.insert(it.key(), it.value().toObject());
}

void TestResourceParser::readsGoodStrings_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < GoodRows().size(); ++i)
        QTest::newRow(GoodRows()[i].name) << i;
}

void TestResourceParser::readsGoodStrings()
{
    QFETCH(int, index);
    const CGoodRow &row = GoodRows()[index];
    CResource expected = row.expected;
    expected.text = QString::fromLatin1(row.text).trimmed();

    CResource parsed;
    QString error;
    QVERIFY2(ParseResource(QString::fromLatin1(row.text), parsed, error), qPrintable(error));
    QCOMPARE(CanonicalResource(parsed), QString::fromLatin1(row.canonical));
    QVERIFY2(parsed == expected,
             qPrintable(QStringLiteral("fields differ from those of %1").arg(row.canonical)));

    // The canonical spelling means the same resource.
    CResource again;
    QVERIFY2(ParseResource(CanonicalResource(parsed), again, error), qPrintable(error));
    expected.text = QString::fromLatin1(row.canonical);
    QVERIFY(again == expected);
}

void TestResourceParser::agreesWithPyvisa()
{
    QFETCH(int, index);
    const CGoodRow &row = GoodRows()[index];
    if (!row.pyvisaReadsIt)
        QSKIP("PyVISA 1.11 reads this spelling otherwise (see pyvisaReadsIt)");
    QVERIFY2(m_pyvisaFailure.isEmpty(), qPrintable(m_pyvisaFailure));
    const QString text = QString::fromLatin1(row.text).trimmed();
    CResource parsed;
    QString error;
    QVERIFY2(ParseResource(text, parsed, error), qPrintable(error));
    QVERIFY2(m_pyvisa.contains(text), "PyVISA gave no answer for this string");
    const QJsonObject theirs = m_pyvisa.value(text);
    QCOMPARE(QString::fromUtf8(QJsonDocument(theirs).toJson(QJsonDocument::Compact)),
             QString::fromUtf8(QJsonDocument(AsPyvisaFields(parsed)).toJson(QJsonDocument::Compact)));
}

void TestResourceParser::rejectsBadStrings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    // A message that lists the interfaces lists the table's, each once, in
    // its order: "{and}" and "{or}" stand for that list.
    QStringList interfaces;
    for (const CSessionRow &row : SessionTable())
        if (!interfaces.contains(QLatin1String(row.interfaceName)))
            interfaces << QLatin1String(row.interfaceName);
    const auto row = [&interfaces](const char *name, const char *text, const char *what) {
        const QString trimmed = QString::fromLatin1(text).trimmed();
        const QString message =
            QString::fromLatin1(what)
                .replace(QStringLiteral("{and}"), ListOf(interfaces, QStringLiteral("and")))
                .replace(QStringLiteral("{or}"), ListOf(interfaces, QStringLiteral("or")));
        QTest::newRow(name) << QString::fromLatin1(text)
                            << QStringLiteral("Resource '%1': %2").arg(trimmed, message);
    };
    row("empty", "", "it is empty");
    row("only blanks", " \t ", "it is empty");
    row("no interface name", "::14::INSTR", "it does not start with an interface name ({or})");
    row("unknown interface", "FOO0::1::INSTR", "unknown interface 'FOO' (Tallix knows {and})");
    row("interface with letters after it", "TCPIPX::host::INSTR",
        "unknown interface 'TCPIPX' (Tallix knows {and})");
    row("VXI", "VXI0::1::INSTR", "VXI resources are not supported (Tallix knows {and})");
    row("GPIB-VXI", "GPIB-VXI0::1::INSTR", "GPIB-VXI resources are not supported (Tallix knows {and})");
    row("board not a number", "GPIB0x::14::INSTR", "the board number '0x' is not a number");
    row("board too large", "GPIB1000::14", "the board number 1000 is out of range (0 to 999)");
    row("interface class", "GPIB0::INTFC",
        "INTFC resources are not supported (Tallix reaches INSTR and SOCKET resources)");
    row("socket that is not TCPIP", "USB0::0x1AB1::0x04CE::SN::SOCKET",
        "only TCPIP resources can be SOCKET resources");
    row("socket without a port", "TCPIP::host::SOCKET", "a SOCKET resource needs a port");
    row("socket without a host", "TCPIP::::5025::SOCKET", "a TCPIP resource needs a host");
    row("nothing after TCPIP", "TCPIP0::INSTR", "a TCPIP resource needs a host");
    row("port out of range", "TCPIP::host::70000::SOCKET", "the port 70000 is out of range (1 to 65535)");
    row("port 0", "TCPIP::host::0::SOCKET", "the port 0 is out of range (1 to 65535)");
    row("port by name", "TCPIP::host::scpi::SOCKET", "the port 'scpi' is not a number");
    row("IPv4 out of range", "TCPIP::192.168.1.300::INSTR", "'192.168.1.300' is not an IPv4 address");
    row("host with a blank", "TCPIP::scope lab::INSTR",
        "the host 'scope lab' is not a host name or an address");
    row("IPv6 without brackets", "TCPIP::fe80:0:0:0:0:0:0:1::INSTR",
        "the IPv6 address 'fe80:0:0:0:0:0:0:1' must be written in brackets, as '[fe80:0:0:0:0:0:0:1]'");
    row("IPv6 bracket not closed", "TCPIP::[fe80::1::INSTR",
        "the IPv6 address '[fe80::1::INSTR' lacks its closing ']'");
    row("not IPv6 in brackets", "TCPIP::[fe80::zz]::INSTR",
        "'[fe80::zz]' is not an IPv6 address in brackets");
    row("empty LAN device name", "TCPIP::host::::INSTR", "the LAN device name is empty");
    row("LAN device name with a blank", "TCPIP::host::inst 0::INSTR",
        "the LAN device name 'inst 0' holds more than letters, digits and , . _ -");
    row("USB without a serial number", "USB0::0x1AB1::0x04CE::INSTR", "a USB resource needs a serial number");
    row("USB without a product id", "USB0::0x1AB1::INSTR", "a USB resource needs a product id");
    row("USB without a vendor id", "USB0", "a USB resource needs a vendor id");
    row("vendor id out of range", "USB0::0x1AB1F::0x04CE::SN::INSTR",
        "the vendor id 0x1AB1F is out of range (0 to 0xFFFF)");
    row("product id out of range", "USB0::0x1AB1::65536::SN::INSTR",
        "the product id 65536 is out of range (0 to 0xFFFF)");
    row("vendor id by name", "USB0::rigol::0x04CE::SN::INSTR",
        "the vendor id 'rigol' is not a number (decimal, or hex after 0x)");
    row("bare 0x", "USB0::0x::0x04CE::SN::INSTR",
        "the vendor id '0x' is not a number (decimal, or hex after 0x)");
    row("serial number with a blank", "USB0::1::2::SN 1::INSTR",
        "the serial number 'SN 1' holds a blank, a control character or one of : [ ]");
    row("USB interface out of range", "USB0::1::2::SN::256::INSTR",
        "the USB interface number 256 is out of range (0 to 255)");
    row("serial port by another name", "ASRLCOM1::INSTR",
        "'COM1' after ASRL is neither a port number nor a device path starting with '/'");
    row("serial port with a field", "ASRL1::5::INSTR", "unexpected '::5::INSTR' after 'ASRL1'");
    row("device path ending in a colon",
        "ASRL/dev/tty1:", "the device path '/dev/tty1:' holds a blank, a control character or a ':'");
    row("GPIB without a primary address", "GPIB0::INSTR", "a GPIB resource needs a primary address");
    row("primary address out of range", "GPIB0::31::INSTR",
        "the primary address 31 is out of range (0 to 30)");
    row("primary address by name", "GPIB0::fourteen::INSTR",
        "the primary address 'fourteen' is not a number");
    row("primary address negative", "GPIB0::-1::INSTR", "the primary address '-1' is not a number");
    row("secondary between the two ranges", "GPIB0::14::31::INSTR",
        "the secondary address 31 is out of range (0 to 30, or 96 to 126)");
    row("secondary past the bus bytes", "GPIB0::14::127::INSTR",
        "the secondary address 127 is out of range (0 to 30, or 96 to 126)");
    row("field after the class", "GPIB0::14::INSTR::extra", "unexpected '::extra' after 'GPIB0::14::INSTR'");
    row("text after the class", "GPIB0::14::INSTR junk", "unexpected ' junk' after 'GPIB0::14::INSTR'");
    row("separator at the end", "GPIB0::14::", "unexpected '::' after 'GPIB0::14'");
    row("one field too many", "GPIB0::14::3::4::INSTR", "unexpected '::4::INSTR' after 'GPIB0::14::3'");
    row("socket with a field too many", "TCPIP::host::5025::x::SOCKET",
        "unexpected '::x::SOCKET' after 'TCPIP::host::5025'");
}

void TestResourceParser::rejectsBadStrings()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    CResource resource = Gpib(4, 5, 6);
    const CResource before = resource;
    QString error;
    QVERIFY2(!ParseResource(text, resource, error), qPrintable(CanonicalResource(resource)));
    QCOMPARE(error, message);
    QVERIFY2(resource == before, "a failed parse changed the resource");
}

void TestResourceParser::listsNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("join");
    QTest::addColumn<QString>("list");
    QTest::newRow("one") << QStringList{"GPIB"} << "and"
                         << "GPIB";
    QTest::newRow("two") << QStringList{"TCPIP", "USB"} << "or"
                         << "TCPIP or USB";
    QTest::newRow("four") << QStringList{"TCPIP", "USB", "ASRL", "GPIB"} << "and"
                          << "TCPIP, USB, ASRL and GPIB";
}

void TestResourceParser::listsNames()
{
    QFETCH(QStringList, names);
    QFETCH(QString, join);
    QFETCH(QString, list);
    QCOMPARE(ListOf(names, join), list);
}

QTEST_GUILESS_MAIN(TestResourceParser)
#include "tst_resourceparser.moc"
