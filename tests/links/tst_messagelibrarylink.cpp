// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cmdfile/CommandFiles.h"
#include "cmdfile/ResponseLog.h"
#include "common/UiHooks.h"
#include "links/AutomationLink.h"
#include "links/GpibLink.h"
#include "links/LinkDispatch.h"
#include "links/MessageLibraryLink.h"
#include "tests/links/LinkAccess.h"
#include "work/CommandSender.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <dlfcn.h>

namespace {

const char IDENTITY[] = "KORVANE,TALLIX-SIM,SN0001,1.0\r\n";

QString variant(const QString &name)
{
    return QStringLiteral(TALLIX_SIM_VARIANTDIR "/") + name + QStringLiteral("/libordal.so");
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether the process holds a library of that name, asking the loader itself
// (not Qt, whose bookkeeping is what is under test).
bool isLoaded(const char *soname)
{
    void *handle = dlopen(soname, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle);
    return true;
}

// The simulated library's own count of calls to one of its entry points,
// read while it is loaded; -1 when it is not.
int simCalls(const char *soname, const char *counter)
{
    void *handle = dlopen(soname, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return -1;
    auto fn = reinterpret_cast<int (*)()>(dlsym(handle, counter));
    const int calls = fn ? fn() : -1;
    dlclose(handle);
    return calls;
}

// The last line exactly as the library's input entry point received it.
QByteArray simLastInput(const char *soname)
{
    void *handle = dlopen(soname, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return "(not loaded)";
    auto fn = reinterpret_cast<int (*)(char *, int)>(dlsym(handle, "TallixSimLastInput"));
    char buffer[256] = {};
    if (fn)
        fn(buffer, int(sizeof buffer));
    dlclose(handle);
    return buffer;
}

} // namespace

// The ordal and lumec links against the simulated libraries, found by bare
// name on the loader's search path (the test runs with the simulator folder
// on LD_LIBRARY_PATH) or, for the broken builds, by full path.
class TestMessageLibraryLink : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_messages;
    CUiHooks m_hooks;
    CLinkContext m_context = [this] {
        CLinkContext context;
        context.hooks = &m_hooks;
        return context;
    }();

    void prepare(CLinkDispatch &links, LinkKind kind)
    {
        links.Choose(kind);
        // Keep the other links out of the way: no GPIB library, no server.
        Gpib(links).SetLibraryName(m_dir.filePath(QStringLiteral("absent/libgpib-32.so")));
    }

    CMessageLibraryLink &linkOf(CLinkDispatch &links, LinkKind kind)
    {
        return LinkAs<CMessageLibraryLink>(links, kind);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(QStringLiteral(TALLIX_SIM_LIBDIR "/libordal.so")),
                 "the simulated libraries are built with the tests");
        AutomationServer::SetServiceName(QStringLiteral("Tallix.Test.NoServer"));
        m_hooks.showMessage = [this](const QString &text) { m_messages << text; };
    }

    void init() { m_messages.clear(); }

    void cleanup()
    {
        QVERIFY(!isLoaded("libordal.so"));
        QVERIFY(!isLoaded("liblumec.so"));
    }

    // Each link loads its own library by name, passes the line as it is, and
    // hands back the reply; with a log and a display read the output entry
    // point is called twice.
    void sendAndRead_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("soname");
        QTest::newRow("ordal") << ToInt(LINK_ORDAL) << QByteArray("libordal.so");
        QTest::newRow("lumec") << ToInt(LINK_LUMEC) << QByteArray("liblumec.so");
    }

