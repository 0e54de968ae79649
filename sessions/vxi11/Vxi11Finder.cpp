// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/vxi11/Vxi11Finder.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <rpc/rpc.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/pmap_prot.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vxi11.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

constexpr std::uint16_t PORTMAPPER_PORT = 111;
// The call goes out again once, for a datagram that got lost on the way.
constexpr int RESEND_AFTER_MS = 300;
// How often `cancelled` is looked at while answers are awaited.
constexpr int CANCEL_SLICE_MS = 50;

// A file descriptor closed when the scope ends.
class CSocket
{
public:
    explicit CSocket(int fd) : m_fd(fd) {}
    ~CSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CSocket(const CSocket &) = delete;
    CSocket &operator=(const CSocket &) = delete;
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

// The GETPORT call for the core channel over TCP, encoded by libtirpc.
std::size_t EncodeCall(std::uint32_t xid, char *buffer, std::size_t size)
{
    XDR xdr;
    xdrmem_create(&xdr, buffer, static_cast<u_int>(size), XDR_ENCODE);
    rpc_msg call{};
    call.rm_xid = xid;
    call.rm_direction = CALL;
    call.rm_call.cb_rpcvers = RPC_MSG_VERSION;
    call.rm_call.cb_prog = PMAPPROG;
    call.rm_call.cb_vers = PMAPVERS;
    call.rm_call.cb_proc = PMAPPROC_GETPORT;
    call.rm_call.cb_cred = _null_auth;
    call.rm_call.cb_verf = _null_auth;
    pmap query{DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP, 0};
    const bool ok = xdr_callmsg(&xdr, &call) && xdr_pmap(&xdr, &query);
    const std::size_t length = ok ? xdr_getpos(&xdr) : 0;
    xdr_destroy(&xdr);
    return length;
}

// An enum of libtirpc's as the bytes decoded it: a peer may send any number,
// and no value outside the enum may be read as one.
template <typename E> std::int32_t Raw(const E &value)
{
    static_assert(sizeof(E) == sizeof(std::int32_t));
    std::int32_t raw;
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
}

} // namespace

std::uint16_t CVxi11Finder::PortInAnswer(std::uint32_t xid, const char *data, std::size_t size)
{
    // Anyone on the network can send a datagram to the finder's port, and
    // the broadcast shows its xid to all: only a whole, well-formed reply to
    // this very call, accepted and successful, with nothing after its
    // result, names an instrument.
    if (size == 0 || size > MAX_ANSWER_BYTES)
        return 0;
    XDR xdr;
    xdrmem_create(&xdr, const_cast<char *>(data), static_cast<u_int>(size), XDR_DECODE);
    char verifier[MAX_AUTH_BYTES];
    u_long port = 0;
    rpc_msg reply{};
    reply.acpted_rply.ar_verf.oa_base = verifier;
    reply.acpted_rply.ar_results.where = reinterpret_cast<char *>(&port);
    reply.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(xdr_u_long);
    const bool ok = xdr_replymsg(&xdr, &reply) && reply.rm_xid == xid && Raw(reply.rm_direction) == REPLY &&
                    Raw(reply.rm_reply.rp_stat) == MSG_ACCEPTED &&
                    Raw(reply.acpted_rply.ar_stat) == SUCCESS && xdr_getpos(&xdr) == size;
    xdr_destroy(&xdr);
    return ok && port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

std::unique_ptr<CFinder> CVxi11Finder::Make()
{
    return std::make_unique<CVxi11Finder>();
}

QString CVxi11Finder::Name() const
{
    return QStringLiteral("VXI-11 instruments on the local networks");
}

std::vector<std::uint32_t> CVxi11Finder::BroadcastAddresses()
{
    std::vector<std::uint32_t> addresses;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || (entry->ifa_flags & IFF_UP) == 0)
            continue;
        std::uint32_t address = 0;
        if ((entry->ifa_flags & IFF_BROADCAST) != 0 && entry->ifa_broadaddr)
            address = reinterpret_cast<const sockaddr_in *>(entry->ifa_broadaddr)->sin_addr.s_addr;
        else if ((entry->ifa_flags & IFF_LOOPBACK) != 0 && entry->ifa_netmask)
            address = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr.s_addr |
                      ~reinterpret_cast<const sockaddr_in *>(entry->ifa_netmask)->sin_addr.s_addr;
        if (address != 0 && std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
    }
    ::freeifaddrs(list);
    return addresses;
}

void CVxi11Finder::Find(const std::function<void(const CFoundResource &)> &found,
                        const std::atomic<bool> &cancelled)
{
    const CSocket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.Fd() < 0)
        return;
    const int on = 1;
    ::setsockopt(socket.Fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    const std::uint32_t xid = QRandomGenerator::global()->generate();
    char call[256];
    const std::size_t callLength = EncodeCall(xid, call, sizeof call);
    if (callLength == 0)
        return;
    const std::vector<std::uint32_t> targets = BroadcastAddresses();
    auto send = [&] {
        for (const std::uint32_t target : targets) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(PORTMAPPER_PORT);
            to.sin_addr.s_addr = target;
            ::sendto(socket.Fd(), call, callLength, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        }
    };

    std::set<std::uint32_t> seen;
    QElapsedTimer clock;
    clock.start();
    send();
    bool resent = false;
    while (!cancelled.load() && clock.elapsed() < m_waitMs) {
        if (!resent && clock.elapsed() >= RESEND_AFTER_MS) {
            send();
            resent = true;
        }
        pollfd ready{socket.Fd(), POLLIN, 0};
        if (::poll(&ready, 1, CANCEL_SLICE_MS) <= 0)
            continue;
        char answer[MAX_ANSWER_BYTES + 1];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(socket.Fd(), answer, sizeof answer, 0,
                                       reinterpret_cast<sockaddr *>(&from), &fromLength);
        // A portmapper answers from its own port.
        if (got <= 0 || fromLength != sizeof from || from.sin_family != AF_INET ||
            from.sin_port != htons(PORTMAPPER_PORT))
            continue;
        const std::uint16_t port = PortInAnswer(xid, answer, static_cast<std::size_t>(got));
        if (port == 0 || !seen.insert(from.sin_addr.s_addr).second)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        found(CFoundResource{QStringLiteral("TCPIP::%1::INSTR").arg(QLatin1String(text)),
                             QStringLiteral("VXI-11 instrument, core channel on TCP port %1").arg(port),
                             true});
    }
}
