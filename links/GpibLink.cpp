// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/GpibLink.h"

#include "common/GpibErrors.h"
#include "common/ReplyFramer.h"
#include "common/SystemError.h"
#include "common/UiHooks.h"
#include "links/GpibSettings.h"
#include "timing/Delay.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

std::int32_t g_gpibReadPauseMs = 1;

namespace {

// Status word bits the link looks at: ERR (bit 15) and TIMO (bit 14).
constexpr int GPIB_FAILURE_BITS = 0xC000;
// End mode of every Send: EOI with the last byte.
constexpr int DAB_END = 2;
constexpr int GPIB_ERR = 0x8000;
constexpr int GPIB_TIMO = 0x4000;
constexpr int GPIB_END = 0x2000;

} // namespace

const char *const CGpibLink::LOOKUP_NAMES[21] = {
    "ibconfig", "EnableRemote", "ReadStatusByte", "Receive",    "SendIFC",    "Send",       "ibwait",
    "ibtmo",    "ibonl",        "ibrd",           "ibwrt",      "ibwrtfA",    "ibrsp",      "ibfindA",
    "ibdev",    "ibask",        "SendCmds",       "user_ibsta", "user_iberr", "user_ibcnt", "user_ibcntl",
};

CGpibLink::CGpibLink(const CLinkContext &context, QString libraryName)
    : CLink(context), m_libraryName(std::move(libraryName))
{
}

// Nothing goes over the bus at the end: the device keeps its state. The
// caller lets go of the library; a call still running keeps it where it is,
// and ends by itself.
CGpibLink::~CGpibLink() = default;

void CGpibLink::SetLibraryName(const QString &name)
{
    if (!m_caller.Loaded())
        m_libraryName = name;
}

int CGpibLink::LookUpNames()
{
    void *found[21] = {};
    int missing = 0;
    for (int i = 0; i < 21; ++i) {
        found[i] = m_caller.Resolve(LOOKUP_NAMES[i]);
        if (!found[i])
            ++missing;
    }
    m_ibconfig = found[0];
    m_EnableRemote = reinterpret_cast<EnableRemoteFn>(found[1]);
    m_ReadStatusByte = reinterpret_cast<ReadStatusByteFn>(found[2]);
    m_Receive = reinterpret_cast<ReceiveFn>(found[3]);
    m_SendIFC = reinterpret_cast<SendIFCFn>(found[4]);
    m_Send = reinterpret_cast<SendFn>(found[5]);
    m_ibwait = found[6];
    m_ibtmo = reinterpret_cast<IbtmoFn>(found[7]);
    m_ibonl = found[8];
    m_ibrd = found[9];
    m_ibwrt = found[10];
    m_ibwrtfA = found[11];
    m_ibrsp = found[12];
    m_ibfindA = found[13];
    m_ibdev = found[14];
    m_ibask = reinterpret_cast<IbaskFn>(found[15]);
    m_SendCmds = found[16];
    m_ibsta = static_cast<int *>(found[17]);
    m_iberr = static_cast<int *>(found[18]);
    m_ibcnt = static_cast<int *>(found[19]);
    m_ibcntl = static_cast<long *>(found[20]);
    m_caller.SetSources(m_ibsta, m_iberr, m_ibcnt, nullptr);
    m_DevClear = reinterpret_cast<DevClearFn>(m_caller.Resolve("DevClear"));
    return missing;
}

int CGpibLink::Initialize(int offline)
{
    m_offline = offline;
    // Once loaded, the library stays for the rest of the run; a second call
    // does not load it again (nor repeats the message).
    if (offline == 0 && !m_caller.Loaded()) {
        QString why;
        if (!m_caller.Load(m_libraryName, why))
            m_offline = 1;
        else if (LookUpNames() != 0)
            Inform(QStringLiteral("Bad GPIB.dll file."));
    }
    if (m_offline != 0)
        return m_offline;

    CalibrateSpinLoops();
    // A library that lacks these has been reported above; the link goes on
    // without the interface clear or the remote state. Stopped, the next
    // call waits for them.
    if (!FinishStoppedTransfer())
        return 0;
    const CProgress progress{CProgress::Kind::Wait, 0, -1};
    const int board = m_board;
    if (m_SendIFC) {
        const SendIFCFn sendIfc = m_SendIFC;
        if (!Call([=]() { sendIfc(board); }, progress))
            return 0;
    }
    if (m_EnableRemote) {
        const EnableRemoteFn enableRemote = m_EnableRemote;
        const Addr4882_t list[2] = {m_addressList[0], m_addressList[1]};
        Call([=]() { enableRemote(board, list); }, progress);
    }
    return 0;
}

