// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/Vxi11Session.h"

#include "common/ReplyFramer.h"
#include "common/UiHooks.h"
#include "sessions/RpcChannel.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <unistd.h>
#include <vxi11.h>

#include <algorithm>

namespace {

// Device_Flags: wait for another link's lock to go, END with the last byte.
constexpr Device_Flags FLAG_WAITLOCK = 1;
constexpr Device_Flags FLAG_END = 8;
// Device_ReadResp reasons: the device sent END with the last byte.
constexpr int REASON_END = 4;
constexpr int ERROR_IO_TIMEOUT = 15;
// The device's own minimum for maxRecvSize; a device that names less is
// taken at this.
constexpr std::uint32_t MIN_RECV_SIZE = 1024;
// Closing waits no longer than this for the device to let the link go.
constexpr int CLOSE_WAIT_MS = 2000;

// The error codes that the protocol defines.
struct CErrorName
{
    int code;
    const char *meaning;
};
constexpr CErrorName ERROR_NAMES[] = {
    {0, "no error"},
    {1, "syntax error"},
    {3, "device not accessible"},
    {4, "invalid link identifier"},
    {5, "parameter error"},
    {6, "channel not established"},
    {8, "operation not supported"},
    {9, "out of resources"},
    {11, "device locked by another link"},
    {12, "no lock held by this link"},
    {15, "I/O timeout"},
    {17, "I/O error"},
    {21, "invalid address"},
    {23, "abort"},
    {29, "channel already established"},
};

unsigned int Ms(std::int64_t ms)
{
    return static_cast<unsigned int>(std::clamp<std::int64_t>(ms, 0, UINT32_MAX));
}

// Frees what XDR allocated for a result when the scope ends.
template <typename T> class CResultGuard
{
public:
    CResultGuard(xdrproc_t proc, T &result) : m_proc(proc), m_result(result) {}
    ~CResultGuard() { xdr_free(m_proc, reinterpret_cast<char *>(&m_result)); }
    CResultGuard(const CResultGuard &) = delete;
    CResultGuard &operator=(const CResultGuard &) = delete;

private:
    xdrproc_t m_proc;
    T &m_result;
};

} // namespace

CVxi11Session::CVxi11Session(const CResource &resource, const CSessionOptions &options)
    : CSession(options), m_resource(resource)
{
    if (m_resource.lanDevice.isEmpty())
        m_resource.lanDevice = QStringLiteral("inst0");
}

CVxi11Session::~CVxi11Session()
{
    Close();
}

std::unique_ptr<CSession> CVxi11Session::Make(const CResource &resource, const CSessionOptions &options)
{
    return std::make_unique<CVxi11Session>(resource, options);
}

QString CVxi11Session::ErrorText(int code)
{
    for (const CErrorName &name : ERROR_NAMES)
        if (name.code == code)
            return QStringLiteral("VXI-11 error %1: %2").arg(code).arg(QLatin1String(name.meaning));
    return QStringLiteral("VXI-11 error %1").arg(code);
}

QString CVxi11Session::Where() const
{
    return QStringLiteral("%1 at %2").arg(m_resource.lanDevice, m_resource.host);
}

bool CVxi11Session::IsOpen() const
{
    return m_core && m_core->IsOpen();
}

bool CVxi11Session::Open(QString &error)
{
    Close();
    const QDeadlineTimer deadline(m_options.openTimeoutMs);
    sockaddr_in address{};
    QString reason;
    if (!CRpcChannel::Resolve(m_resource.host, address, reason)) {
        error = QStringLiteral("Cannot find the host %1: %2").arg(m_resource.host, reason);
        return false;
    }
    std::uint16_t port = 0;
    bool connected = false;
    if (!CRpcChannel::LookUpPort(address, DEVICE_CORE, DEVICE_CORE_VERSION, deadline, port, connected,
                                 reason)) {
        error = connected
                    ? QStringLiteral("No VXI-11 server at %1: its portmapper did not answer (%2)")
                          .arg(m_resource.host, reason)
                    : QStringLiteral("No VXI-11 server at %1: no portmapper answers on its port 111 (%2)")
                          .arg(m_resource.host, reason);
        return false;
    }
    if (port == 0) {
        error = QStringLiteral("No VXI-11 server at %1: its portmapper knows no VXI-11 core channel")
                    .arg(m_resource.host);
        return false;
    }

    address.sin_port = htons(port);
    auto core = std::make_unique<CRpcChannel>();
    if (core->Connect(address, DEVICE_CORE, DEVICE_CORE_VERSION, deadline, reason) !=
        CRpcChannel::ConnectFailure::None) {
        error = QStringLiteral("Cannot reach the VXI-11 server at %1, port %2: %3")
                    .arg(m_resource.host)
                    .arg(port)
                    .arg(reason);
        return false;
    }

    QByteArray device = m_resource.lanDevice.toLatin1();
    Create_LinkParms parms{};
    parms.clientId = static_cast<int>(::getpid());
    parms.lockDevice = FALSE;
    parms.lock_timeout = Ms(m_options.openTimeoutMs);
    parms.device = device.data();
    Create_LinkResp created{};
    if (create_link_1(&parms, &created, core->Client(std::max<qint64>(deadline.remainingTime(), 1))) !=
        RPC_SUCCESS) {
        error = QStringLiteral("The VXI-11 server at %1 did not make a link to %2: %3")
                    .arg(m_resource.host, m_resource.lanDevice, core->CallError());
        return false;
    }
    if (created.error != 0) {
        error = QStringLiteral("The VXI-11 server at %1 refused a link to %2: %3")
                    .arg(m_resource.host, m_resource.lanDevice, ErrorText(created.error));
        return false;
    }
    m_core = std::move(core);
    m_hostAddress = address.sin_addr.s_addr;
    m_link = created.lid;
    m_abortPort = created.abortPort;
    m_maxRecvSize = std::max<std::uint32_t>(created.maxRecvSize, MIN_RECV_SIZE);
    return true;
}

