// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/TcpLink.h"

#include "common/ReplyFramer.h"
#include "common/SystemError.h"
#include "common/UiHooks.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr std::size_t REQUEST_LENGTH = sizeof RESPONSE_REQUEST - 1;

using Clock = CTcpConnection::Clock;
using WaitEnd = CTcpConnection::WaitEnd;
using ReadEnd = CTcpConnection::ReadEnd;

} // namespace

CTcpLink::CTcpLink(const CLinkContext &context) : CLink(context) {}

CTcpLink::~CTcpLink()
{
    DropSocket();
}

CResult CTcpLink::Update(bool chosen)
{
    BeginOperation();
    return Outcome(ConnectSocket(chosen, m_context.ipAddressText ? m_context.ipAddressText() : QString()) !=
                   0);
}

CResult CTcpLink::Send(std::string_view line)
{
    BeginOperation();
    return Outcome(SendSocketCommand(line) != 0);
}

void CTcpLink::ReadReply(CReply &reply, bool forLog)
{
    reply.Reset();
    if (!HasSocket())
        return;
    if (!m_context.options.askForReply) {
        ReadWholeReply(reply);
        return;
    }
    char buffer[RESPONSE_BUFFER_SIZE + 1];
    buffer[0] = '\0';
    const int received = ReadSocketResponse(buffer);
    if (received <= 0)
        return;
    // The log takes the text, which ends at its first NUL; the window gets
    // every byte received, for the view of the raw bytes.
    reply.bytes = forLog ? QByteArray(buffer) : QByteArray(buffer, received);
    reply.total = reply.bytes.size();
}

CResult CTcpLink::ReadForLog(CReply &reply)
{
    // An instrument that is not asked answers queries only: after any other
    // line there is nothing to wait for.
    if (!ExpectsReply()) {
        reply.Reset();
        return CResult();
    }
    BeginOperation();
    ReadReply(reply, true);
    return Outcome();
}

CResult CTcpLink::ReadForDisplay(CReply &reply)
{
    BeginOperation();
    ReadReply(reply, false);
    return Outcome();
}

void CTcpLink::DropSocket()
{
    m_connection.Close();
}

void CTcpLink::FailWait(const QString &text)
{
    ReportFailure(QStringLiteral("Error waiting for response: ") + text);
    DropSocket();
}

void CTcpLink::CheckAddress(std::uint32_t controlAddress)
{
    const std::uint32_t previous = m_ipAddress;
    m_ipAddress = controlAddress;
    if (m_ipAddress != previous)
        DropSocket();
}

int CTcpLink::ConnectSocket(bool chosen, const QString &ipText)
{
    if (!chosen) {
        DropSocket();
        return 1;
    }
    // Another port is another server: the connection to the old one goes.
    if (HasSocket() && m_port != m_context.options.tcpPort)
        DropSocket();
    if (HasSocket())
        return 1; // the connection is not tested
    m_port = m_context.options.tcpPort;

    CWaitScope wait(Hooks());
    CTcpConnection::WaitResult result{WaitEnd::Event, 0};
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(m_port));
    const QByteArray text = ipText.toLatin1();
    if (inet_pton(AF_INET, text.constData(), &peer.sin_addr) != 1) {
        // The address control always gives four dotted numbers; anything
        // else is refused the way the system refuses a bad argument.
        result.error = EINVAL;
    } else if (peer.sin_addr.s_addr == htonl(INADDR_ANY)) {
        // Linux connects 0.0.0.0 to this machine, so the blank address of a
        // first run would reach whatever listens here. It names no server:
        // refused as an address that cannot be reached.
        result.error = EADDRNOTAVAIL;
    } else {
        result = m_connection.Connect(reinterpret_cast<const sockaddr *>(&peer), sizeof peer,
                                      m_context.options.connectTimeoutMs, m_context.hooks);
    }
    if (result.end == WaitEnd::Event && result.error == 0) {
        m_connection.UseReceiveTimeout(m_context.options.replyTimeoutMs);
        return 1;
    }

    QString message;
    if (result.end == WaitEnd::Dead)
        message = QStringLiteral("Socket is dead");
    else if (result.end == WaitEnd::Deadline)
        message = QStringLiteral("Cannot connect to server");
    else if (result.end == WaitEnd::Stopped)
        message = QStringLiteral("Connecting to the server was stopped.");
    else
        message = SystemErrorText(result.error);
    ReportFailure(message);
    DropSocket();
    return 0;
}

int CTcpLink::SendSocketCommand(std::string_view line)
{
    // A batch whose log read dropped the connection still has lines to send;
    // they must not touch a socket that is gone.
    if (!HasSocket()) {
        ReportFailure(QStringLiteral("Error sending message: ") + SystemErrorText(ENOTCONN));
        return 0;
    }

    m_lastLineWasQuery = line.find('?') != std::string_view::npos;
    const std::size_t length = line.size();
    const ssize_t sent = m_connection.SendNow(line.data(), length);
    if (sent < 0) {
        const int error = errno;
        ReportFailure(QStringLiteral("Error sending message: ") + SystemErrorText(error));
        DropSocket();
        return 0;
    }
    if (static_cast<std::size_t>(sent) == length)
        return 1;
    ReportFailure(QStringLiteral("Characters in message: %1, Characters sent: %2")
                      .arg(static_cast<qulonglong>(length))
                      .arg(static_cast<qlonglong>(sent)));
    DropSocket();
    return 0;
}

