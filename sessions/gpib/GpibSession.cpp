// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/gpib/GpibSession.h"

#include "common/GpibErrors.h"
#include "common/ReplyFramer.h"
#include "common/UiHooks.h"

#include <QStringList>

#include <vector>

namespace {

constexpr int ERR = 0x8000;
constexpr int TIMO = 0x4000;
constexpr int END = 0x2000;
// A secondary address goes to ibdev as 96 + n; 0 is none.
constexpr int SECONDARY_BASE = 0x60;

} // namespace

struct CGpibSession::Calls
{
    int (*ibdev)(int, int, int, int, int, int) = nullptr;
    int (*ibwrt)(int, const void *, long) = nullptr;
    int (*ibrd)(int, void *, long) = nullptr;
    int (*ibrsp)(int, char *) = nullptr;
    int (*ibclr)(int) = nullptr;
    int (*ibonl)(int, int) = nullptr;
    int (*ibtmo)(int, int) = nullptr;
    int *ibsta = nullptr;
    int *iberr = nullptr;
    int *ibcnt = nullptr;
    long *ibcntl = nullptr;
};

CGpibSession::CGpibSession(const CResource &resource, const CSessionOptions &options, QString libraryName)
    : CSession(options), m_resource(resource), m_libraryName(std::move(libraryName)),
      m_buffer(std::make_shared<std::vector<char>>())
{
}

CGpibSession::~CGpibSession()
{
    Close();
}

std::unique_ptr<CSession> CGpibSession::Make(const CResource &resource, const CSessionOptions &options)
{
    return std::make_unique<CGpibSession>(resource, options);
}

int CGpibSession::TimeoutCode(int ms)
{
    // T10us, T30us ... T1000s: code n lasts these many microseconds.
    static constexpr long long LIMITS_US[] = {10,       30,       100,       300,       1000,      3000,
                                              10000,    30000,    100000,    300000,    1000000,   3000000,
                                              10000000, 30000000, 100000000, 300000000, 1000000000};
    const long long us = static_cast<long long>(ms) * 1000;
    for (std::size_t i = 0; i < std::size(LIMITS_US); ++i)
        if (LIMITS_US[i] >= us)
            return static_cast<int>(i) + 1;
    return 17;
}

bool CGpibSession::Load(QString &error)
{
    if (m_calls)
        return true;
    QString why;
    if (!m_caller.Load(m_libraryName, why)) {
        error = QStringLiteral("Resource '%1': no GPIB library: %2").arg(m_resource.text, why);
        return false;
    }
    auto calls = std::make_unique<Calls>();
    auto find = [&](const char *name) { return m_caller.Resolve(name); };
    calls->ibdev = reinterpret_cast<decltype(calls->ibdev)>(find("ibdev"));
    calls->ibwrt = reinterpret_cast<decltype(calls->ibwrt)>(find("ibwrt"));
    calls->ibrd = reinterpret_cast<decltype(calls->ibrd)>(find("ibrd"));
    calls->ibrsp = reinterpret_cast<decltype(calls->ibrsp)>(find("ibrsp"));
    calls->ibclr = reinterpret_cast<decltype(calls->ibclr)>(find("ibclr"));
    calls->ibonl = reinterpret_cast<decltype(calls->ibonl)>(find("ibonl"));
    calls->ibtmo = reinterpret_cast<decltype(calls->ibtmo)>(find("ibtmo"));
    calls->ibsta = static_cast<int *>(find("user_ibsta"));
    calls->iberr = static_cast<int *>(find("user_iberr"));
    calls->ibcnt = static_cast<int *>(find("user_ibcnt"));
    calls->ibcntl = static_cast<long *>(find("user_ibcntl"));
    QStringList missing;
    if (!calls->ibdev)
        missing << QStringLiteral("ibdev");
    if (!calls->ibwrt)
        missing << QStringLiteral("ibwrt");
    if (!calls->ibrd)
        missing << QStringLiteral("ibrd");
    if (!calls->ibsta)
        missing << QStringLiteral("user_ibsta");
    // A read's count comes from one of the two.
    if (!calls->ibcnt && !calls->ibcntl)
        missing << QStringLiteral("user_ibcnt");
    if (!missing.isEmpty()) {
        error = QStringLiteral("Resource '%1': the GPIB library %2 lacks %3")
                    .arg(m_resource.text, m_caller.LibraryFile(), missing.join(QStringLiteral(", ")));
        m_caller.Unload();
        return false;
    }
    // The entry points stay good as long as the caller holds the library:
    // this session, and every call of it that still runs.
    m_caller.SetSources(calls->ibsta, calls->iberr, calls->ibcnt, calls->ibcntl);
    m_calls = std::shared_ptr<const Calls>(std::move(calls));
    return true;
}