    void sendAndRead()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, soname);
        CLinkDispatch links(&m_hooks);
        prepare(links, LinkKind{kind});

        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(linkOf(links, LinkKind{kind}).IsLoaded());
        QVERIFY(isLoaded(soname.constData()));
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        QCOMPARE(simLastInput(soname.constData()), QByteArray("*IDN?\r\n"));
        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        QCOMPARE(text, QByteArray(IDENTITY));

        const QString path = m_dir.filePath(QStringLiteral("send.log"));
        QFile::remove(path);
        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(path));
        CCommandSender sender(links, files, &m_hooks);
        const int before = simCalls(soname.constData(), "TallixSimOutputCalls");
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(sender.SendCommand("MEAS:VOLT?\r\n").Ok());
        text.clear();
        QVERIFY(links.ReadResponse(text).Ok());
        log.Close();
        QCOMPARE(simCalls(soname.constData(), "TallixSimOutputCalls"), before + 2);
        QCOMPARE(text, QByteArray("1.250\r\n"));
        QCOMPARE(readFile(path), QByteArray("MEAS:VOLT?\r\n>1.250\r\n"));
        QVERIFY(m_messages.isEmpty());
    }

    // A library that cannot be found is silent: nothing sent, nothing shown,
    // a log gets the command alone; and the load is tried at every command.
    void absentLibrary()
    {
        const QString folder = m_dir.filePath(QStringLiteral("later"));
        QVERIFY(QDir().mkpath(folder));
        const QString library = folder + QStringLiteral("/libordal.so");
        QFile::remove(library);
        CLinkDispatch links(&m_hooks);
        prepare(links, LINK_ORDAL);
        LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).SetLibraryName(library);

        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(!LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).IsLoaded());
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        QCOMPARE(text, QByteArray());

        const QString path = m_dir.filePath(QStringLiteral("absent.log"));
        QFile::remove(path);
        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(path));
        CCommandSender sender(links, files, &m_hooks);
        QVERIFY(sender.SendCommand("*IDN?\r\n").Ok());
        log.Close();
        QCOMPARE(readFile(path), QByteArray("*IDN?\r\n"));
        QVERIFY(m_messages.isEmpty());

        QVERIFY(QFile::copy(QStringLiteral(TALLIX_SIM_LIBDIR "/libordal.so"), library));
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).IsLoaded());
        links.ReleaseLinks();
    }

    // A bare name goes to the loader's search path only: a library that sits
    // in the working directory alone is not loaded.
    void workingDirectoryIsNotSearched()
    {
        const QString folder = m_dir.filePath(QStringLiteral("cwd"));
        QVERIFY(QDir().mkpath(folder));
        const QString library = folder + QStringLiteral("/libtallixcwdonly.so");
        QVERIFY(QFile::copy(QStringLiteral(TALLIX_SIM_LIBDIR "/libordal.so"), library));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder));

        CMessageLibraryLink link(m_context, QStringLiteral("tallixcwdonly"), "OrdalInputMsg",
                                 "OrdalOutputMsg");
        link.Update(true);
        const bool loadedByName = link.IsLoaded();
        link.SetLibraryName(QStringLiteral("libtallixcwdonly.so"));
        link.Update(true);
        const bool loadedByFileName = link.IsLoaded();
        // The same file by its full path does load: it is the search, not the file.
        link.SetLibraryName(library);
        link.Update(true);
        const bool loadedByPath = link.IsLoaded();
        link.Free();
        QVERIFY(QDir::setCurrent(previous));

        QVERIFY(!loadedByName);
        QVERIFY(!loadedByFileName);
        QVERIFY(loadedByPath);
    }

    // Whatever the sequence of kinds, after every ConnectLinks at most one
    // message library is loaded, the one of the chosen kind; a library that
    // was freed is really gone, so coming back starts a fresh instrument.
    void alternatingLinks_data()
    {
        QTest::addColumn<QList<int>>("kinds");
        QTest::newRow("ordal, lumec, ordal")
            << QList<int>{ToInt(LINK_ORDAL), ToInt(LINK_LUMEC), ToInt(LINK_ORDAL)};
        QTest::newRow("lumec, ordal, lumec")
            << QList<int>{ToInt(LINK_LUMEC), ToInt(LINK_ORDAL), ToInt(LINK_LUMEC)};
        QTest::newRow("ordal, gpib, ordal")
            << QList<int>{ToInt(LINK_ORDAL), ToInt(LINK_GPIB), ToInt(LINK_ORDAL)};
        QTest::newRow("lumec, automation, lumec")
            << QList<int>{ToInt(LINK_LUMEC), ToInt(LINK_AUTOMATION), ToInt(LINK_LUMEC)};
        QTest::newRow("ordal, tcp/ip, ordal")
            << QList<int>{ToInt(LINK_ORDAL), ToInt(LINK_TCPIP), ToInt(LINK_ORDAL)};
        QTest::newRow("lumec, none, lumec") << QList<int>{ToInt(LINK_LUMEC), -1, ToInt(LINK_LUMEC)};
    }

    void alternatingLinks()
    {
        QFETCH(QList<int>, kinds);
        CLinkDispatch links(&m_hooks);
        prepare(links, LinkKind{kinds.first()});
        // Nothing listens on this port of the loopback address: the TCP/IP
        // step fails at once, and the library step before it still runs.
        links.SetIpAddressText([]() { return QStringLiteral("127.0.0.1"); });

        for (int i = 0; i < kinds.size(); ++i) {
            const LinkKind kind{kinds[i]};
            links.Choose(kind);
            links.ConnectLinks();
            QCOMPARE(LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).IsLoaded(), kind == LINK_ORDAL);
            QCOMPARE(LinkAs<CMessageLibraryLink>(links, LINK_LUMEC).IsLoaded(), kind == LINK_LUMEC);
            QCOMPARE(isLoaded("libordal.so"), kind == LINK_ORDAL);
            QCOMPARE(isLoaded("liblumec.so"), kind == LINK_LUMEC);
            if (kind != LINK_ORDAL && kind != LINK_LUMEC)
                continue;
            // The first visit changes the instrument's voltage; the next
            // visit finds the default again.
            QVERIFY(links.Send("MEAS:VOLT?\r\n").Ok());
            QByteArray text;
            links.ReadResponse(text);
            QCOMPARE(text, QByteArray("1.250\r\n"));
            QVERIFY(links.Send("SOUR:VOLT 7.5\r\n").Ok());
        }
        links.ReleaseLinks();
    }

    // A missing entry point disables its direction only; the entry points
    // are looked up again at every load, so a library without one leaves no
    // trace on the next library.
    void missingEntryPoint_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<bool>("hasInput");
        QTest::addColumn<bool>("hasOutput");
        QTest::addColumn<int>("inputCalls");
        QTest::addColumn<int>("outputCalls");
        QTest::newRow("no output entry point") << variant("ordal-no-output") << true << false << 1 << 0;
        QTest::newRow("no input entry point") << variant("ordal-no-input") << false << true << 0 << 1;
    }

    void missingEntryPoint()
    {
        QFETCH(QString, library);
        QFETCH(bool, hasInput);
        QFETCH(bool, hasOutput);
        QFETCH(int, inputCalls);
        QFETCH(int, outputCalls);
        CLinkDispatch links(&m_hooks);
        prepare(links, LINK_ORDAL);
        LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).SetLibraryName(library);

        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).IsLoaded());
        QCOMPARE(LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).HasInput(), hasInput);
        QCOMPARE(LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).HasOutput(), hasOutput);
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        QCOMPARE(text, QByteArray());
        QCOMPARE(simCalls("libordal.so", "TallixSimInputCalls"), inputCalls);
        QCOMPARE(simCalls("libordal.so", "TallixSimOutputCalls"), outputCalls);

        links.Choose(LINK_LUMEC);
        QVERIFY(links.ConnectLinks().Ok());
        LinkAs<CMessageLibraryLink>(links, LINK_ORDAL)
            .SetLibraryName(QStringLiteral(TALLIX_SIM_LIBDIR "/libordal.so"));
        links.Choose(LINK_ORDAL);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).HasInput());
        QVERIFY(LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).HasOutput());
        QVERIFY(links.Send("*IDN?\r\n").Ok());
        links.ReadResponse(text);
        QCOMPARE(text, QByteArray(IDENTITY));
        links.ReleaseLinks();
        QVERIFY(m_messages.isEmpty());
    }

    // What comes back is the text up to the first NUL of the buffer, and
    // never more than 4048 bytes, whatever the library writes.
    void outputBuffer_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("logged");
        const QByteArray fill(RESPONSE_BUFFER_SIZE - int(std::strlen(IDENTITY)), '#');
        QTest::newRow("fills all 4048 bytes without a NUL")
            << variant("ordal-no-nul") << QByteArray(IDENTITY) + fill
            << "*IDN?\r\n>" + QByteArray(IDENTITY) + ">" + fill + "\r\n";
        QTest::newRow("writes nothing") << variant("ordal-silent") << QByteArray() << QByteArray("*IDN?\r\n");
        QTest::newRow("well behaved") << QStringLiteral(TALLIX_SIM_LIBDIR "/libordal.so")
                                      << QByteArray(IDENTITY) << "*IDN?\r\n>" + QByteArray(IDENTITY);
    }

    void outputBuffer()
    {
        QFETCH(QString, library);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, logged);
        CLinkDispatch links(&m_hooks);
        prepare(links, LINK_ORDAL);
        LinkAs<CMessageLibraryLink>(links, LINK_ORDAL).SetLibraryName(library);
        QVERIFY(links.ConnectLinks().Ok());
        QVERIFY(links.Send("*IDN?\r\n").Ok());

        // The buffer's last byte is the console's, whatever it held before.
        char buffer[RESPONSE_BUFFER_SIZE + 2];
        std::memset(buffer, 'x', sizeof buffer);
        buffer[0] = '\0';
        LinkAs<CMessageLibraryLink>(links, LINK_ORDAL)
            .ReadOutputMsg(LogBuffer(buffer, RESPONSE_BUFFER_SIZE + 1));
        QCOMPARE(buffer[RESPONSE_BUFFER_SIZE], '\0');
        QCOMPARE(buffer[RESPONSE_BUFFER_SIZE + 1], 'x');
        QCOMPARE(QByteArray(buffer), expected);

        QByteArray text;
        QVERIFY(links.ReadResponse(text).Ok());
        QCOMPARE(text, expected);

        const QString path = m_dir.filePath(QStringLiteral("buffer.log"));
        QFile::remove(path);
        CCommandFiles files;
        CResponseLog &log = files.Log();
        QVERIFY(log.Open(path));
        CCommandSender sender(links, files, &m_hooks);
        QVERIFY(sender.SendCommand("*IDN?\r\n").Ok());
        log.Close();
        QCOMPARE(readFile(path), logged);
        links.ReleaseLinks();
    }
};

QTEST_GUILESS_MAIN(TestMessageLibraryLink)
#include "tst_messagelibrarylink.moc"
