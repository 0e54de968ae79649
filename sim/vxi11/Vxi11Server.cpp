// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/vxi11/Vxi11Server.h"

#include "sim/model/SimSupport.h"

#include <rpc/pmap_prot.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

// The dispatch that rpcgen made; it calls the *_svc procedures below.
extern "C" {
void device_core_1(struct svc_req *request, SVCXPRT *transport);
void device_async_1(struct svc_req *request, SVCXPRT *transport);
}

namespace tallixsim {

namespace {

constexpr int FLAG_WAITLOCK = 1;
constexpr int FLAG_END = 8;
constexpr int FLAG_TERMCHRSET = 128;
constexpr int REASON_REQCNT = 1;
constexpr int REASON_CHR = 2;
constexpr int REASON_END = 4;
constexpr int ERR_DEVICE_NOT_ACCESSIBLE = 3;
constexpr int ERR_INVALID_LINK = 4;
constexpr int ERR_PARAMETER = 5;
constexpr int ERR_LOCKED = 11;
constexpr int ERR_NO_LOCK = 12;
constexpr int ERR_IO_TIMEOUT = 15;
constexpr int ERR_ABORT = 23;
constexpr int PORTMAPPER_PORT = 111;
constexpr unsigned int RECORD_BUFFER = 256 * 1024;
constexpr int STATUS_MAV = 0x10;

bool SameName(const std::string &a, const std::string &b)
{
    return Upper(a) == Upper(b);
}

// The portmapper, as much of it as VXI-11 clients ask: NULL and GETPORT.
void Portmapper(struct svc_req *request, SVCXPRT *transport)
{
    switch (request->rq_proc) {
    case NULLPROC:
        svc_sendreply(transport, reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(xdr_void)),
                      nullptr);
        return;
    case PMAPPROC_GETPORT: {
        pmap query{};
        if (!svc_getargs(transport, reinterpret_cast<xdrproc_t>(xdr_pmap),
                         reinterpret_cast<caddr_t>(&query))) {
            svcerr_decode(transport);
            return;
        }
        u_long port = Vxi11Server::Instance()->PortFor(query.pm_prog, query.pm_vers, query.pm_prot);
        Vxi11Server::Instance()->Trace("portmap getport prog=0x%lx vers=%lu prot=%lu -> %lu", query.pm_prog,
                                       query.pm_vers, query.pm_prot, port);
        svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_u_long), reinterpret_cast<caddr_t>(&port));
        return;
    }
    default:
        svcerr_noproc(transport);
        return;
    }
}

} // namespace

Vxi11Server *Vxi11Server::s_instance = nullptr;

Vxi11Server::Vxi11Server(Vxi11Options options) : m_options(std::move(options))
{
    if (m_options.devices.empty())
        m_options.devices.push_back("inst0");
    if (!m_options.tracePath.empty())
        m_trace = std::fopen(m_options.tracePath.c_str(), "a");
    s_instance = this;
}

Vxi11Server::~Vxi11Server()
{
    if (m_trace)
        std::fclose(m_trace);
    s_instance = nullptr;
}

void Vxi11Server::Trace(const char *format, ...)
{
    if (!m_trace)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(m_trace, format, args);
    va_end(args);
    std::fputc('\n', m_trace);
    std::fflush(m_trace);
}

int Vxi11Server::BindListener(int type, int port, int &bound)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, m_options.address.c_str(), &address.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 16) != 0)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    bound = ntohs(address.sin_port);
    return fd;
}

