// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/visa/VisaLibrarySession.h"

#include "common/ReplyFramer.h"
#include "common/UiHooks.h"

#include <algorithm>
#include <limits>

namespace {

// How much one viRead asks for.
constexpr visa::ViUInt32 READ_CHUNK = 64 * 1024;
// The most one viWrite is handed.
constexpr std::size_t WRITE_CHUNK = std::size_t{1} << 30;
// A library that keeps saying "more" without giving a byte would hold the
// read for ever.
constexpr int MAX_EMPTY_READS = 1000;

visa::ViUInt32 Milliseconds(int ms)
{
    return static_cast<visa::ViUInt32>(std::max(ms, 0));
}

} // namespace

CVisaLibrarySession::CVisaLibrarySession(const CResource &resource, const CSessionOptions &options,
                                         const QString &libraryPath)
    : CSession(options), m_resource(resource), m_library(libraryPath),
      m_buffer(std::make_shared<std::vector<unsigned char>>())
{
}

CVisaLibrarySession::~CVisaLibrarySession()
{
    Close();
}

QString CVisaLibrarySession::ResourceName() const
{
    return m_resource.text;
}

bool CVisaLibrarySession::Fail(visa::ViStatus status, QString &error)
{
    error = m_library.ErrorText(m_vi != visa::VI_NULL ? m_vi : m_rm, status);
    return false;
}

bool CVisaLibrarySession::Run(const std::function<void()> &call, const std::function<CProgress()> &progress)
{
    CallEnd end = RunCall(m_thread, m_options.hooks, call, progress);
    if (end == CallEnd::NotStarted) {
        // No thread to be had: the call waits here rather than not at all.
        call();
        end = CallEnd::Done;
    }
    return end == CallEnd::Done;
}

bool CVisaLibrarySession::Settle(QString &error)
{
    if (!WaitForCall(m_thread, m_options.hooks, CProgress{CProgress::Kind::Reply, 0, -1})) {
        error = QStringLiteral("Resource '%1': stopped while the library's last call was still running")
                    .arg(ResourceName());
        return false;
    }
    CheckDropped();
    return true;
}

bool CVisaLibrarySession::Open(QString &error)
{
    if (IsOpen())
        return true;
    if (!m_library.Load(error) || !Settle(error))
        return false;
    struct COpened
    {
        visa::ViStatus status = 0;
        visa::ViSession rm = visa::VI_NULL;
        visa::ViSession vi = visa::VI_NULL;
    };
    const CVisaCalls calls = m_library.Calls();
    const auto opened = std::make_shared<COpened>();
    const QByteArray name = ResourceName().toLocal8Bit();
    const visa::ViUInt32 timeout = Milliseconds(m_options.openTimeoutMs);
    const bool done = Run(
        [calls, opened, name, timeout]() {
            opened->status = calls.viOpenDefaultRM(&opened->rm);
            if (visa::Failed(opened->status)) {
                opened->rm = visa::VI_NULL;
                return;
            }
            opened->status =
                calls.viOpen(opened->rm, name.constData(), visa::VI_NO_LOCK, timeout, &opened->vi);
            if (visa::Failed(opened->status))
                opened->vi = visa::VI_NULL;
        },
        WaitProgress(m_options.openTimeoutMs));
    if (!done) {
        // What it opens is closed once it has.
        m_thread.Queue([calls, opened]() {
            if (opened->vi != visa::VI_NULL)
                calls.viClose(opened->vi);
            if (opened->rm != visa::VI_NULL)
                calls.viClose(opened->rm);
        });
        error = QStringLiteral("Resource '%1': opening was stopped").arg(ResourceName());
        return false;
    }
    m_rm = opened->rm;
    if (visa::Failed(opened->status)) {
        Fail(opened->status, error);
        Close();
        return false;
    }
    m_vi = opened->vi;
    m_appliedTimeoutMs = -1;
    if (!Ready(error)) {
        Close();
        return false;
    }
    return true;
}