QString CVxi11Session::TransportFailure(bool timedOut)
{
    const QString text = m_core ? m_core->CallError() : QStringLiteral("RPC: not connected");
    if (!timedOut)
        Drop(); // the connection is gone or out of step
    return text;
}

bool CVxi11Session::Write(std::string_view data, QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("The VXI-11 link to %1 is closed").arg(Where());
        return false;
    }
    const int io = m_options.ioTimeoutMs;
    std::size_t offset = 0;
    do {
        const std::size_t piece = std::min<std::size_t>(m_maxRecvSize, data.size() - offset);
        const bool last = offset + piece == data.size();
        Device_WriteParms parms{};
        parms.lid = m_link;
        parms.io_timeout = Ms(io);
        parms.lock_timeout = Ms(io);
        parms.flags = FLAG_WAITLOCK | (last ? FLAG_END : 0);
        parms.data.data_len = static_cast<u_int>(piece);
        parms.data.data_val = const_cast<char *>(data.data() + offset);
        Device_WriteResp written{};
        const clnt_stat status =
            device_write_1(&parms, &written, m_core->Client(std::int64_t{2} * io + CALL_MARGIN_MS));
        if (status != RPC_SUCCESS) {
            const bool timedOut = status == RPC_TIMEDOUT;
            const QString reason = TransportFailure(timedOut);
            error = QStringLiteral("Write to %1 failed: %2").arg(Where(), reason);
            if (timedOut)
                error += QStringLiteral("; ") + Recover(true);
            return false;
        }
        if (written.error != 0) {
            error = QStringLiteral("Write to %1 failed: %2").arg(Where(), ErrorText(written.error));
            return false;
        }
        if (written.size == 0 && piece > 0) {
            error = QStringLiteral("Write to %1 failed: the device took none of the bytes").arg(Where());
            return false;
        }
        // A device may take less than it was given: the rest goes again.
        offset += std::min<std::size_t>(written.size, piece);
    } while (offset < data.size());
    return true;
}

bool CVxi11Session::Read(CReply &reply, QString &error)
{
    reply = CReply();
    if (!IsOpen()) {
        error = QStringLiteral("The VXI-11 link to %1 is closed").arg(Where());
        return false;
    }
    const CUiHooks *hooks = m_options.hooks;
    const bool pulses = hooks && hooks->Pulses();
    const int io = m_options.ioTimeoutMs;
    CReplyFramer framer(ReplyEnd::Mark, m_options.maxReplyBytes);
    QElapsedTimer sinceBytes;
    sinceBytes.start();

    auto fail = [&](const QString &text) {
        reply = framer.Take();
        error = text;
        return false;
    };
    while (!framer.Complete()) {
        const qint64 left = io - sinceBytes.elapsed();
        if (left <= 0)
            return fail(QStringLiteral("Read from %1 failed: %2 (no reply within %3 ms); %4")
                            .arg(Where(), ErrorText(ERROR_IO_TIMEOUT))
                            .arg(io)
                            .arg(Recover(false)));
        const qint64 wait = pulses ? std::min<qint64>(left, PULSE_SLICE_MS) : left;
        Device_ReadParms parms{};
        parms.lid = m_link;
        parms.requestSize = READ_CHUNK;
        parms.io_timeout = Ms(wait);
        parms.lock_timeout = Ms(wait);
        parms.flags = FLAG_WAITLOCK;
        Device_ReadResp answer{};
        CResultGuard<Device_ReadResp> guard(reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), answer);
        const clnt_stat status = device_read_1(&parms, &answer, m_core->Client(2 * wait + CALL_MARGIN_MS));
        if (status != RPC_SUCCESS) {
            const bool timedOut = status == RPC_TIMEDOUT;
            const QString reason = TransportFailure(timedOut);
            QString text = QStringLiteral("Read from %1 failed: %2").arg(Where(), reason);
            if (timedOut)
                text += QStringLiteral(" (the device kept the call past its own time-out of %1 ms); %2")
                            .arg(wait)
                            .arg(Recover(true));
            return fail(text);
        }
        if (answer.data.data_len > 0) {
            framer.Feed(answer.data.data_val, answer.data.data_len, (answer.reason & REASON_END) != 0);
            sinceBytes.restart();
        } else if ((answer.reason & REASON_END) != 0) {
            framer.Feed(nullptr, 0, true);
        }
        if (framer.Complete())
            break;
        // A time-out of one slice is no failure while the whole wait goes on;
        // any other error is, and its reply is dropped with the device's.
        if (answer.error != 0 && answer.error != ERROR_IO_TIMEOUT)
            return fail(QStringLiteral("Read from %1 failed: %2; %3")
                            .arg(Where(), ErrorText(answer.error), Recover(false)));
        if (pulses &&
            !hooks->Pulse(CProgress{CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()}))
            return fail(QStringLiteral("Read from %1 stopped; %2").arg(Where(), Recover(false)));
    }
    reply = framer.Take();
    return true;
}