int Vxi11Server::Listen()
{
    auto fail = [this](const char *what, int port) {
        std::fprintf(stderr, "tallix-vxi11-server: cannot serve %s on %s:%d: %s\n", what,
                     m_options.address.c_str(), port, std::strerror(errno));
        return 1;
    };
    const int core = BindListener(SOCK_STREAM, m_options.port, m_corePort);
    if (core < 0)
        return fail("the core channel", m_options.port);
    const int abort = BindListener(SOCK_STREAM, 0, m_abortPort);
    if (abort < 0)
        return fail("the abort channel", 0);
    // Protocol 0: registered with the dispatch only, never with a portmapper.
    SVCXPRT *coreTransport = svc_vc_create(core, RECORD_BUFFER, RECORD_BUFFER);
    SVCXPRT *abortTransport = svc_vc_create(abort, RECORD_BUFFER, RECORD_BUFFER);
    if (!coreTransport || !abortTransport ||
        !svc_register(coreTransport, DEVICE_CORE, DEVICE_CORE_VERSION, device_core_1, 0) ||
        !svc_register(abortTransport, DEVICE_ASYNC, DEVICE_ASYNC_VERSION, device_async_1, 0)) {
        std::fprintf(stderr, "tallix-vxi11-server: libtirpc would not serve the channels\n");
        return 1;
    }
    if (m_options.silentPortmapper) {
        int bound = 0;
        m_silentListener = BindListener(SOCK_STREAM, PORTMAPPER_PORT, bound);
        if (m_silentListener < 0)
            return fail("the silent portmapper", PORTMAPPER_PORT);
    } else if (m_options.portmapper) {
        int bound = 0;
        const int tcp = BindListener(SOCK_STREAM, PORTMAPPER_PORT, bound);
        if (tcp < 0)
            return fail("the portmapper", PORTMAPPER_PORT);
        const int udp = BindListener(SOCK_DGRAM, PORTMAPPER_PORT, bound);
        if (udp < 0)
            return fail("the portmapper", PORTMAPPER_PORT);
        SVCXPRT *tcpTransport = svc_vc_create(tcp, 0, 0);
        SVCXPRT *udpTransport = svc_dg_create(udp, 0, 0);
        if (!tcpTransport || !udpTransport ||
            !svc_register(tcpTransport, PMAPPROG, PMAPVERS, Portmapper, 0) ||
            !svc_register(udpTransport, PMAPPROG, PMAPVERS, Portmapper, 0)) {
            std::fprintf(stderr, "tallix-vxi11-server: libtirpc would not serve the portmapper\n");
            return 1;
        }
    }
    std::printf("listening on %s:%d\n", m_options.address.c_str(), m_corePort);
    std::fflush(stdout);
    return 0;
}

unsigned long Vxi11Server::PortFor(unsigned long program, unsigned long version, unsigned long protocol) const
{
    if (protocol != IPPROTO_TCP && !(program == PMAPPROG && protocol == IPPROTO_UDP))
        return 0;
    if (program == DEVICE_CORE && version == DEVICE_CORE_VERSION)
        return static_cast<unsigned long>(m_corePort);
    if (program == DEVICE_ASYNC && version == DEVICE_ASYNC_VERSION)
        return static_cast<unsigned long>(m_abortPort);
    if (program == PMAPPROG && version == PMAPVERS && m_options.portmapper)
        return PORTMAPPER_PORT;
    return 0;
}