bool CVisaLibrarySession::Ready(QString &error)
{
    if (IsOpen() && !Settle(error))
        return false;
    if (!IsOpen()) {
        error = QStringLiteral("Resource '%1': the session is not open").arg(ResourceName());
        return false;
    }
    // The I/O time-out follows the options, also when they change while the
    // session is open.
    if (m_appliedTimeoutMs == m_options.ioTimeoutMs)
        return true;
    const visa::ViStatus status =
        m_library.Calls().viSetAttribute(m_vi, visa::VI_ATTR_TMO_VALUE, Milliseconds(m_options.ioTimeoutMs));
    if (visa::Failed(status))
        return Fail(status, error);
    m_appliedTimeoutMs = m_options.ioTimeoutMs;
    return true;
}

bool CVisaLibrarySession::Write(std::string_view data, QString &error)
{
    if (!Ready(error))
        return false;
    // The call may outlive this one: it writes from bytes of its own.
    const auto bytes = std::make_shared<const std::string>(data);
    const CVisaCalls calls = m_library.Calls();
    const visa::ViSession vi = m_vi;
    std::size_t at = 0;
    while (at < bytes->size()) {
        const auto count = static_cast<visa::ViUInt32>(std::min(bytes->size() - at, WRITE_CHUNK));
        struct CWritten
        {
            visa::ViStatus status = 0;
            visa::ViUInt32 written = 0;
        };
        const auto written = std::make_shared<CWritten>();
        if (!Run(
                [calls, vi, bytes, at, count, written]() {
                    written->status =
                        calls.viWrite(vi, reinterpret_cast<const unsigned char *>(bytes->data() + at), count,
                                      &written->written);
                },
                WaitProgress(m_options.ioTimeoutMs))) {
            // Half a command must not run into the next one.
            DropRest();
            error = QStringLiteral("Resource '%1': sending was stopped; the device is cleared once the "
                                   "transfer ends")
                        .arg(ResourceName());
            return false;
        }
        if (visa::Failed(written->status))
            return Fail(written->status, error);
        if (written->written == 0 || written->written > count) {
            error = QStringLiteral("Resource '%1': the VISA library took %2 of %3 bytes")
                        .arg(ResourceName())
                        .arg(written->written)
                        .arg(count);
            return false;
        }
        at += written->written;
    }
    return true;
}

void CVisaLibrarySession::DropRest()
{
    if (!IsOpen())
        return;
    const CVisaCalls calls = m_library.Calls();
    const visa::ViSession vi = m_vi;
    const auto dropped = std::make_shared<std::atomic<visa::ViStatus>>(0);
    m_dropped = dropped;
    // Behind a call still running it waits its turn: the window is not held
    // for it after a Stop, and the next call waits for it.
    const std::function<void()> drop = [calls, vi, dropped]() { dropped->store(calls.viClear(vi)); };
    if (!m_thread.Queue(drop))
        drop();
    if (WaitForCall(m_thread, m_options.hooks, CProgress{CProgress::Kind::Reply, 0, -1}))
        CheckDropped();
}

void CVisaLibrarySession::CheckDropped()
{
    if (!m_dropped || !m_thread.Idle())
        return;
    const visa::ViStatus status = m_dropped->load();
    m_dropped.reset();
    if (visa::Failed(status))
        Close();
}

