// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/vxi11/RpcChannel.h"

#include "common/SystemError.h"

#include <rpc/rpc.h>

#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <rpc/pmap_prot.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace {

// libtirpc's record buffers: its most for TCP, so that a reply of a
// mebibyte arrives in few reads.
constexpr unsigned int RECORD_BUFFER = 256 * 1024;
constexpr int PORTMAPPER_PORT = 111;
// A connect looks this often whether it was cut.
constexpr int CUT_LOOK_MS = 20;

int RemainingMs(const QDeadlineTimer &deadline)
{
    return static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 0, INT32_MAX));
}

timeval ToTimeval(std::int64_t ms)
{
    ms = std::max<std::int64_t>(ms, 1);
    return timeval{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
}

QString Trimmed(const char *text)
{
    return QString::fromLocal8Bit(text).trimmed();
}

} // namespace

int CRpcChannel::ConnectBefore(const sockaddr_in &address, const QDeadlineTimer &deadline)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    auto fail = [this, fd](int error) {
        {
            std::lock_guard lock(m_lock);
            m_fd = -1;
        }
        ::close(fd);
        errno = error;
        return -1;
    };
    {
        std::lock_guard lock(m_lock);
        if (m_cut) {
            ::close(fd);
            errno = ECANCELED;
            return -1;
        }
        m_fd = fd;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS)
            return fail(errno);
        pollfd p{fd, POLLOUT, 0};
        int ready;
        for (;;) {
            ready = ::poll(&p, 1, std::min(RemainingMs(deadline), CUT_LOOK_MS));
            if (IsCut())
                return fail(ECANCELED);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready != 0 || deadline.hasExpired())
                break;
        }
        if (ready < 0)
            return fail(errno);
        if (ready == 0)
            return fail(ETIMEDOUT);
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            return fail(errno);
        if (error != 0)
            return fail(error);
    }
    // libtirpc reads and writes with blocking calls and its own poll.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

CRpcChannel::ConnectFailure CRpcChannel::Connect(const sockaddr_in &address, rpcprog_t program,
                                                 rpcvers_t version, const QDeadlineTimer &deadline,
                                                 QString &error)
{
    Close();
    const int fd = ConnectBefore(address, deadline);
    if (fd < 0) {
        const int code = errno;
        error = SystemErrorText(code);
        if (code == ECONNREFUSED)
            return ConnectFailure::Refused;
        return code == ETIMEDOUT ? ConnectFailure::TimedOut : ConnectFailure::Other;
    }
    sockaddr_in peer = address;
    const netbuf buffer{sizeof peer, sizeof peer, &peer};
    m_client = clnt_vc_create(fd, &buffer, program, version, RECORD_BUFFER, RECORD_BUFFER);
    if (!m_client) {
        error = Trimmed(clnt_spcreateerror("RPC client"));
        ::close(fd);
        return ConnectFailure::Other;
    }
    clnt_control(m_client, CLSET_FD_CLOSE, nullptr);
    return ConnectFailure::None;
}

CLIENT *CRpcChannel::Client(std::int64_t ms)
{
    if (m_client) {
        timeval wait = ToTimeval(ms);
        clnt_control(m_client, CLSET_TIMEOUT, reinterpret_cast<char *>(&wait));
    }
    return m_client;
}

QString CRpcChannel::CallError() const
{
    if (!m_client)
        return QStringLiteral("RPC: not connected");
    rpc_err detail{};
    clnt_geterr(m_client, &detail);
    QString text = Trimmed(clnt_sperrno(detail.re_status));
    if ((detail.re_status == RPC_CANTSEND || detail.re_status == RPC_CANTRECV) && detail.re_errno != 0)
        text += QStringLiteral(" (%1)").arg(SystemErrorText(detail.re_errno));
    return text;
}

void CRpcChannel::Close()
{
    {
        // The descriptor closes with the client: a Cut after this point
        // must not reach whatever file takes its number next.
        std::lock_guard lock(m_lock);
        m_fd = -1;
    }
    if (m_client)
        clnt_destroy(m_client);
    m_client = nullptr;
}

void CRpcChannel::Cut()
{
    std::lock_guard lock(m_lock);
    m_cut = true;
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
}

bool CRpcChannel::IsCut() const
{
    std::lock_guard lock(m_lock);
    return m_cut;
}

bool CRpcChannel::LookUpPort(const sockaddr_in &host, rpcprog_t program, rpcvers_t version,
                             const QDeadlineTimer &deadline, std::uint16_t &port, bool &connected,
                             QString &error)
{
    sockaddr_in address = host;
    address.sin_port = htons(PORTMAPPER_PORT);
    connected = Connect(address, PMAPPROG, PMAPVERS, deadline, error) == ConnectFailure::None;
    if (!connected)
        return false;
    pmap query{program, version, IPPROTO_TCP, 0};
    u_long answer = 0;
    CLIENT *client = Client(RemainingMs(deadline));
    // The channel's own time-out, set just above, wins over the call's.
    const timeval wait = ToTimeval(RemainingMs(deadline));
    if (clnt_call(client, PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap),
                  reinterpret_cast<char *>(&query), reinterpret_cast<xdrproc_t>(xdr_u_long),
                  reinterpret_cast<char *>(&answer), wait) != RPC_SUCCESS) {
        error = CallError();
        Close();
        return false;
    }
    Close();
    port = answer <= 65535 ? static_cast<std::uint16_t>(answer) : 0;
    return true;
}

bool CRpcChannel::Resolve(const QString &host, sockaddr_in &address, QString &error)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int status = ::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found);
    if (status != 0 || !found) {
        error = QString::fromLocal8Bit(status == EAI_SYSTEM ? "" : gai_strerror(status));
        if (status == EAI_SYSTEM)
            error = SystemErrorText(errno);
        return false;
    }
    address = *reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    ::freeaddrinfo(found);
    return true;
}