int Vxi11Server::Run(volatile std::sig_atomic_t &stop)
{
    sigset_t open;
    sigprocmask(SIG_BLOCK, nullptr, &open);
    sigdelset(&open, SIGTERM);
    sigdelset(&open, SIGINT);
    std::vector<pollfd> fds;
    while (stop == 0) {
        // A connection whose call waits for its answer is not read: the
        // client sends nothing more on it before the answer, and libtirpc
        // must not close it under the waiting call.
        fds.assign(svc_pollfd, svc_pollfd + svc_max_pollfd);
        auto wake = Clock::now() + std::chrono::seconds(1);
        for (const Deferred &waiting : m_deferred) {
            wake = std::min(wake, waiting.due);
            for (pollfd &p : fds)
                if (p.fd == waiting.transport->xp_fd)
                    p.fd = -1;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
        const timespec limit{static_cast<time_t>(std::max<long long>(ms, 0) / 1000),
                             static_cast<long>(std::max<long long>(ms, 0) % 1000 * 1000000)};
        const std::size_t served = fds.size();
        if (m_silentListener >= 0) {
            fds.push_back(pollfd{m_silentListener, POLLIN, 0});
            for (const int client : m_silentClients)
                fds.push_back(pollfd{client, POLLIN, 0});
        }
        int ready = ppoll(fds.data(), fds.size(), &limit, &open);
        if (ready > 0 && m_silentListener >= 0)
            ready -= ServeSilently(fds, static_cast<int>(served));
        fds.resize(served);
        if (ready > 0)
            svc_getreq_poll(fds.data(), ready);
        RunDue(false);
        ForgetClosedLinks();
    }
    RunDue(true);
    return 0;
}

int Vxi11Server::ServeSilently(std::vector<pollfd> &fds, int first)
{
    // The portmapper that takes every connection and reads every call, and
    // answers none. Returns how many of the ready descriptors were its own.
    int own = 0;
    std::vector<int> clients;
    for (std::size_t i = static_cast<std::size_t>(first); i < fds.size(); ++i) {
        const pollfd &p = fds[i];
        if (p.revents != 0)
            ++own;
        if (p.fd == m_silentListener) {
            if (p.revents != 0) {
                const int client = ::accept4(m_silentListener, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) {
                    clients.push_back(client);
                    Trace("portmap connection taken, never answered");
                }
            }
            continue;
        }
        if (p.revents != 0) {
            char scratch[4096];
            const ssize_t got = ::recv(p.fd, scratch, sizeof scratch, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                ::close(p.fd);
                continue;
            }
            if (got > 0)
                Trace("portmap call of %zd bytes, never answered", got);
        }
        clients.push_back(p.fd);
    }
    m_silentClients = std::move(clients);
    return own;
}

bool Vxi11Server::Holds(long ms, long &served) const
{
    if (ms <= 0 || (m_options.holdCount >= 0 && served >= m_options.holdCount))
        return false;
    ++served;
    return true;
}

void Vxi11Server::RunDue(bool all)
{
    const auto now = Clock::now();
    for (std::size_t i = 0; i < m_deferred.size();) {
        if (!all && m_deferred[i].due > now) {
            ++i;
            continue;
        }
        Deferred waiting = std::move(m_deferred[i]);
        m_deferred.erase(m_deferred.begin() + static_cast<std::ptrdiff_t>(i));
        waiting.answer(0);
    }
}

void Vxi11Server::ForgetClosedLinks()
{
    for (auto it = m_links.begin(); it != m_links.end();) {
        const int fd = it->second.fd;
        const bool open = std::any_of(svc_pollfd, svc_pollfd + svc_max_pollfd,
                                      [fd](const pollfd &p) { return p.fd == fd; });
        if (open) {
            ++it;
            continue;
        }
        for (auto &[name, device] : m_devices)
            if (device.lockedBy == it->first)
                device.lockedBy = 0;
        it = m_links.erase(it);
    }
}

void Vxi11Server::Defer(svc_req *request, int link, long ms, std::function<void(int)> answer)
{
    m_deferred.push_back(
        Deferred{request->rq_xprt, link, Clock::now() + std::chrono::milliseconds(ms), std::move(answer)});
}

Vxi11Server::Device *Vxi11Server::DeviceOf(int link)
{
    const auto it = m_links.find(link);
    return it == m_links.end() ? nullptr : &m_devices[it->second.device];
}

int Vxi11Server::LockError(int link) const
{
    const auto it = m_links.find(link);
    if (it == m_links.end())
        return ERR_INVALID_LINK;
    const auto device = m_devices.find(it->second.device);
    if (m_options.locked)
        return ERR_LOCKED;
    return device != m_devices.end() && device->second.lockedBy != 0 && device->second.lockedBy != link
               ? ERR_LOCKED
               : 0;
}

bool Vxi11Server::WaitForLock(int link, int flags, unsigned int lockTimeoutMs, svc_req *request,
                              const std::function<void(int)> &answer)
{
    if (LockError(link) != ERR_LOCKED || (flags & FLAG_WAITLOCK) == 0 || lockTimeoutMs == 0)
        return true;
    // The other link keeps its lock: the call fails once its lock time-out
    // has passed (or it is aborted before).
    Defer(request, link, static_cast<long>(lockTimeoutMs),
          [answer](int error) { answer(error ? error : ERR_LOCKED); });
    return false;
}

std::function<void(int)> Vxi11Server::LateError(const char *call, int link, svc_req *request)
{
    SVCXPRT *transport = request->rq_xprt;
    return [this, call, link, transport](int error) {
        Device_Error answer{error};
        Trace("%s lid=%d -> error %d", call, link, error);
        svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Device_Error),
                      reinterpret_cast<caddr_t>(&answer));
    };
}

