// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/socket/SocketSession.h"

#include "common/ReplyFramer.h"
#include "common/SystemError.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

namespace {

// One name lookup as the thread runs it: what it asks and what it found stay
// here, where a lookup that outlives a stopped wait still finds them.
struct CLookup
{
    CLookup() = default;
    ~CLookup()
    {
        if (found)
            freeaddrinfo(found);
    }
    CLookup(const CLookup &) = delete;
    CLookup &operator=(const CLookup &) = delete;

    void Run()
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        status = getaddrinfo(host.constData(), port.constData(), &hints, &found);
    }

    QByteArray host;
    QByteArray port;
    addrinfo *found = nullptr;
    int status = 0;
};

} // namespace

CSocketSession::CSocketSession(const CResource &resource, const CSessionOptions &options)
    : CSession(options), m_resource(resource)
{
}

std::unique_ptr<CSession> CSocketSession::Make(const CResource &resource, const CSessionOptions &options)
{
    return std::make_unique<CSocketSession>(resource, options);
}

QString CSocketSession::Where() const
{
    const QString host =
        m_resource.host.contains(u':') ? QStringLiteral("[%1]").arg(m_resource.host) : m_resource.host;
    return QStringLiteral("%1:%2").arg(host).arg(m_resource.port);
}

bool CSocketSession::Open(QString &error)
{
    m_connection.Close();
    auto lookup = std::make_shared<CLookup>();
    lookup->host = m_resource.host.toUtf8();
    lookup->port = QByteArray::number(m_resource.port);
    // The resolver cannot be cut short: a lookup that the user stops goes
    // on by itself, and the next open waits for it.
    QString threadError;
    const CallEnd looked = RunCall(
        m_lookups, m_options.hooks, [lookup]() { lookup->Run(); }, WaitProgress(m_options.openTimeoutMs), {},
        std::chrono::milliseconds{0}, &threadError);
    if (looked == CallEnd::Stopped) {
        error = QStringLiteral("Connecting to %1 was stopped").arg(Where());
        return false;
    }
    if (looked == CallEnd::NotStarted) {
        error = QStringLiteral("Cannot find the host %1: %2").arg(m_resource.host, threadError);
        return false;
    }
    if (lookup->status != 0) {
        error = QStringLiteral("Cannot find the host %1: %2")
                    .arg(m_resource.host, QString::fromLocal8Bit(gai_strerror(lookup->status)));
        return false;
    }
    // Each address the name has, in the order the system gives them, until
    // one answers; the last failure is the one reported.
    CTcpConnection::WaitResult result;
    for (const addrinfo *a = lookup->found; a; a = a->ai_next) {
        result = m_connection.Connect(a->ai_addr, a->ai_addrlen, m_options.openTimeoutMs, m_options.hooks);
        if (result.end == CTcpConnection::WaitEnd::Event && result.error == 0)
            break;
    }
    if (m_connection.IsOpen())
        return true;
    switch (result.end) {
    case CTcpConnection::WaitEnd::Deadline:
        error = QStringLiteral("Cannot connect to %1: no answer within %L2 s")
                    .arg(Where())
                    .arg(m_options.openTimeoutMs / 1000.0);
        break;
    case CTcpConnection::WaitEnd::Stopped:
        error = QStringLiteral("Connecting to %1 was stopped").arg(Where());
        break;
    case CTcpConnection::WaitEnd::Dead:
        error = QStringLiteral("Cannot connect to %1: the socket is dead").arg(Where());
        break;
    case CTcpConnection::WaitEnd::Event:
        error = QStringLiteral("Cannot connect to %1: %2").arg(Where(), SystemErrorText(result.error));
        break;
    }
    return false;
}

bool CSocketSession::Write(std::string_view data, QString &error)
{
    if (!m_connection.IsOpen()) {
        error = QStringLiteral("Error sending message: %1").arg(SystemErrorText(ENOTCONN));
        return false;
    }
    const int failure =
        m_connection.SendAll(data.data(), data.size(), m_options.ioTimeoutMs, m_options.hooks);
    if (failure == 0)
        return true;
    // What went out of a command that did not go whole leaves the
    // instrument's parser in the middle of a line: only a new connection
    // starts it afresh.
    m_connection.Close();
    if (failure == ECANCELED)
        error = QStringLiteral("Sending the message to %1 stopped; the connection was closed").arg(Where());
    else
        error = QStringLiteral("Error sending message to %1: %2").arg(Where(), SystemErrorText(failure));
    return false;
}

bool CSocketSession::Read(CReply &reply, QString &error)
{
    reply = CReply();
    if (!m_connection.IsOpen()) {
        error = QStringLiteral("Error requesting response: %1").arg(SystemErrorText(ENOTCONN));
        return false;
    }
    CReplyFramer framer(ReplyEnd::Lf, m_options.maxReplyBytes);
    const CTcpConnection::ReadResult result =
        m_connection.ReadReply(framer, m_options.ioTimeoutMs, m_options.hooks);
    const std::int64_t came = framer.Received();
    reply = framer.Take();
    if (result.end == CTcpConnection::ReadEnd::Complete)
        return true;
    // Whatever of the reply is still on its way would be taken for the next
    // one: the connection goes, and the next command connects anew.
    m_connection.Close();
    switch (result.end) {
    case CTcpConnection::ReadEnd::NothingCame:
        error = QStringLiteral("Error waiting for response: No response");
        break;
    case CTcpConnection::ReadEnd::Stalled:
        error = QStringLiteral("Error waiting for response: ") + PartialReplyText(came);
        break;
    case CTcpConnection::ReadEnd::Stopped:
        error = QStringLiteral("Error waiting for response: ") + StoppedReplyText(came);
        break;
    case CTcpConnection::ReadEnd::Dead:
        error = QStringLiteral("Error waiting for response: Socket is dead");
        break;
    case CTcpConnection::ReadEnd::Closed:
        error = QStringLiteral("Error receiving response: ") + ClosedReplyText(came);
        break;
    case CTcpConnection::ReadEnd::Failed:
        error = QStringLiteral("Error receiving response: ") + SystemErrorText(result.error);
        break;
    case CTcpConnection::ReadEnd::Complete:
        break;
    }
    return false;
}

bool CSocketSession::ReadStatusByte(std::uint8_t &, QString &error)
{
    error = QStringLiteral("Resource '%1': a raw socket has no serial poll; ask the instrument with *STB?")
                .arg(m_resource.text);
    return false;
}

bool CSocketSession::Clear(QString &error)
{
    error = QStringLiteral("Resource '%1': a raw socket has no device clear; send *CLS, or reconnect")
                .arg(m_resource.text);
    return false;
}