int CTcpLink::ReadSocketResponse(char *buffer)
{
    if (!HasSocket()) {
        ReportFailure(QStringLiteral("Error requesting response: ") + SystemErrorText(ENOTCONN));
        return -1;
    }
    const CLinkOptions &options = m_context.options;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.replyTimeoutMs);

    // A short send of the request is not an error: the server answers what
    // it got, or the wait below runs out.
    if (m_connection.SendNow(RESPONSE_REQUEST, REQUEST_LENGTH) < 0) {
        const int error = errno;
        ReportFailure(QStringLiteral("Error requesting response: ") + SystemErrorText(error));
        DropSocket();
        return -1;
    }

    // One receive: a longer reply, or the rest of one still on its way, stays
    // in the connection.
    ssize_t received = -1;
    if (m_connection.UseReceiveTimeout(options.replyTimeoutMs) && !Hooks().Pulses()) {
        // Data, or an orderly close, that came before an error is received
        // first; an error here is what the wait ended with.
        received = m_connection.Receive(buffer, RESPONSE_BUFFER_SIZE, true);
        if (received < 0) {
            const int error = errno;
            if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
                FailWait(error == EBADF || error == ENOTSOCK ? QStringLiteral("Socket is dead")
                                                             : SystemErrorText(error));
                return -1;
            }
        }
    }
    if (received < 0) {
        // Nothing yet: the rest of the wait, to the deadline.
        if (!WaitForReply(deadline))
            return -1;
        received = m_connection.Receive(buffer, RESPONSE_BUFFER_SIZE, false);
        if (received < 0) {
            const int error = errno;
            DropSocket();
            ReportFailure(QStringLiteral("Error receiving response: ") + SystemErrorText(error));
            return -1;
        }
    }
    buffer[received] = '\0';
    return static_cast<int>(received);
}

bool CTcpLink::WaitForReply(Clock::time_point deadline)
{
    const CTcpConnection::WaitResult result = m_connection.WaitReadable(deadline, m_context.hooks);
    if (result.end == WaitEnd::Event && result.error == 0)
        return true;
    if (result.end == WaitEnd::Dead)
        FailWait(QStringLiteral("Socket is dead"));
    else if (result.end == WaitEnd::Deadline)
        FailWait(QStringLiteral("No response"));
    else if (result.end == WaitEnd::Stopped)
        FailWait(QStringLiteral("stopped"));
    else
        FailWait(SystemErrorText(result.error));
    return false;
}

bool CTcpLink::ReadWholeReply(CReply &reply)
{
    reply.Reset();
    if (!HasSocket()) {
        ReportFailure(QStringLiteral("Error requesting response: ") + SystemErrorText(ENOTCONN));
        return false;
    }
    CReplyFramer framer(ReplyEnd::Lf, m_context.options.maxReplyBytes);
    const CTcpConnection::ReadResult result =
        m_connection.ReadReply(framer, m_context.options.replyTimeoutMs, m_context.hooks);
    const std::int64_t came = framer.Received();
    if (result.end == ReadEnd::Complete) {
        reply = framer.Take();
        ReportIfCut(reply);
        return true;
    }
    // Whatever of the reply is still on its way would be taken for the next
    // one: the connection goes, and the next command connects anew.
    switch (result.end) {
    case ReadEnd::NothingCame:
        FailWait(QStringLiteral("No response"));
        break;
    case ReadEnd::Stalled:
        FailWait(PartialReplyText(came));
        break;
    case ReadEnd::Dead:
        FailWait(QStringLiteral("Socket is dead"));
        break;
    case ReadEnd::Stopped:
        FailWait(StoppedReplyText(came));
        break;
    case ReadEnd::Closed:
        DropSocket();
        ReportFailure(QStringLiteral("Error receiving response: ") + ClosedReplyText(came));
        break;
    case ReadEnd::Failed:
        DropSocket();
        ReportFailure(QStringLiteral("Error receiving response: ") + SystemErrorText(result.error));
        break;
    case ReadEnd::Complete:
        break;
    }
    return false;
}

std::vector<CLinkSettingsGroup> CTcpLink::SettingsGroups() const
{
    using Shown = CLinkSetting::Shown;
    CLinkSettingsGroup group{QStringLiteral("TCP/IP"), {}};
    group.settings = {
        CLinkSetting::Field("TCPIP", "Port", Shown::Number, QStringLiteral("&Port:"), 1, 65535,
                            &CLinkOptions::tcpPort),
        CLinkSetting::Field("TCPIP", "ConnectTimeoutMs", Shown::WholeSeconds,
                            QStringLiteral("&Connect time-out:"), 1000, 600000,
                            &CLinkOptions::connectTimeoutMs),
        CLinkSetting::Field("TCPIP", "ReplyTimeoutMs", Shown::Seconds, QStringLiteral("&Reply time-out:"),
                            100, 600000, &CLinkOptions::replyTimeoutMs),
        CLinkSetting::Field(
            "TCPIP", "RequestLine", Shown::Check, QStringLiteral("As&k for each reply"), 0, 1,
            &CLinkOptions::askForReply, {},
            QStringLiteral(
                "Send \"Please respond\" before each read. Turn it off for an instrument that answers its "
                "queries by itself (SCPI over a raw socket): each reply is then read whole, once.")),
    };
    return {group};
}

QString CTcpLink::Target() const
{
    // Asked for every command of a batch: made anew only when it changed.
    if (m_targetAddress == m_ipAddress && m_targetPort == m_port && !m_target.isEmpty())
        return m_target;
    m_targetAddress = m_ipAddress;
    m_targetPort = m_port;
    return m_target = QStringLiteral("%1.%2.%3.%4:%5")
                          .arg(m_ipAddress >> 24)
                          .arg((m_ipAddress >> 16) & 0xFF)
                          .arg((m_ipAddress >> 8) & 0xFF)
                          .arg(m_ipAddress & 0xFF)
                          .arg(m_port);
}