Create_LinkResp Vxi11Server::MakeLink(const std::string &name, bool lockDevice, int fd)
{
    Create_LinkResp result{};
    const auto known = std::find_if(m_options.devices.begin(), m_options.devices.end(),
                                    [&](const std::string &device) { return SameName(device, name); });
    if (known == m_options.devices.end()) {
        result.error = ERR_DEVICE_NOT_ACCESSIBLE;
        return result;
    }
    const int link = m_nextLink++;
    m_links[link] = Link{*known, fd};
    result.lid = link;
    result.abortPort = static_cast<unsigned short>(m_abortPort);
    result.maxRecvSize = m_options.maxRecvSize;
    if (lockDevice) {
        if (LockError(link) == 0)
            m_devices[*known].lockedBy = link;
        else
            result.error = ERR_LOCKED;
    }
    return result;
}

bool Vxi11Server::CreateLink(const Create_LinkParms &parms, Create_LinkResp &result, svc_req *request)
{
    const std::string name = parms.device ? parms.device : "";
    const int client = parms.clientId;
    const bool lock = parms.lockDevice != 0;
    SVCXPRT *transport = request->rq_xprt;
    auto trace = [this, client, name, lock](const Create_LinkResp &made) {
        Trace("create_link client=%d device=%s lock=%d -> error %d lid %d abort %u max %u", client,
              name.c_str(), lock ? 1 : 0, made.error, made.lid, made.abortPort, made.maxRecvSize);
    };
    if (Holds(m_options.holdCreateLinkMs, m_heldLinks)) {
        // No link exists yet that an abort could name: only the hold ends it.
        Defer(request, -1, m_options.holdCreateLinkMs, [this, name, lock, transport, trace](int) {
            Create_LinkResp made = MakeLink(name, lock, transport->xp_fd);
            trace(made);
            svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp),
                          reinterpret_cast<caddr_t>(&made));
        });
        return false;
    }
    result = MakeLink(name, lock, transport->xp_fd);
    trace(result);
    return true;
}

Device_WriteResp Vxi11Server::TakeWrite(int link, const char *data, unsigned int size, int flags)
{
    Device_WriteResp result{};
    Device *device = DeviceOf(link);
    if (!device)
        result.error = ERR_INVALID_LINK;
    else if (const int locked = LockError(link); locked != 0)
        result.error = locked;
    else if (size > m_options.maxRecvSize)
        result.error = ERR_PARAMETER;
    else {
        // A device that takes part of a write leaves the rest, and with it
        // the END of its last byte, to the client's next write.
        const unsigned int taken = m_options.takeAtMost > 0 ? std::min(size, m_options.takeAtMost) : size;
        device->input.append(data, taken);
        result.size = taken;
        if ((flags & FLAG_END) != 0 && taken == size) {
            std::string message;
            message.swap(device->input);
            std::size_t start = 0;
            while (start < message.size()) {
                std::size_t end = message.find('\n', start);
                if (end == std::string::npos)
                    end = message.size();
                const std::string line = Trimmed(message.substr(start, end - start));
                if (!line.empty() && device->model.command(line)) {
                    device->output = device->model.take();
                    device->sent = 0;
                }
                start = end + 1;
            }
        }
    }
    Trace("device_write lid=%d size=%u flags=%d -> error %d size %u", link, size, flags, result.error,
          result.size);
    return result;
}