int CGpibLink::SetAddress(int address)
{
    m_board = 0;
    m_addressList[0] = static_cast<Addr4882_t>(static_cast<unsigned>(address) & 0xFFFFu);
    if (m_EnableRemote && FinishStoppedTransfer()) {
        const EnableRemoteFn enableRemote = m_EnableRemote;
        const Addr4882_t list[2] = {m_addressList[0], m_addressList[1]};
        Call([=]() { enableRemote(0, list); }, CProgress{CProgress::Kind::Wait, 0, -1});
    }
    return 1;
}

bool CGpibLink::Succeeded() const
{
    return (m_caller.Last().status & GPIB_FAILURE_BITS) == 0;
}

bool CGpibLink::Call(const std::function<void()> &call, const CProgress &progress)
{
    // A wait shows the time it has taken; a reply, the bytes it has come to.
    const std::function<CProgress()> shown =
        progress.kind == CProgress::Kind::Wait
            ? WaitProgress(progress.total)
            : std::function<CProgress()>([progress]() { return progress; });
    m_stopped = !m_caller.Run(&Hooks(), call, shown);
    return !m_stopped;
}

void CGpibLink::QueueClear()
{
    // What the device still holds of the stopped transfer must not answer
    // the next command.
    if (!m_DevClear)
        return;
    const DevClearFn clear = m_DevClear;
    const int board = m_board;
    const Addr4882_t address = m_addressList[0];
    m_caller.Queue([=]() { clear(board, address); });
}

int CGpibLink::WriteString(const char *text)
{
    return Write(text, static_cast<int>(std::strlen(text)));
}

int CGpibLink::Write(const char *buffer, int count)
{
    if (m_offline != 0)
        return 1;
    // A write that sent nothing must not count as sent.
    if (!m_Send)
        return 0;
    if (!FinishStoppedTransfer())
        return 0;
    // The call may outlive this one: it sends bytes of its own.
    const auto bytes = std::make_shared<const std::vector<char>>(buffer, buffer + std::max(count, 0));
    const SendFn send = m_Send;
    const int board = m_board;
    const Addr4882_t address = m_addressList[0];
    if (!Call([=]() { send(board, address, bytes->data(), count, DAB_END); },
              CProgress{CProgress::Kind::Wait, 0, -1})) {
        // Half a command must not run into the next one.
        QueueClear();
        return 0;
    }
    return Succeeded() ? 1 : 0;
}

int CGpibLink::Read(char *buffer, int count, int clamp, int termination)
{
    return ReadPiece(buffer, count, clamp, termination, true);
}

int CGpibLink::ReadPiece(char *buffer, int count, int clamp, int termination, bool pause)
{
    if (m_offline != 0) {
        static constexpr char OFFLINE_TEXT[4] = {0x1A, 0x0D, 0x0A, 0x00};
        std::memcpy(buffer, OFFLINE_TEXT, sizeof OFFLINE_TEXT);
        return 0;
    }
    buffer[0] = '\0';
    m_readStopped = false;
    if (!m_Receive)
        return 0;
    if (!FinishStoppedTransfer()) {
        m_readStopped = true;
        return 0;
    }

    if (pause)
        SpinPause(g_gpibReadPauseMs);
    // The transfer writes into a buffer of its own, which outlives this call
    // when the user stops waiting for it.
    auto data = std::make_shared<std::vector<char>>(static_cast<std::size_t>(std::max(count, 0)));
    const ReceiveFn receive = m_Receive;
    const int board = m_board;
    const Addr4882_t address = m_addressList[0];
    const int mode = termination & 0xFFFF;
    CProgress progress;
    progress.done = m_replyBytes;
    if (!Call([=]() { receive(board, address, data->data(), count, mode); }, progress)) {
        m_readStopped = true;
        QueueClear();
        return 0;
    }
    if (count > 0)
        std::memcpy(buffer, data->data(), static_cast<std::size_t>(count));

    // Unclamped, the caller ends the text at LastCount() itself.
    if (clamp != 0 && count > 0) {
        unsigned n = LastCount();
        if (n >= static_cast<unsigned>(count - 1))
            n = static_cast<unsigned>(count - 1);
        buffer[n] = '\0';
    }
    return Succeeded() ? 1 : 0;
}

