// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFiles.h"
#include "links/VisaLink.h"
#include "sessions/Session.h"
#include "tests/links/LinkAccess.h"
#include "tests/links/TcpTestSupport.h"
#include "work/CommandSender.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace tcptest;

namespace {
constexpr int ADDRESS_RANGE = 11;
} // namespace

// The VISA Resource link: the resource box's text parsed, the session made
// and opened by the command that finds the link chosen, and each reply read
// whole, once; through Tallix's own sessions and through a VISA library.
class TestVisaLink : public QObject
{
    Q_OBJECT

private:
    QString m_address;
    CServer m_server;
    QTemporaryDir m_dir;

    struct Console
    {
        CUiHooks hooks;
        QStringList messages;
        CLinkDispatch links{&hooks};
        QString resource;

        Console()
        {
            hooks.showMessage = [this](const QString &text) { messages << text; };
            links.Choose(LINK_VISA);
            Gpib(links).SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
            links.SetResourceText([this]() { return resource; });
        }
        QByteArray Query(const char *line)
        {
            if (!links.ConnectLinks().Ok() || !links.Send(line).Ok())
                return QByteArray("(failed)");
            QByteArray text;
            links.ReadResponse(text);
            return text;
        }
    };

    QString Socket() const { return QStringLiteral("TCPIP0::%1::5025::SOCKET").arg(m_address); }

private slots:
    void initTestCase()
    {
        m_address = NextAddress(ADDRESS_RANGE);
        START_SERVER(m_server, m_address, QStringLiteral("--port"), QStringLiteral("5025"),
                     QStringLiteral("--scpi"));
    }

    // What the resource box holds decides: a string that does not parse, or
    // that names what cannot be reached, says why and sends nothing.
    void resources_data()
    {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("SOCKET") << "%SOCKET%" << QByteArray(IDENTITY.chopped(2) + "\n") << QString();
        QTest::newRow("SOCKET in lower case, no board")
            << "%socket%" << QByteArray(IDENTITY.chopped(2) + "\n") << QString();
        QTest::newRow("SOCKET without a port")
            << "TCPIP::host::SOCKET" << QByteArray("(failed)")
            << "Resource 'TCPIP::host::SOCKET': a SOCKET resource needs a port";
        QTest::newRow("nothing in the box") << "" << QByteArray("(failed)") << "%EMPTY%";
        QTest::newRow("no server there") << "TCPIP::127.0.0.1::1::SOCKET" << QByteArray("(failed)")
                                         << "Cannot connect to 127.0.0.1:1: " + ErrorText(ECONNREFUSED);
    }

    void resources()
    {
        QFETCH(QString, resource);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        Console console;
        console.resource = resource;
        console.resource.replace(QLatin1String("%SOCKET%"), Socket());
        console.resource.replace(QLatin1String("%socket%"),
                                 QStringLiteral("tcpip::%1::5025::socket").arg(m_address));
        QCOMPARE(console.Query("*IDN?\r\n"), reply);
        if (message.isEmpty()) {
            QCOMPARE(console.messages, QStringList());
        } else {
            QCOMPARE(console.messages.size(), 1);
            if (message != QLatin1String("%EMPTY%"))
                QCOMPARE(console.messages[0], message);
            QVERIFY(console.messages[0].startsWith(QLatin1String("Resource ''")) ||
                    message != QLatin1String("%EMPTY%"));
        }
        console.links.ReleaseLinks();
    }

    // The session stays open from command to command, and goes when the
    // resource changes or another link is chosen.
    void sessionLifetime()
    {
        Console console;
        console.resource = Socket();
        QCOMPARE(console.Query("*IDN?\r\n"), QByteArray(IDENTITY.chopped(2) + "\n"));
        auto &link = LinkAs<CVisaLink>(console.links, LINK_VISA);
        const CSession *first = link.Session();
        QVERIFY(first && first->IsOpen());
        QCOMPARE(console.Query("MEAS:VOLT?\r\n"), QByteArray("1.250\n"));
        QCOMPARE(link.Session(), first);
        QVERIFY(m_server.WaitForLine(QStringLiteral("connection from")));
        console.resource = QStringLiteral("TCPIP::%1::5025::SOCKET").arg(m_address);
        QCOMPARE(console.Query("*IDN?\r\n"), QByteArray(IDENTITY.chopped(2) + "\n"));
        QVERIFY(m_server.WaitForLine(QStringLiteral("connection closed")));
        console.links.Choose(LINK_LUMEC);
        QVERIFY(console.links.ConnectLinks().Ok());
        QCOMPARE(link.Session(), nullptr);
        QCOMPARE(console.messages, QStringList());
    }

