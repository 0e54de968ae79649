// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/SystemError.h"
#include "common/UiHooks.h"
#include "links/GpibLink.h"
#include "links/LinkDispatch.h"
#include "links/TcpLink.h"
#include "tests/links/LinkAccess.h"
#include "tests/sim/InstrumentReplies.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

// Shared by the TCP/IP link tests: the simulated instrument server as a child
// process, loopback addresses of their own, and the window as far as the link
// sees it.
namespace tcptest {

// One tallix-instrument-server process, with the lines it printed.
class CServer
{
public:
    enum Outcome
    {
        Listening,
        NeedsPrivilege,
        Failed,
    };

    ~CServer() { Stop(); }

    Outcome Start(const QString &address, const QStringList &options)
    {
        m_process.setProgram(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-instrument-server"));
        m_process.setArguments(QStringList{QStringLiteral("--address"), address} + options);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return Failed;
        if (WaitForLine(QStringLiteral("listening on "), 10000))
            return Listening;
        m_process.waitForFinished(5000);
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 2 ? NeedsPrivilege
                                                                                           : Failed;
    }

    // Waits for the next line, after those already waited for, that starts
    // with `prefix`.
    bool WaitForLine(const QString &prefix, int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            TakeOutput();
            for (qsizetype i = m_next; i < m_lines.size(); ++i) {
                if (m_lines[i].startsWith(prefix)) {
                    m_next = i + 1;
                    return true;
                }
            }
            if (m_process.state() == QProcess::NotRunning || deadline.hasExpired())
                return false;
            m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        }
    }

    // Ends the server as a user would; returns its exit code, -1 when it
    // did not exit by itself.
    int Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
            return -1;
        }
        TakeOutput();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    // Ends the server at once, as a crash would: no handler runs, and the
    // system closes its sockets.
    bool Kill()
    {
        m_process.kill();
        return m_process.waitForFinished(5000);
    }

    qsizetype Count(const QString &prefix)
    {
        TakeOutput();
        qsizetype n = 0;
        for (const QString &line : std::as_const(m_lines))
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    QString Errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

private:
    void TakeOutput()
    {
        m_partial += m_process.readAllStandardOutput();
        qsizetype eol;
        while ((eol = m_partial.indexOf('\n')) >= 0) {
            m_lines << QString::fromLatin1(m_partial.left(eol));
            m_partial.remove(0, eol + 1);
        }
    }

    QProcess m_process;
    QByteArray m_partial;
    QStringList m_lines;
    qsizetype m_next = 0;
};

#define START_SERVER(server, address, ...)                                                                   \
    do {                                                                                                     \
        const auto outcome_ = (server).Start((address), QStringList{__VA_ARGS__});                           \
        if (outcome_ == CServer::NeedsPrivilege)                                                             \
            QSKIP("tallix-instrument-server may not bind port 700: run as root or grant it "                 \
                  "CAP_NET_BIND_SERVICE");                                                                   \
        QVERIFY2(outcome_ == CServer::Listening, qPrintable((server).Errors()));                             \
    } while (false)

// Each test talks to its own loopback address. Every test program passes its
// own `program` number, the second octet, so that two programs running at once
// never share an address; the third octet comes from the process id so that
// two builds running the same program at once do not collide either.
inline QString NextAddress(int program)
{
    static const int block = 16 + static_cast<int>(getpid() % 200);
    static int host = 2;
    return QStringLiteral("127.%1.%2.%3").arg(program).arg(block).arg(host++);
}

inline std::uint32_t AddressNumber(const QString &text)
{
    in_addr address{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &address) != 1)
        return 0;
    return ntohl(address.s_addr);
}

inline QString ErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

inline QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline const QByteArray IDENTITY = QByteArrayLiteral("KORVANE,TALLIX-SIM,SN0001,1.0\r\n");

// The window as far as the TCP/IP link sees it: an IP control whose text the
// connect reads and whose address the data exchange checks, a message box and
// a wait cursor that record what they were asked to show.
class CConsole
{
public:
    explicit CConsole(const QString &address) : m_links(&m_hooks), m_address(address)
    {
        m_hooks.showMessage = [this](const QString &text) { m_messages << text; };
        m_hooks.beginWait = [this]() { ++m_waitBegins; };
        m_hooks.endWait = [this]() { ++m_waitEnds; };
        m_links.Choose(LINK_TCPIP);
        Gpib(m_links).SetLibraryName(QStringLiteral("/nonexistent/libgpib-32.so"));
        m_links.SetIpAddressText([this]() { return m_address; });
        m_links.SetRefreshMembers([this]() { Tcp(m_links).CheckAddress(AddressNumber(m_address)); });
        Tcp(m_links).m_ipAddress = AddressNumber(address); // as the window's set-up leaves it
    }

    QByteArray Read()
    {
        QByteArray text;
        m_links.ReadResponse(text);
        return text;
    }

    CUiHooks m_hooks;
    QStringList m_messages;
    int m_waitBegins = 0;
    int m_waitEnds = 0;
    CLinkDispatch m_links;
    QString m_address;
};

} // namespace tcptest