bool CGpibSession::Run(const std::function<void()> &call, const std::function<CProgress()> &progress,
                       const std::function<void(const CGpibCaller::CStatus &)> &after)
{
    return m_caller.Run(m_options.hooks, call, progress, after);
}

void CGpibSession::QueueClear()
{
    if (!m_calls->ibclr || m_ud <= 0)
        return;
    m_caller.Queue([calls = m_calls, ud = m_ud]() { calls->ibclr(ud); });
}

bool CGpibSession::Settle(QString &error)
{
    if (m_caller.Settle(m_options.hooks))
        return true;
    error = QStringLiteral("Resource '%1': stopped while the library's last call was still running")
                .arg(m_resource.text);
    return false;
}

bool CGpibSession::Failed() const
{
    return (m_caller.Last().status & (ERR | TIMO)) != 0;
}

QString CGpibSession::Failure(const QString &what) const
{
    const CGpibCaller::CStatus &last = m_caller.Last();
    QString why;
    if ((last.status & ERR) != 0 && m_calls->iberr)
        why = GpibErrorText(last.error, last.longCount);
    else
        why = QStringLiteral("time-out (TIMO)");
    return QStringLiteral("Resource '%1': %2 failed: %3").arg(m_resource.text, what, why);
}

QString CGpibSession::Stopped(const QString &what) const
{
    return QStringLiteral("Resource '%1': %2 was stopped").arg(m_resource.text, what);
}

bool CGpibSession::Open(QString &error)
{
    Close();
    if (!Load(error) || !Settle(error))
        return false;
    const int secondary = m_resource.secondary >= 0 ? SECONDARY_BASE + m_resource.secondary : 0;
    m_timeoutCode = TimeoutCode(m_options.ioTimeoutMs);
    // EOI with the last byte of each write; no end-of-string byte: a reply
    // ends with END only.
    const std::shared_ptr<const Calls> calls = m_calls;
    const int board = m_resource.board;
    const int primary = m_resource.primary;
    const int code = m_timeoutCode;
    const auto ud = std::make_shared<int>(0);
    if (!Run([=]() { *ud = calls->ibdev(board, primary, secondary, code, 1, 0); },
             WaitProgress(m_options.openTimeoutMs))) {
        // The descriptor it gets goes back once it has it.
        if (calls->ibonl)
            m_caller.Queue([calls, ud]() {
                if (*ud > 0)
                    calls->ibonl(*ud, 0);
            });
        error = Stopped(QStringLiteral("opening the device"));
        return false;
    }
    if (*ud <= 0 || Failed()) {
        error = Failure(QStringLiteral("opening the device"));
        return false;
    }
    m_ud = *ud;
    return true;
}

void CGpibSession::Close()
{
    if (m_ud > 0 && m_calls && m_calls->ibonl) {
        const std::function<void()> close = [calls = m_calls, ud = m_ud]() { calls->ibonl(ud, 0); };
        // Behind a call still running it waits its turn; nobody waits for it.
        if (!m_caller.Idle())
            m_caller.Queue(close);
        else
            Run(close, WaitProgress(m_options.ioTimeoutMs));
    }
    m_ud = 0;
}

bool CGpibSession::Write(std::string_view data, QString &error)
{
    if (!IsOpen())
        return Open(error) && Write(data, error);
    if (!Settle(error))
        return false;
    const int wanted = TimeoutCode(m_options.ioTimeoutMs);
    const bool retime = wanted != m_timeoutCode && m_calls->ibtmo;
    if (retime)
        m_timeoutCode = wanted;
    // The call may outlive this one: it writes from bytes of its own.
    const auto bytes = std::make_shared<const std::string>(data);
    const std::shared_ptr<const Calls> calls = m_calls;
    const int ud = m_ud;
    const bool done = Run(
        [=]() {
            if (retime)
                calls->ibtmo(ud, wanted);
            calls->ibwrt(ud, bytes->data(), static_cast<long>(bytes->size()));
        },
        WaitProgress(m_options.ioTimeoutMs));
    if (!done) {
        // Half a command must not run into the next one.
        QueueClear();
        error = QStringLiteral("Resource '%1': sending was stopped; the device is cleared once the "
                               "transfer ends")
                    .arg(m_resource.text);
        return false;
    }
    if (!Failed())
        return true;
    error = Failure(QStringLiteral("sending"));
    return false;
}

