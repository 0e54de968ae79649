// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/vxi11/Vxi11Session.h"

#include "common/ReplyFramer.h"
#include "common/UiHooks.h"
#include "sessions/vxi11/RpcChannel.h"
#include "sessions/vxi11/Vxi11Call.h"
#include "sessions/vxi11/Vxi11Opening.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <unistd.h>
#include <vxi11.h>

#include <algorithm>

namespace {

using namespace std::chrono_literals;

// Device_Flags: wait for another link's lock to go, END with the last byte.
constexpr Device_Flags FLAG_WAITLOCK = 1;
constexpr Device_Flags FLAG_END = 8;
// Device_ReadResp reasons: the device sent END with the last byte.
constexpr int REASON_END = 4;
constexpr int ERROR_IO_TIMEOUT = 15;
constexpr int ERROR_ABORT = 23;
// Closing waits no longer than this for the device to let the link go.
constexpr int CLOSE_WAIT_MS = 2000;
// Once the user has stopped, the abort and the clear that follow get this
// long before the link is cut off instead: Stop gives the window back
// within a second.
constexpr std::chrono::milliseconds WRAP_UP = 500ms;
// A stopped open waits this long for its connections to let go.
constexpr std::chrono::milliseconds OPEN_GRACE = 100ms;

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

// The parameters of a call on the link that waits for the device's lock
// as long as for its answer.
Device_GenericParms GenericParms(int link, int deviceMs)
{
    Device_GenericParms parms{};
    parms.lid = link;
    parms.flags = FLAG_WAITLOCK;
    parms.lock_timeout = Ms(deviceMs);
    parms.io_timeout = Ms(deviceMs);
    return parms;
}

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

CallEnd CVxi11Session::OnCore(std::function<void()> job, const std::function<CProgress()> &progress,
                              QString &error)
{
    return RunCall(m_coreThread, m_options.hooks, std::move(job), progress, {}, 0ms, &error);
}

bool CVxi11Session::Open(QString &error)
{
    Close();
    CVxi11Opening::Request request{m_resource.host, m_resource.lanDevice, m_options.openTimeoutMs,
                                   static_cast<int>(::getpid())};
    auto opening = std::make_shared<CVxi11Opening>(request);
    QString threadError;
    const CallEnd end = RunCall(
        m_coreThread, m_options.hooks, [opening]() { opening->Run(); }, WaitProgress(m_options.openTimeoutMs),
        [opening]() { opening->Stop(); }, 0ms, &threadError);
    if (end == CallEnd::Stopped) {
        // Also when the wait for an earlier open's name lookup was stopped.
        // The connections let go at once; a lookup goes on by itself.
        opening->Stop();
        FinishCall(m_coreThread, m_options.hooks, OPEN_GRACE);
        error = QStringLiteral("Opening the link to %1 stopped; no connection was left open").arg(Where());
        return false;
    }
    if (end == CallEnd::NotStarted) {
        error = QStringLiteral("Cannot open the link to %1: %2").arg(Where(), threadError);
        return false;
    }
    if (!opening->error.isEmpty()) {
        error = opening->error;
        return false;
    }
    m_core = opening->core;
    m_hostAddress = opening->hostAddress;
    m_link = opening->link;
    m_abortPort = opening->abortPort;
    m_maxRecvSize = opening->maxRecvSize;
    return true;
}

bool CVxi11Session::Write(std::string_view data, QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("The VXI-11 link to %1 is closed").arg(Where());
        return false;
    }
    const int io = m_options.ioTimeoutMs;
    const std::int64_t callMs = std::int64_t{2} * io + CALL_MARGIN_MS;
    std::size_t offset = 0;
    do {
        const std::size_t piece = std::min<std::size_t>(m_maxRecvSize, data.size() - offset);
        const bool last = offset + piece == data.size();
        auto call = std::make_shared<CVxi11Call<Device_WriteParms, Device_WriteResp>>();
        call->bytes = QByteArray(data.data() + offset, static_cast<qsizetype>(piece));
        Device_WriteParms &parms = call->parms;
        parms.lid = m_link;
        parms.io_timeout = Ms(io);
        parms.lock_timeout = Ms(io);
        parms.flags = FLAG_WAITLOCK | (last ? FLAG_END : 0);
        parms.data.data_len = static_cast<u_int>(piece);
        parms.data.data_val = call->bytes.data();
        QString threadError;
        const CallEnd end =
            OnCore(Vxi11Job(m_core, call, device_write_1, callMs), WaitProgress(callMs), threadError);
        if (end == CallEnd::Stopped) {
            error = QStringLiteral("Write to %1 stopped; %2")
                        .arg(Where(), WrapUp(true, QStringLiteral("write"), [call]() {
                                 return !call->Failed() && call->result.error == ERROR_ABORT;
                             }));
            return false;
        }
        if (end == CallEnd::NotStarted) {
            error = QStringLiteral("Write to %1 failed: %2").arg(Where(), threadError);
            return false;
        }
        if (call->Failed()) {
            const bool timedOut = call->status == RPC_TIMEDOUT;
            if (!timedOut)
                Drop(); // the connection is gone or out of step
            error = QStringLiteral("Write to %1 failed: %2").arg(Where(), call->failure);
            if (timedOut)
                error += QStringLiteral("; ") + Recover(true, QStringLiteral("write"));
            return false;
        }
        const Device_WriteResp &written = call->result;
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
    const auto progress = [&framer]() {
        return CProgress{CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()};
    };

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
                            .arg(Recover(false, QStringLiteral("read"))));
        // One call waits for the whole time that is left: the window's
        // pulses come from the wait for the thread.
        auto call = std::make_shared<CVxi11Call<Device_ReadParms, Device_ReadResp>>(
            reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp));
        Device_ReadParms &parms = call->parms;
        parms.lid = m_link;
        parms.requestSize = READ_CHUNK;
        parms.io_timeout = Ms(left);
        parms.lock_timeout = Ms(left);
        parms.flags = FLAG_WAITLOCK;
        QString threadError;
        const CallEnd end =
            OnCore(Vxi11Job(m_core, call, device_read_1, 2 * left + CALL_MARGIN_MS), progress, threadError);
        if (end == CallEnd::Stopped)
            return fail(QStringLiteral("Read from %1 stopped; %2")
                            .arg(Where(), WrapUp(true, QStringLiteral("read"), [call]() {
                                     return !call->Failed() && call->result.error == ERROR_ABORT;
                                 })));
        if (end == CallEnd::NotStarted)
            return fail(QStringLiteral("Read from %1 failed: %2").arg(Where(), threadError));
        if (call->Failed()) {
            const bool timedOut = call->status == RPC_TIMEDOUT;
            if (!timedOut)
                Drop();
            QString text = QStringLiteral("Read from %1 failed: %2").arg(Where(), call->failure);
            if (timedOut)
                text += QStringLiteral(" (the device kept the call past its own time-out of %1 ms); %2")
                            .arg(left)
                            .arg(Recover(true, QStringLiteral("read")));
            return fail(text);
        }
        const Device_ReadResp &answer = call->result;
        if (answer.data.data_len > 0) {
            framer.Feed(answer.data.data_val, answer.data.data_len, (answer.reason & REASON_END) != 0);
            sinceBytes.restart();
        } else if ((answer.reason & REASON_END) != 0) {
            framer.Feed(nullptr, 0, true);
        }
        if (framer.Complete())
            break;
        // A time-out before the whole wait is over (the device counts its
        // own) is no failure; any other error is, and its reply is dropped
        // with the device's.
        if (answer.error != 0 && answer.error != ERROR_IO_TIMEOUT)
            return fail(QStringLiteral("Read from %1 failed: %2; %3")
                            .arg(Where(), ErrorText(answer.error), Recover(false, QStringLiteral("read"))));
        if (pulses && !hooks->Pulse(progress()))
            return fail(QStringLiteral("Read from %1 stopped; %2")
                            .arg(Where(), WrapUp(false, QStringLiteral("read"), []() { return false; })));
    }
    reply = framer.Take();
    return true;
}