bool CGpibLink::FinishStoppedTransfer()
{
    // The library cannot be asked anything while its transfer runs, nor
    // before the device is cleared after it: the wait goes on, the window
    // alive, until that has ended or the user stops it too.
    m_stopped = !m_caller.Settle(&Hooks());
    return !m_stopped;
}

int CGpibLink::SerialPoll(short *result)
{
    if (!m_ReadStatusByte)
        return 0;
    if (!FinishStoppedTransfer())
        return 0;
    // The poll writes the byte where it runs; it is copied once it ends.
    const auto polled = std::make_shared<short>(*result);
    const ReadStatusByteFn poll = m_ReadStatusByte;
    const int board = m_board;
    const Addr4882_t address = m_addressList[0];
    if (!Call([=]() { poll(board, address, polled.get()); }, CProgress{CProgress::Kind::Wait, 0, -1}))
        return 0;
    *result = *polled;
    return 1;
}

unsigned CGpibLink::LastCount() const
{
    return static_cast<unsigned>(m_caller.Last().count) & 0xFFFFu;
}

CResult CGpibLink::Update(bool)
{
    // gpib-32 reads where board 0 is when it first loads: a Prologix adapter
    // of the settings goes there before that.
    if (!m_caller.Loaded() && !m_context.options.gpibBoard.isEmpty())
        qputenv("TALLIX_GPIB_BACKEND", m_context.options.gpibBoard.toLocal8Bit());
    if (IsOffline()) {
        Initialize(0);
        SetAddress(m_context.gpibAddress);
    }
    if (!IsOffline())
        ApplyTimeout();
    return CResult();
}

void CGpibLink::ApplyTimeout()
{
    constexpr int IBA_TMO = 0x0003;
    const int wanted = m_context.options.gpibTimeout;
    if (wanted == m_timeout || !m_ibtmo)
        return;
    if (!FinishStoppedTransfer())
        return;
    const CProgress progress{CProgress::Kind::Wait, 0, -1};
    const IbtmoFn ibtmo = m_ibtmo;
    const int board = m_board;
    if (wanted == GPIB_LIBRARY_TIMEOUT) {
        // Back to the library's own, as it was before the first change.
        const int own = m_libraryTimeout;
        if (own != GPIB_LIBRARY_TIMEOUT && !Call([=]() { ibtmo(board, own); }, progress))
            return;
    } else {
        if (m_timeout == GPIB_LIBRARY_TIMEOUT && m_ibask) {
            const IbaskFn ibask = m_ibask;
            const auto asked = std::make_shared<int>(0);
            if (!Call([=]() { ibask(board, IBA_TMO, asked.get()); }, progress))
                return;
            int own = *asked;
            if (!Succeeded() || own < 0)
                own = GPIB_LIBRARY_TIMEOUT;
            m_libraryTimeout = own;
        }
        if (!Call([=]() { ibtmo(board, wanted); }, progress))
            return;
    }
    m_timeout = wanted;
}

CResult CGpibLink::Send(std::string_view line)
{
    if (Write(line.data(), static_cast<int>(line.size())) != 0)
        return CResult();
    return Fail(m_stopped ? QStringLiteral("Error sending GPIB command: stopped; the device is cleared as "
                                           "soon as its transfer ends")
                          : QStringLiteral("Error sending GPIB command"));
}

QString CGpibLink::LastErrorText() const
{
    const CGpibCaller::CStatus &last = m_caller.Last();
    if ((last.status & GPIB_ERR) == 0)
        return (last.status & GPIB_TIMO) != 0 ? QStringLiteral("time-out (TIMO)") : QString();
    return m_iberr ? GpibErrorText(last.error, last.count) : QStringLiteral("ERR");
}