bool CGpibSession::Read(CReply &reply, QString &error)
{
    reply = CReply();
    if (!IsOpen()) {
        error = QStringLiteral("Resource '%1': the device is not open").arg(m_resource.text);
        return false;
    }
    if (!Settle(error))
        return false;
    CReplyFramer framer(ReplyEnd::Mark, m_options.maxReplyBytes);
    const std::shared_ptr<std::vector<char>> buffer = m_buffer;
    buffer->resize(static_cast<std::size_t>(READ_CHUNK));
    const CUiHooks *hooks = m_options.hooks;
    const std::shared_ptr<const Calls> calls = m_calls;
    const int ud = m_ud;
    const auto progress = [&framer]() {
        return CProgress{CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()};
    };
    const auto stopped = [&]() {
        // What the device still holds of the reply must not answer the next
        // command: it is cleared once the transfer has ended.
        QueueClear();
        error = QStringLiteral("Resource '%1': the read was stopped after %L2 bytes; the device was cleared")
                    .arg(m_resource.text)
                    .arg(framer.Received());
        reply = framer.Take();
        return false;
    };
    // A failed read leaves the rest of the reply where it was.
    const auto clearAfterFailure = [calls, ud](const CGpibCaller::CStatus &left) {
        if ((left.status & (ERR | TIMO)) != 0 && calls->ibclr)
            calls->ibclr(ud);
    };
    while (!framer.Complete()) {
        if (!Run([=]() { calls->ibrd(ud, buffer->data(), READ_CHUNK); }, progress, clearAfterFailure))
            return stopped();
        if (Failed()) {
            error = Failure(QStringLiteral("reading the reply"));
            reply = framer.Take();
            return false;
        }
        long n = m_caller.Last().longCount;
        if (n < 0 || n > READ_CHUNK)
            n = READ_CHUNK;
        framer.Feed(buffer->data(), static_cast<std::size_t>(n),
                    (m_caller.Last().status & END) != 0 || n < READ_CHUNK);
        if (!framer.Complete() && hooks && !hooks->Pulse(progress()))
            return stopped();
    }
    reply = framer.Take();
    return true;
}

bool CGpibSession::ReadStatusByte(std::uint8_t &status, QString &error)
{
    if (!IsOpen() && !Open(error))
        return false;
    if (!m_calls->ibrsp) {
        error =
            QStringLiteral("Resource '%1': the GPIB library has no serial poll (ibrsp)").arg(m_resource.text);
        return false;
    }
    if (!Settle(error))
        return false;
    const std::shared_ptr<const Calls> calls = m_calls;
    const int ud = m_ud;
    const auto byte = std::make_shared<char>(0);
    if (!Run([=]() { calls->ibrsp(ud, byte.get()); }, WaitProgress(m_options.ioTimeoutMs))) {
        error = Stopped(QStringLiteral("the serial poll"));
        return false;
    }
    if (Failed()) {
        error = Failure(QStringLiteral("the serial poll"));
        return false;
    }
    status = static_cast<std::uint8_t>(*byte);
    return true;
}

bool CGpibSession::Clear(QString &error)
{
    if (!IsOpen() && !Open(error))
        return false;
    if (!m_calls->ibclr) {
        error = QStringLiteral("Resource '%1': the GPIB library has no device clear (ibclr)")
                    .arg(m_resource.text);
        return false;
    }
    if (!Settle(error))
        return false;
    const std::shared_ptr<const Calls> calls = m_calls;
    const int ud = m_ud;
    if (!Run([=]() { calls->ibclr(ud); }, WaitProgress(m_options.ioTimeoutMs))) {
        error = QStringLiteral("Resource '%1': the device clear was stopped; it ends before the next command")
                    .arg(m_resource.text);
        return false;
    }
    if (!Failed())
        return true;
    error = Failure(QStringLiteral("the device clear"));
    return false;
}