    // A logged line that asks nothing waits for nothing, and a logged query
    // is read once: the window shows what the log took.
    void readOncePerSend()
    {
        Console console;
        console.resource = Socket();
        const QString logPath = m_dir.filePath(QStringLiteral("visa.log"));
        CCommandFiles files;
        QVERIFY(files.Log().Open(logPath));
        CCommandSender sender(console.links, files, &console.hooks);
        QVERIFY(console.links.ConnectLinks().Ok());
        QVERIFY(sender.SendCommand("*RST\r\n").Ok());
        CReply reply;
        QVERIFY(!console.links.ChosenExpectsReply());
        if (sender.TakeLoggedReply(reply))
            QVERIFY(reply.IsEmpty());
        QVERIFY(sender.SendCommand("*IDN?\r\n").Ok());
        QVERIFY(sender.TakeLoggedReply(reply));
        QCOMPARE(reply.bytes, QByteArray(IDENTITY.chopped(2) + "\n"));
        files.Log().Close();
        QCOMPARE(ReadFile(logPath), "*RST\r\n*IDN?\r\n>" + IDENTITY.chopped(2) + "\n");
        QCOMPARE(console.messages, QStringList());
        console.links.ReleaseLinks();
    }

    // Through the machine's VISA library, when the settings name one: every
    // resource goes to it, and Serial Poll reads its status byte.
    void throughVisaLibrary()
    {
        Console console;
        CLinkOptions options = console.links.Context().options;
        options.visaLibrary = QStringLiteral(TALLIX_SIM_LIBDIR "/libtallix-visa-sim.so");
        console.links.SetOptions(options);
        console.resource = QStringLiteral("GPIB0::14::INSTR");
        QCOMPARE(console.Query("*IDN?\r\n"), IDENTITY);
        QVERIFY(console.links.Send("*IDN?\r\n").Ok());
        short status = 0;
        const CResult polled = console.links.SerialPoll(status);
        QVERIFY2(polled.Ok(), qPrintable(polled.Text()));
        QCOMPARE(status & 0x10, 0x10);
        // The library's own errors, in its words; names that Tallix's
        // parser does not know (an alias of the library's) reach it too.
        for (const char *name : {"GPIB0::9::INSTR", "bench scope"}) {
            console.messages.clear();
            console.resource = QString::fromLatin1(name);
            QCOMPARE(console.Query("*IDN?\r\n"), QByteArray("(failed)"));
            QCOMPARE(console.messages.size(), 1);
            QVERIFY2(console.messages[0].startsWith(QLatin1String("VISA error 0x")),
                     qPrintable(console.messages[0]));
        }
        console.links.ReleaseLinks();
    }

    // Tallix and PyVISA, given the same resource string, reach the same
    // instrument and read the same reply.
    void sameAsPyVisa()
    {
        Console console;
        console.resource = Socket();
        const QByteArray ours = console.Query("*IDN?\r\n");
        console.links.ReleaseLinks();
        QProcess python;
        python.start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"), QStringLiteral("import pyvisa\n"
                                                  "rm = pyvisa.ResourceManager('@py')\n"
                                                  "i = rm.open_resource('%1', read_termination='\\n')\n"
                                                  "print(i.query('*IDN?'))\n")
                                       .arg(Socket())});
        QVERIFY(python.waitForFinished(20000));
        QCOMPARE(python.readAllStandardOutput(), ours);
    }
};

QTEST_GUILESS_MAIN(TestVisaLink)
#include "tst_visalink.moc"
