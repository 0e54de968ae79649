// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim/model/InstrumentModel.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <rpc/rpc.h>

#include <vxi11.h>

namespace tallixsim {

// How the simulated VXI-11 instrument behaves; the defaults make a
// well-behaved LAN instrument with one device, inst0.
struct Vxi11Options
{
    std::string address = "127.0.0.1";
    int port = 0; // the core channel's; 0: one the system picks
    std::vector<std::string> devices;
    unsigned int maxRecvSize = 65536;
    unsigned int takeAtMost = 0; // the most one write is taken of; 0: all
    unsigned int maxRead = 0;    // the most one read hands back; 0: what it asks for
    bool locked = false;         // another link holds every device's lock for good
    long lateMs = 0;             // a read answers this late, whatever its time-out
    long lateReads = -1;         // how many reads are late; -1: all
    bool portmapper = false;     // answer the portmapper's GETPORT on port 111
    // Instead: take connections on TCP port 111, read them and never answer.
    bool silentPortmapper = false;
    // A write, a clear or a create_link is answered this late (0: at once);
    // an abort ends a held write or clear at once, with error 23.
    long holdWriteMs = 0;
    long holdClearMs = 0;
    long holdCreateLinkMs = 0;
    long holdCount = -1; // how many of each held call are held; -1: all
    std::string tracePath;
};

// A VXI-11 instrument: the core and abort channels (and, with `portmapper`,
// the portmapper) served by libtirpc from the dispatch that rpcgen made, in
// one thread. A call that has to wait (a reply that comes late, a lock that
// is held) is answered later from the loop, so that an abort can still come
// in over the abort channel meanwhile; its connection is not read until then.
class Vxi11Server
{
public:
    explicit Vxi11Server(Vxi11Options options);
    ~Vxi11Server();
    Vxi11Server(const Vxi11Server &) = delete;
    Vxi11Server &operator=(const Vxi11Server &) = delete;

    // Binds and listens; on failure prints why and returns the exit code.
    int Listen();
    // Serves until `stop` becomes non-zero. SIGTERM and SIGINT must be
    // blocked by the caller; they get through only inside the waits.
    int Run(volatile std::sig_atomic_t &stop);

    // The procedures, called from the generated dispatch. false: the answer
    // goes out later.
    bool CreateLink(const Create_LinkParms &parms, Create_LinkResp &result, svc_req *request);
    bool Write(const Device_WriteParms &parms, Device_WriteResp &result, svc_req *request);
    bool Read(const Device_ReadParms &parms, Device_ReadResp &result, svc_req *request);
    bool ReadStatusByte(const Device_GenericParms &parms, Device_ReadStbResp &result, svc_req *request);
    bool Clear(const Device_GenericParms &parms, Device_Error &result, svc_req *request);
    bool Generic(const char *name, const Device_GenericParms &parms, Device_Error &result, svc_req *request);
    bool Lock(const Device_LockParms &parms, Device_Error &result, svc_req *request);
    bool Unlock(Device_Link link, Device_Error &result);
    bool DestroyLink(Device_Link link, Device_Error &result);
    bool Abort(Device_Link link, Device_Error &result);
    void Trace(const char *format, ...) __attribute__((format(printf, 2, 3)));
    unsigned long PortFor(unsigned long program, unsigned long version, unsigned long protocol) const;

    static Vxi11Server *Instance() { return s_instance; }

private:
    using Clock = std::chrono::steady_clock;

    struct Device
    {
        InstrumentModel model;
        std::string input; // a message that has not seen END yet
        // The reply that reads take from; it stays until the next one, since
        // an answer that is on its way points into it.
        std::string output;
        std::size_t sent = 0;
        int lockedBy = 0; // a link id; -1: the other link of `locked`
    };
    struct Link
    {
        std::string device;
        int fd = -1; // its connection
    };
    // A call answered later: at `due`, or at once with error 23 when its
    // link is aborted. `answer` sends it with the error it is given (0:
    // the call's own outcome).
    struct Deferred
    {
        SVCXPRT *transport;
        int link;
        Clock::time_point due;
        std::function<void(int)> answer;
    };

    Device *DeviceOf(int link);
    // 0, or the error of a device that another link has locked.
    int LockError(int link) const;
    // Defers the call when it may wait for the lock; false when it did.
    bool WaitForLock(int link, int flags, unsigned int lockTimeoutMs, svc_req *request,
                     const std::function<void(int)> &answer);
    void Defer(svc_req *request, int link, long ms, std::function<void(int)> answer);
    // The late answer of a call that replies with nothing but an error.
    std::function<void(int)> LateError(const char *call, int link, svc_req *request);
    void FillRead(Device &device, const Device_ReadParms &parms, Device_ReadResp &result);
    // Whether the next call of a kind that `ms` holds is held; `served`
    // counts those held so far.
    bool Holds(long ms, long &served) const;
    // What the calls do once they are answered.
    Create_LinkResp MakeLink(const std::string &name, bool lockDevice, int fd);
    Device_WriteResp TakeWrite(int link, const char *data, unsigned int size, int flags);
    int ClearDevice(int link);
    // The portmapper that never answers: its listener and connections.
    int ServeSilently(std::vector<pollfd> &fds, int ready);
    void RunDue(bool all);
    void ForgetClosedLinks();
    int BindListener(int type, int port, int &bound);

    Vxi11Options m_options;
    std::map<std::string, Device> m_devices;
    std::map<int, Link> m_links;
    std::vector<Deferred> m_deferred;
    int m_nextLink = 1;
    long m_lateServed = 0;
    long m_heldWrites = 0;
    long m_heldClears = 0;
    long m_heldLinks = 0;
    int m_silentListener = -1;
    std::vector<int> m_silentClients;
    int m_corePort = 0;
    int m_abortPort = 0;
    FILE *m_trace = nullptr;
    static Vxi11Server *s_instance;
};

} // namespace tallixsim