bool CVxi11Session::Abort()
{
    if (m_abortPort == 0)
        return false;
    const QDeadlineTimer deadline(std::min(m_options.openTimeoutMs, m_options.ioTimeoutMs + CALL_MARGIN_MS));
    if (!m_abort || !m_abort->IsOpen()) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = m_hostAddress;
        address.sin_port = htons(m_abortPort);
        m_abort = std::make_unique<CRpcChannel>();
        QString ignored;
        if (m_abort->Connect(address, DEVICE_ASYNC, DEVICE_ASYNC_VERSION, deadline, ignored) !=
            CRpcChannel::ConnectFailure::None)
            return false;
    }
    Device_Link link = m_link;
    Device_Error result{};
    if (device_abort_1(&link, &result, m_abort->Client(std::max<qint64>(deadline.remainingTime(), 1))) !=
        RPC_SUCCESS) {
        m_abort->Close();
        return false;
    }
    return result.error == 0;
}

Device_GenericParms CVxi11Session::GenericParms() const
{
    // Calls that wait for the device's lock as long as for its answer.
    const int io = m_options.ioTimeoutMs;
    Device_GenericParms parms{};
    parms.lid = m_link;
    parms.flags = FLAG_WAITLOCK;
    parms.lock_timeout = Ms(io);
    parms.io_timeout = Ms(io);
    return parms;
}

bool CVxi11Session::ClearDevice(QString &error)
{
    const int io = m_options.ioTimeoutMs;
    Device_GenericParms parms = GenericParms();
    Device_Error result{};
    const clnt_stat status =
        device_clear_1(&parms, &result, m_core->Client(std::int64_t{2} * io + CALL_MARGIN_MS));
    if (status != RPC_SUCCESS) {
        error = TransportFailure(status == RPC_TIMEDOUT);
        return false;
    }
    if (result.error != 0) {
        error = ErrorText(result.error);
        return false;
    }
    return true;
}

QString CVxi11Session::Recover(bool pending)
{
    if (!IsOpen())
        return QStringLiteral("the link was closed");
    // The core channel answers one call at a time: a call that the device
    // still works on has to end (abort) before the clear can be heard.
    const bool aborted = pending && Abort();
    QString reason;
    if (ClearDevice(reason))
        return aborted ? QStringLiteral("the read was aborted and the device cleared")
                       : QStringLiteral("the device was cleared");
    Drop();
    return QStringLiteral("the device could not be cleared (%1), so the link was closed").arg(reason);
}

bool CVxi11Session::ReadStatusByte(std::uint8_t &status, QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("The VXI-11 link to %1 is closed").arg(Where());
        return false;
    }
    const int io = m_options.ioTimeoutMs;
    Device_GenericParms parms = GenericParms();
    Device_ReadStbResp result{};
    const clnt_stat rpc =
        device_readstb_1(&parms, &result, m_core->Client(std::int64_t{2} * io + CALL_MARGIN_MS));
    if (rpc != RPC_SUCCESS) {
        error = QStringLiteral("Serial poll of %1 failed: %2").arg(Where(), TransportFailure(false));
        return false;
    }
    if (result.error != 0) {
        error = QStringLiteral("Serial poll of %1 failed: %2").arg(Where(), ErrorText(result.error));
        return false;
    }
    status = result.stb;
    return true;
}

bool CVxi11Session::Clear(QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("The VXI-11 link to %1 is closed").arg(Where());
        return false;
    }
    QString reason;
    if (ClearDevice(reason))
        return true;
    error = QStringLiteral("Device clear of %1 failed: %2").arg(Where(), reason);
    return false;
}

void CVxi11Session::Close()
{
    if (m_core && m_core->IsOpen()) {
        Device_Link link = m_link;
        Device_Error result{};
        destroy_link_1(&link, &result, m_core->Client(std::min(m_options.ioTimeoutMs, CLOSE_WAIT_MS)));
    }
    Drop();
}

void CVxi11Session::Drop()
{
    m_abort.reset();
    m_core.reset();
    m_link = 0;
    m_abortPort = 0;
    m_maxRecvSize = 0;
}