std::function<void()> CVxi11Session::AbortJob(std::int64_t ms, const std::shared_ptr<std::atomic<bool>> &ok)
{
    if (!m_abort)
        m_abort = std::make_shared<CRpcChannel>();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = m_hostAddress;
    address.sin_port = htons(m_abortPort);
    return [channel = m_abort, address, link = m_link, ms, ok]() {
        const QDeadlineTimer deadline(ms);
        QString ignored;
        if (!channel->IsOpen() && channel->Connect(address, DEVICE_ASYNC, DEVICE_ASYNC_VERSION, deadline,
                                                   ignored) != CRpcChannel::ConnectFailure::None)
            return;
        Device_Link parms = link;
        Device_Error result{};
        if (device_abort_1(&parms, &result, channel->Client(std::max<qint64>(deadline.remainingTime(), 1))) !=
            RPC_SUCCESS) {
            channel->Close();
            return;
        }
        *ok = result.error == 0;
    };
}

CallEnd CVxi11Session::ClearDevice(std::int64_t callMs, int deviceMs, QString &reason)
{
    auto call = std::make_shared<CVxi11Call<Device_GenericParms, Device_Error>>();
    call->parms = GenericParms(m_link, deviceMs);
    const CallEnd end = OnCore(Vxi11Job(m_core, call, device_clear_1, callMs), WaitProgress(callMs), reason);
    if (end != CallEnd::Done)
        return end;
    if (call->Failed()) {
        reason = call->failure;
        if (call->status != RPC_TIMEDOUT)
            Drop();
    } else if (call->result.error != 0) {
        reason = ErrorText(call->result.error);
    }
    return end;
}