bool CVisaLibrarySession::Read(CReply &reply, QString &error)
{
    reply = CReply();
    if (!Ready(error))
        return false;
    const std::shared_ptr<std::vector<unsigned char>> buffer = m_buffer;
    buffer->resize(READ_CHUNK);
    CReplyFramer framer(ReplyEnd::Mark, m_options.maxReplyBytes);
    const CUiHooks *hooks = m_options.hooks;
    const CVisaCalls calls = m_library.Calls();
    const visa::ViSession vi = m_vi;
    const auto progress = [&framer]() {
        return CProgress{CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()};
    };
    const auto stopped = [&]() {
        error = QStringLiteral("Resource '%1': the read was stopped; the rest of the reply was dropped")
                    .arg(ResourceName());
        DropRest();
        reply = framer.Take();
        return false;
    };
    int emptyReads = 0;
    while (!framer.Complete()) {
        struct CGot
        {
            visa::ViStatus status = 0;
            visa::ViUInt32 count = 0;
        };
        const auto got = std::make_shared<CGot>();
        if (!Run([calls, vi, buffer,
                  got]() { got->status = calls.viRead(vi, buffer->data(), READ_CHUNK, &got->count); },
                 progress))
            return stopped();
        if (visa::Failed(got->status)) {
            Fail(got->status, error);
            DropRest();
            reply = framer.Take();
            return false;
        }
        const visa::ViUInt32 count = std::min(got->count, READ_CHUNK);
        // VI_SUCCESS_MAX_CNT: the count was filled before the message ended;
        // anything else that is no error (VI_SUCCESS, VI_SUCCESS_TERM_CHAR)
        // ends it.
        const bool end = got->status != visa::VI_SUCCESS_MAX_CNT;
        framer.Feed(reinterpret_cast<const char *>(buffer->data()), count, end);
        if (framer.Complete())
            break;
        if (count == 0 && ++emptyReads > MAX_EMPTY_READS) {
            error =
                QStringLiteral("Resource '%1': the VISA library keeps reading no bytes").arg(ResourceName());
            DropRest();
            reply = framer.Take();
            return false;
        }
        if (hooks && !hooks->Pulse(progress()))
            return stopped();
    }
    reply = framer.Take();
    return true;
}

bool CVisaLibrarySession::ReadStatusByte(std::uint8_t &status, QString &error)
{
    if (!Ready(error))
        return false;
    const CVisaCalls calls = m_library.Calls();
    const visa::ViSession vi = m_vi;
    struct CPolled
    {
        visa::ViStatus status = 0;
        visa::ViUInt16 stb = 0;
    };
    const auto polled = std::make_shared<CPolled>();
    if (!Run([calls, vi, polled]() { polled->status = calls.viReadSTB(vi, &polled->stb); },
             WaitProgress(m_options.ioTimeoutMs))) {
        error = QStringLiteral("Resource '%1': the serial poll was stopped").arg(ResourceName());
        return false;
    }
    if (visa::Failed(polled->status))
        return Fail(polled->status, error);
    status = static_cast<std::uint8_t>(polled->stb & 0xFF);
    return true;
}

bool CVisaLibrarySession::Clear(QString &error)
{
    if (!Ready(error))
        return false;
    const CVisaCalls calls = m_library.Calls();
    const visa::ViSession vi = m_vi;
    const auto cleared = std::make_shared<visa::ViStatus>(0);
    if (!Run([calls, vi, cleared]() { *cleared = calls.viClear(vi); }, WaitProgress(m_options.ioTimeoutMs))) {
        error = QStringLiteral("Resource '%1': the device clear was stopped; it ends before the next command")
                    .arg(ResourceName());
        return false;
    }
    return visa::Failed(*cleared) ? Fail(*cleared, error) : true;
}

void CVisaLibrarySession::Close()
{
    if (!m_library.IsLoaded())
        return;
    const CVisaCalls calls = m_library.Calls();
    const visa::ViSession vi = m_vi;
    const visa::ViSession rm = m_rm;
    // Closing the resource manager would close the session too; each is
    // closed by name all the same. Behind a call still running they wait
    // their turn.
    const std::function<void()> close = [calls, vi, rm]() {
        if (vi != visa::VI_NULL)
            calls.viClose(vi);
        if (rm != visa::VI_NULL)
            calls.viClose(rm);
    };
    if (vi != visa::VI_NULL || rm != visa::VI_NULL) {
        if (m_thread.Idle())
            close();
        else if (!m_thread.Queue(close))
            close();
    }
    m_vi = visa::VI_NULL;
    m_rm = visa::VI_NULL;
    m_appliedTimeoutMs = -1;
    m_dropped.reset();
}