bool CGpibLink::ReadReply(CReply &reply)
{
    reply.Reset();
    if (m_offline != 0) {
        char text[4];
        Read(text, 4, 0, 0x100);
        return true;
    }
    const std::int64_t bound = m_context.options.maxReplyBytes;
    CReplyFramer framer(ReplyEnd::Mark, bound);
    char buffer[RESPONSE_BUFFER_SIZE + 1];
    constexpr auto full = static_cast<unsigned>(RESPONSE_BUFFER_SIZE);
    bool failed = false;
    const auto stopped = [&]() {
        ReportFailure(QStringLiteral("Error reading GPIB response: stopped after %L1 bytes of the reply; the "
                                     "device is cleared as soon as its transfer ends")
                          .arg(framer.Received()));
        return false;
    };
    while (!framer.Complete()) {
        buffer[0] = '\0';
        m_replyBytes = framer.Received();
        // The pause before a read is for the device to get its reply
        // ready: the rest of a reply follows without it.
        ReadPiece(buffer, RESPONSE_BUFFER_SIZE, 0, 0x100, framer.Received() == 0);
        if (m_readStopped) {
            // The transfer goes on until the library returns; the device is
            // cleared then, before anything else reaches the bus.
            return stopped();
        }
        if (!Succeeded()) {
            failed = true;
            break;
        }
        unsigned n = LastCount();
        // The count is the library's word and may exceed what was asked for:
        // never index past the buffer, and take such a read as the last one
        // rather than chaining on a count that cannot be right.
        const bool bogus = n > full;
        if (bogus)
            n = full;
        const int status = m_caller.Last().status;
        // The device ends its reply with END. A library that reports no END
        // ends it with a read that does not fill the buffer, as before.
        const bool end = bogus || (status & GPIB_END) != 0 || n < full;
        framer.Feed(buffer, n, end);
        // Past the bound the rest is read and thrown away to the reply's
        // end; a device (or a library) that never ends is given as much
        // again, then cleared.
        if (!framer.Complete() && framer.Received() >= 2 * bound) {
            ClearAfterFailure();
            ReportFailure(
                QStringLiteral("Error reading GPIB response: the reply did not end after %L1 bytes; "
                               "the device was cleared")
                    .arg(framer.Received()));
            return false;
        }
        // Pieces that come quickly give the window its turn between them.
        if (!framer.Complete() && Hooks().Pulses() &&
            !Hooks().Pulse(CProgress{CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()})) {
            QueueClear();
            return stopped();
        }
    }
    if (failed) {
        const QString why = LastErrorText();
        const std::int64_t came = framer.Received();
        ClearAfterFailure();
        ReportFailure(came == 0
                          ? QStringLiteral("Error reading GPIB response: %1").arg(why)
                          : QStringLiteral("Error reading GPIB response: %1 after %L2 bytes of the reply; "
                                           "the device was cleared")
                                .arg(why)
                                .arg(came));
        return false;
    }
    reply = framer.Take();
    ReportIfCut(reply);
    return true;
}

void CGpibLink::ClearAfterFailure()
{
    // What the device still holds of the reply must not become the answer
    // to the next command. Stopped, the clear runs on once the user has the
    // window back.
    if (!m_DevClear)
        return;
    const DevClearFn clear = m_DevClear;
    const int board = m_board;
    const Addr4882_t address = m_addressList[0];
    Call([=]() { clear(board, address); }, CProgress{CProgress::Kind::Wait, 0, -1});
}

CResult CGpibLink::ReadForLog(CReply &reply)
{
    BeginOperation();
    if (m_offline != 0) {
        // The library's offline text, as a log read has always recorded it.
        char buffer[RESPONSE_BUFFER_SIZE + 1];
        Read(buffer, RESPONSE_BUFFER_SIZE, 1, 0x100);
        reply.Reset();
        reply.bytes = QByteArray(buffer);
        reply.total = reply.bytes.size();
        return CResult();
    }
    ReadReply(reply);
    return Outcome();
}

CResult CGpibLink::ReadForDisplay(CReply &reply)
{
    BeginOperation();
    ReadReply(reply);
    return Outcome();
}

CResult CGpibLink::PollStatusByte(short &result)
{
    // A library never loaded has no device to ask: the result stays as it
    // was, and is shown. A poll that failed has no status byte to show.
    m_stopped = false;
    if (SerialPoll(&result) == 0) {
        if (!m_stopped)
            return CResult();
        return CResult::Failure(
            QStringLiteral("Serial poll failed: stopped before the GPIB library returned"));
    }
    if (Succeeded())
        return CResult();
    return CResult::Failure(QStringLiteral("Serial poll failed: %1").arg(LastErrorText()),
                            m_caller.Last().error);
}

std::vector<CLinkSettingsGroup> CGpibLink::SettingsGroups() const
{
    return {GpibSettingsGroup()};
}

QString CGpibLink::Target() const
{
    const Addr4882_t address = DeviceAddress();
    if (address == NOADDR)
        return QString();
    // The primary address in the low byte, a secondary one above it.
    const int secondary = (address >> 8) & 0xFF;
    return secondary != 0 ? QStringLiteral("GPIB address %1, %2").arg(address & 0xFF).arg(secondary)
                          : QStringLiteral("GPIB address %1").arg(address & 0xFF);
}
