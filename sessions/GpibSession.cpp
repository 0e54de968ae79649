// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/GpibSession.h"

#include "common/GpibErrors.h"
#include "common/ReplyFramer.h"
#include "common/UiHooks.h"

#include <QFile>
#include <QLibrary>

#include <dlfcn.h>

#include <vector>

namespace {

constexpr int ERR = 0x8000;
constexpr int TIMO = 0x4000;
constexpr int END = 0x2000;
// A secondary address goes to ibdev as 96 + n; 0 is none.
constexpr int SECONDARY_BASE = 0x60;

} // namespace

std::mutex &CGpibSession::LibraryLock()
{
    // One call of the library at a time, in the whole process: its status
    // and counts are where every caller reads them.
    static std::mutex lock;
    return lock;
}

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
    : CSession(options), m_resource(resource), m_libraryName(std::move(libraryName))
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
    auto library = std::make_unique<QLibrary>(m_libraryName);
    if (!library->load()) {
        error =
            QStringLiteral("Resource '%1': no GPIB library: %2").arg(m_resource.text, library->errorString());
        return false;
    }
    auto calls = std::make_unique<Calls>();
    auto find = [&](const char *name) { return reinterpret_cast<void *>(library->resolve(name)); };
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
                    .arg(m_resource.text, library->fileName(), missing.join(QStringLiteral(", ")));
        return false;
    }
    // Qt unloads a library for every QLibrary that has it when one of them
    // unloads: the Remote GPIB link's does when the window goes. A load of
    // the loader's own keeps it there for every session that has its entry
    // points, for the rest of the run.
    dlopen(QFile::encodeName(library->fileName()).constData(), RTLD_NOW | RTLD_NOLOAD);
    m_library = std::move(library);
    m_calls = std::move(calls);
    return true;
}

bool CGpibSession::Failed() const
{
    return (*m_calls->ibsta & (ERR | TIMO)) != 0;
}

QString CGpibSession::Failure(const QString &what) const
{
    const int status = *m_calls->ibsta;
    QString why;
    if ((status & ERR) != 0 && m_calls->iberr)
        why = GpibErrorText(*m_calls->iberr,
                            m_calls->ibcntl ? *m_calls->ibcntl : (m_calls->ibcnt ? *m_calls->ibcnt : 0));
    else
        why = QStringLiteral("time-out (TIMO)");
    return QStringLiteral("Resource '%1': %2 failed: %3").arg(m_resource.text, what, why);
}

bool CGpibSession::Open(QString &error)
{
    Close();
    if (!Load(error))
        return false;
    std::lock_guard lock(LibraryLock());
    const int secondary = m_resource.secondary >= 0 ? SECONDARY_BASE + m_resource.secondary : 0;
    m_timeoutCode = TimeoutCode(m_options.ioTimeoutMs);
    // EOI with the last byte of each write; no end-of-string byte: a reply
    // ends with END only.
    const int ud = m_calls->ibdev(m_resource.board, m_resource.primary, secondary, m_timeoutCode, 1, 0);
    if (ud <= 0 || Failed()) {
        error = Failure(QStringLiteral("opening the device"));
        return false;
    }
    m_ud = ud;
    return true;
}

void CGpibSession::Close()
{
    if (m_ud > 0 && m_calls && m_calls->ibonl) {
        std::lock_guard lock(LibraryLock());
        m_calls->ibonl(m_ud, 0);
    }
    m_ud = 0;
}

bool CGpibSession::Write(std::string_view data, QString &error)
{
    if (!IsOpen())
        return Open(error) && Write(data, error);
    std::lock_guard lock(LibraryLock());
    const int wanted = TimeoutCode(m_options.ioTimeoutMs);
    if (wanted != m_timeoutCode && m_calls->ibtmo) {
        m_calls->ibtmo(m_ud, wanted);
        m_timeoutCode = wanted;
    }
    m_calls->ibwrt(m_ud, data.data(), static_cast<long>(data.size()));
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
    CReplyFramer framer(ReplyEnd::Mark, m_options.maxReplyBytes);
    std::vector<char> buffer(static_cast<std::size_t>(READ_CHUNK));
    const CUiHooks *hooks = m_options.hooks;
    while (!framer.Complete()) {
        long n = 0;
        int status = 0;
        {
            std::lock_guard lock(LibraryLock());
            m_calls->ibrd(m_ud, buffer.data(), READ_CHUNK);
            status = *m_calls->ibsta;
            if ((status & (ERR | TIMO)) != 0) {
                error = Failure(QStringLiteral("reading the reply"));
                // What the device still holds of it must not answer the next
                // command.
                if (m_calls->ibclr)
                    m_calls->ibclr(m_ud);
                reply = framer.Take();
                return false;
            }
            n = m_calls->ibcntl ? *m_calls->ibcntl : *m_calls->ibcnt;
        }
        if (n < 0 || n > READ_CHUNK)
            n = READ_CHUNK;
        framer.Feed(buffer.data(), static_cast<std::size_t>(n), (status & END) != 0 || n < READ_CHUNK);
        CProgress progress;
        progress.done = framer.Received();
        progress.total = framer.ExpectedLength();
        if (!framer.Complete() && hooks && !hooks->Pulse(progress)) {
            std::lock_guard lock(LibraryLock());
            if (m_calls->ibclr)
                m_calls->ibclr(m_ud);
            error =
                QStringLiteral("Resource '%1': the read was stopped after %L2 bytes; the device was cleared")
                    .arg(m_resource.text)
                    .arg(framer.Received());
            reply = framer.Take();
            return false;
        }
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
    std::lock_guard lock(LibraryLock());
    char byte = 0;
    m_calls->ibrsp(m_ud, &byte);
    if (Failed()) {
        error = Failure(QStringLiteral("the serial poll"));
        return false;
    }
    status = static_cast<std::uint8_t>(byte);
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
    std::lock_guard lock(LibraryLock());
    m_calls->ibclr(m_ud);
    if (!Failed())
        return true;
    error = Failure(QStringLiteral("the device clear"));
    return false;
}