QString CVxi11Session::Recover(bool pending, const QString &what)
{
    if (!IsOpen())
        return QStringLiteral("the link was closed");
    const CUiHooks *hooks = m_options.hooks;
    const int io = m_options.ioTimeoutMs;
    // The core channel answers one call at a time: a call that the device
    // still works on has to end (abort) before the clear can be heard.
    bool aborted = false;
    if (pending && m_abortPort != 0) {
        const std::int64_t ms = std::min(m_options.openTimeoutMs, io + CALL_MARGIN_MS);
        auto ok = std::make_shared<std::atomic<bool>>(false);
        // The job makes the abort channel that a Stop cuts.
        std::function<void()> job = AbortJob(ms, ok);
        const CallEnd end = RunCall(m_abortThread, hooks, std::move(job), WaitProgress(ms),
                                    [channel = m_abort]() { channel->Cut(); });
        if (end == CallEnd::Stopped) {
            Drop();
            return QStringLiteral("stopped while the %1 was being aborted, so the link was closed").arg(what);
        }
        aborted = *ok;
    }
    // A clear that the device does not answer soon is no clear: it gets the
    // I/O time-out in all, half of it for the device's own waits.
    QString reason;
    const CallEnd end = ClearDevice(io, io / 2, reason);
    if (end == CallEnd::Stopped) {
        Drop();
        return QStringLiteral("stopped while the device was being cleared, so the link was closed");
    }
    if (reason.isEmpty())
        return aborted ? QStringLiteral("the %1 was aborted and the device cleared").arg(what)
                       : QStringLiteral("the device was cleared");
    Drop();
    return QStringLiteral("the device could not be cleared (%1), so the link was closed").arg(reason);
}