bool Vxi11Server::Write(const Device_WriteParms &parms, Device_WriteResp &result, svc_req *request)
{
    const int link = parms.lid;
    const unsigned int size = parms.data.data_len;
    const int flags = parms.flags;
    SVCXPRT *transport = request->rq_xprt;
    auto later = [this, link, size, flags, transport](int error) {
        Device_WriteResp answer{error, 0};
        Trace("device_write lid=%d size=%u flags=%d -> error %d size 0", link, size, flags, error);
        svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp),
                      reinterpret_cast<caddr_t>(&answer));
    };
    if (!WaitForLock(link, flags, parms.lock_timeout, request, later))
        return false;
    if (Holds(m_options.holdWriteMs, m_heldWrites)) {
        // The device takes the bytes only when it answers; aborted, it
        // never does.
        const std::string data(parms.data.data_val, size);
        Defer(request, link, m_options.holdWriteMs, [this, link, data, flags, transport, later](int error) {
            if (error != 0)
                return later(error);
            Device_WriteResp answer =
                TakeWrite(link, data.data(), static_cast<unsigned int>(data.size()), flags);
            svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp),
                          reinterpret_cast<caddr_t>(&answer));
        });
        return false;
    }
    result = TakeWrite(link, parms.data.data_val, size, flags);
    return true;
}

void Vxi11Server::FillRead(Device &device, const Device_ReadParms &parms, Device_ReadResp &result)
{
    std::size_t count = std::min<std::size_t>(parms.requestSize, device.output.size() - device.sent);
    if (m_options.maxRead > 0)
        count = std::min<std::size_t>(count, m_options.maxRead);
    const char *start = device.output.data() + device.sent;
    result.reason = 0;
    if ((parms.flags & FLAG_TERMCHRSET) != 0) {
        if (const void *stop = std::memchr(start, parms.termChar, count)) {
            count = static_cast<std::size_t>(static_cast<const char *>(stop) - start) + 1;
            result.reason |= REASON_CHR;
        }
    }
    device.sent += count;
    if (device.sent == device.output.size())
        result.reason |= REASON_END;
    if (count == parms.requestSize)
        result.reason |= REASON_REQCNT;
    result.data.data_len = static_cast<u_int>(count);
    result.data.data_val = const_cast<char *>(start);
}

bool Vxi11Server::Read(const Device_ReadParms &parms, Device_ReadResp &result, svc_req *request)
{
    const Device_ReadParms copy = parms;
    SVCXPRT *transport = request->rq_xprt;
    result = Device_ReadResp{};
    // Answers the read now (error 0) or with the error it was given.
    auto answerNow = [this, copy](int error, Device_ReadResp &answer) {
        answer = Device_ReadResp{};
        Device *device = DeviceOf(copy.lid);
        if (error == 0 && !device)
            error = ERR_INVALID_LINK;
        if (error == 0 && device->sent >= device->output.size())
            error = ERR_IO_TIMEOUT;
        if (error == 0)
            FillRead(*device, copy, answer);
        answer.error = error;
        Trace("device_read lid=%d request=%u io=%u flags=%d -> error %d reason %d size %u", copy.lid,
              copy.requestSize, copy.io_timeout, copy.flags, answer.error, answer.reason,
              answer.data.data_len);
    };
    auto later = [answerNow, transport](int error) {
        Device_ReadResp answer{};
        answerNow(error, answer);
        svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp),
                      reinterpret_cast<caddr_t>(&answer));
    };
    if (!WaitForLock(copy.lid, copy.flags, copy.lock_timeout, request, later))
        return false;
    Device *device = DeviceOf(copy.lid);
    if (device && LockError(copy.lid) == 0) {
        if (m_options.lateMs > 0 && (m_options.lateReads < 0 || m_lateServed < m_options.lateReads)) {
            ++m_lateServed;
            Defer(request, copy.lid, m_options.lateMs, later);
            return false;
        }
        // Nothing to send yet: the device waits out the read's time-out.
        if (device->sent >= device->output.size()) {
            Defer(request, copy.lid, static_cast<long>(copy.io_timeout), later);
            return false;
        }
    }
    answerNow(device ? LockError(copy.lid) : ERR_INVALID_LINK, result);
    return true;
}