QString CVxi11Session::WrapUp(bool abortable, const QString &what, const std::function<bool()> &aborted)
{
    if (!IsOpen())
        return QStringLiteral("the link was closed");
    const bool pending = !m_coreThread.Idle();
    if (pending && !abortable) {
        Drop();
        return QStringLiteral("the link was closed");
    }
    if (pending && m_abortPort != 0 && m_abortThread.Idle())
        m_abortThread.Start(AbortJob(WRAP_UP.count(), std::make_shared<std::atomic<bool>>(false)));
    const int io = m_options.ioTimeoutMs;
    auto clear = std::make_shared<CVxi11Call<Device_GenericParms, Device_Error>>();
    clear->parms = GenericParms(m_link, io / 2);
    // The clear follows the call on its thread, once the abort has ended it.
    if (!m_coreThread.After(Vxi11Job(m_core, clear, device_clear_1, io)) ||
        !FinishCall(m_coreThread, m_options.hooks, WRAP_UP, CProgress{CProgress::Kind::Wait, 0, -1})) {
        Drop();
        return pending ? QStringLiteral("the device did not let the %1 be aborted, so the link was closed")
                             .arg(what)
                       : QStringLiteral("the device did not answer the clear, so the link was closed");
    }
    if (clear->Failed() || clear->result.error != 0) {
        const QString reason = clear->Failed() ? clear->failure : ErrorText(clear->result.error);
        Drop();
        return QStringLiteral("the device could not be cleared (%1), so the link was closed").arg(reason);
    }
    return pending && aborted() ? QStringLiteral("the %1 was aborted and the device cleared").arg(what)
                                : QStringLiteral("the device was cleared");
}

bool CVxi11Session::ReadStatusByte(std::uint8_t &status, QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("The VXI-11 link to %1 is closed").arg(Where());
        return false;
    }
    const std::int64_t callMs = std::int64_t{2} * m_options.ioTimeoutMs + CALL_MARGIN_MS;
    auto call = std::make_shared<CVxi11Call<Device_GenericParms, Device_ReadStbResp>>();
    call->parms = GenericParms(m_link, m_options.ioTimeoutMs);
    QString threadError;
    const CallEnd end =
        OnCore(Vxi11Job(m_core, call, device_readstb_1, callMs), WaitProgress(callMs), threadError);
    if (end == CallEnd::Stopped) {
        Drop();
        error = QStringLiteral("Serial poll of %1 stopped; the link was closed").arg(Where());
        return false;
    }
    if (end == CallEnd::NotStarted || call->Failed()) {
        error = QStringLiteral("Serial poll of %1 failed: %2")
                    .arg(Where(), end == CallEnd::NotStarted ? threadError : call->failure);
        if (end == CallEnd::Done)
            Drop();
        return false;
    }
    if (call->result.error != 0) {
        error = QStringLiteral("Serial poll of %1 failed: %2").arg(Where(), ErrorText(call->result.error));
        return false;
    }
    status = call->result.stb;
    return true;
}

bool CVxi11Session::Clear(QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("The VXI-11 link to %1 is closed").arg(Where());
        return false;
    }
    const int io = m_options.ioTimeoutMs;
    QString reason;
    const CallEnd end = ClearDevice(std::int64_t{2} * io + CALL_MARGIN_MS, io, reason);
    if (end == CallEnd::Stopped) {
        Drop();
        error = QStringLiteral("Device clear of %1 stopped; the link was closed").arg(Where());
        return false;
    }
    if (reason.isEmpty())
        return true;
    error = QStringLiteral("Device clear of %1 failed: %2").arg(Where(), reason);
    return false;
}

void CVxi11Session::Close()
{
    // A call that still runs (one the user stopped) is cut off with the
    // connection, which ends the link as well.
    if (IsOpen() && m_coreThread.Idle()) {
        auto call = std::make_shared<CVxi11Call<Device_Link, Device_Error>>();
        call->parms = m_link;
        const std::int64_t ms = std::min(m_options.ioTimeoutMs, CLOSE_WAIT_MS);
        QString ignored;
        OnCore(Vxi11Job(m_core, call, destroy_link_1, ms), WaitProgress(ms), ignored);
    }
    Drop();
}

void CVxi11Session::Drop()
{
    if (m_abort)
        m_abort->Cut();
    if (m_core)
        m_core->Cut();
    m_abort.reset();
    m_core.reset();
    m_link = 0;
    m_abortPort = 0;
    m_maxRecvSize = 0;
}