bool Vxi11Server::ReadStatusByte(const Device_GenericParms &parms, Device_ReadStbResp &result,
                                 svc_req *request)
{
    const int link = parms.lid;
    SVCXPRT *transport = request->rq_xprt;
    result = Device_ReadStbResp{};
    auto later = [this, link, transport](int error) {
        Device_ReadStbResp answer{error, 0};
        Trace("device_readstb lid=%d -> error %d stb 0x00", link, error);
        svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Device_ReadStbResp),
                      reinterpret_cast<caddr_t>(&answer));
    };
    if (!WaitForLock(link, parms.flags, parms.lock_timeout, request, later))
        return false;
    Device *device = DeviceOf(link);
    result.error = device ? LockError(link) : ERR_INVALID_LINK;
    if (result.error == 0)
        result.stb = static_cast<u_char>(device->model.serialPoll() |
                                         (device->sent < device->output.size() ? STATUS_MAV : 0));
    Trace("device_readstb lid=%d -> error %d stb 0x%02x", link, result.error, result.stb);
    return true;
}

int Vxi11Server::ClearDevice(int link)
{
    Device *device = DeviceOf(link);
    const int error = device ? LockError(link) : ERR_INVALID_LINK;
    if (error == 0) {
        device->input.clear();
        device->sent = device->output.size();
        device->model.take();
    }
    return error;
}

bool Vxi11Server::Clear(const Device_GenericParms &parms, Device_Error &result, svc_req *request)
{
    const int link = parms.lid;
    const std::function<void(int)> late = LateError("device_clear", link, request);
    if (!WaitForLock(link, parms.flags, parms.lock_timeout, request, late))
        return false;
    if (Holds(m_options.holdClearMs, m_heldClears)) {
        Defer(request, link, m_options.holdClearMs,
              [this, link, late](int error) { late(error != 0 ? error : ClearDevice(link)); });
        return false;
    }
    result.error = ClearDevice(link);
    Trace("device_clear lid=%d -> error %d", link, result.error);
    return true;
}

bool Vxi11Server::Generic(const char *name, const Device_GenericParms &parms, Device_Error &result, svc_req *)
{
    result.error = DeviceOf(parms.lid) ? LockError(parms.lid) : ERR_INVALID_LINK;
    Trace("%s lid=%d -> error %d", name, parms.lid, result.error);
    return true;
}

bool Vxi11Server::Lock(const Device_LockParms &parms, Device_Error &result, svc_req *request)
{
    const int link = parms.lid;
    if (!WaitForLock(link, parms.flags, parms.lock_timeout, request, LateError("device_lock", link, request)))
        return false;
    Device *device = DeviceOf(link);
    result.error = device ? LockError(link) : ERR_INVALID_LINK;
    if (result.error == 0)
        device->lockedBy = link;
    Trace("device_lock lid=%d -> error %d", link, result.error);
    return true;
}

bool Vxi11Server::Unlock(Device_Link link, Device_Error &result)
{
    Device *device = DeviceOf(link);
    result.error = !device ? ERR_INVALID_LINK : device->lockedBy == link ? 0 : ERR_NO_LOCK;
    if (result.error == 0)
        device->lockedBy = 0;
    Trace("device_unlock lid=%d -> error %d", link, result.error);
    return true;
}

bool Vxi11Server::DestroyLink(Device_Link link, Device_Error &result)
{
    Device *device = DeviceOf(link);
    result.error = device ? 0 : ERR_INVALID_LINK;
    if (device) {
        if (device->lockedBy == link)
            device->lockedBy = 0;
        m_links.erase(link);
    }
    Trace("destroy_link lid=%d -> error %d", link, result.error);
    return true;
}

bool Vxi11Server::Abort(Device_Link link, Device_Error &result)
{
    result.error = m_links.count(link) ? 0 : ERR_INVALID_LINK;
    Trace("device_abort lid=%d -> error %d", link, result.error);
    // The link's waiting call ends now, with error 23.
    for (std::size_t i = 0; i < m_deferred.size();) {
        if (m_deferred[i].link != link) {
            ++i;
            continue;
        }
        Deferred waiting = std::move(m_deferred[i]);
        m_deferred.erase(m_deferred.begin() + static_cast<std::ptrdiff_t>(i));
        waiting.answer(ERR_ABORT);
    }
    return true;
}

} // namespace tallixsim
