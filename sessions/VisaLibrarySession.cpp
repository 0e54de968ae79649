// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/VisaLibrarySession.h"

#include "common/ReplyFramer.h"
#include "common/UiHooks.h"
#include "sessions/ResourceParser.h"

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
    : CSession(options), m_resource(resource), m_library(libraryPath)
{
}

CVisaLibrarySession::~CVisaLibrarySession()
{
    Close();
}

QString CVisaLibrarySession::ResourceName() const
{
    return m_resource.text.isEmpty() ? CanonicalResource(m_resource) : m_resource.text;
}

bool CVisaLibrarySession::Fail(visa::ViStatus status, QString &error)
{
    error = m_library.ErrorText(m_vi != visa::VI_NULL ? m_vi : m_rm, status);
    return false;
}

bool CVisaLibrarySession::Open(QString &error)
{
    if (IsOpen())
        return true;
    if (!m_library.Load(error))
        return false;
    const CVisaCalls &vi = m_library.Calls();
    visa::ViStatus status = vi.viOpenDefaultRM(&m_rm);
    if (visa::Failed(status)) {
        m_rm = visa::VI_NULL;
        return Fail(status, error);
    }
    visa::ViSession session = visa::VI_NULL;
    status = vi.viOpen(m_rm, ResourceName().toLocal8Bit().constData(), visa::VI_NO_LOCK,
                       Milliseconds(m_options.openTimeoutMs), &session);
    if (visa::Failed(status)) {
        Fail(status, error);
        Close();
        return false;
    }
    m_vi = session;
    m_appliedTimeoutMs = -1;
    if (!Ready(error)) {
        Close();
        return false;
    }
    return true;
}

bool CVisaLibrarySession::Ready(QString &error)
{
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
    while (!data.empty()) {
        const auto count = static_cast<visa::ViUInt32>(std::min(data.size(), WRITE_CHUNK));
        visa::ViUInt32 written = 0;
        const visa::ViStatus status = m_library.Calls().viWrite(
            m_vi, reinterpret_cast<const unsigned char *>(data.data()), count, &written);
        if (visa::Failed(status))
            return Fail(status, error);
        if (written == 0 || written > count) {
            error = QStringLiteral("Resource '%1': the VISA library took %2 of %3 bytes")
                        .arg(ResourceName())
                        .arg(written)
                        .arg(count);
            return false;
        }
        data.remove_prefix(written);
    }
    return true;
}

void CVisaLibrarySession::DropRest()
{
    if (IsOpen() && visa::Failed(m_library.Calls().viClear(m_vi)))
        Close();
}

bool CVisaLibrarySession::Read(CReply &reply, QString &error)
{
    reply = CReply();
    if (!Ready(error))
        return false;
    m_buffer.resize(READ_CHUNK);
    CReplyFramer framer(ReplyEnd::Mark, m_options.maxReplyBytes);
    const CUiHooks *hooks = m_options.hooks;
    int emptyReads = 0;
    while (!framer.Complete()) {
        visa::ViUInt32 got = 0;
        const visa::ViStatus status = m_library.Calls().viRead(m_vi, m_buffer.data(), READ_CHUNK, &got);
        if (visa::Failed(status)) {
            Fail(status, error);
            DropRest();
            reply = framer.Take();
            return false;
        }
        got = std::min(got, READ_CHUNK);
        // VI_SUCCESS_MAX_CNT: the count was filled before the message ended;
        // anything else that is no error (VI_SUCCESS, VI_SUCCESS_TERM_CHAR)
        // ends it.
        const bool end = status != visa::VI_SUCCESS_MAX_CNT;
        framer.Feed(reinterpret_cast<const char *>(m_buffer.data()), got, end);
        if (framer.Complete())
            break;
        if (got == 0 && ++emptyReads > MAX_EMPTY_READS) {
            error =
                QStringLiteral("Resource '%1': the VISA library keeps reading no bytes").arg(ResourceName());
            DropRest();
            reply = framer.Take();
            return false;
        }
        if (hooks && !hooks->Pulse({CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()})) {
            error = QStringLiteral("Resource '%1': the read was stopped; the rest of the reply was dropped")
                        .arg(ResourceName());
            DropRest();
            reply = framer.Take();
            return false;
        }
    }
    reply = framer.Take();
    return true;
}

bool CVisaLibrarySession::ReadStatusByte(std::uint8_t &status, QString &error)
{
    if (!Ready(error))
        return false;
    visa::ViUInt16 stb = 0;
    const visa::ViStatus result = m_library.Calls().viReadSTB(m_vi, &stb);
    if (visa::Failed(result))
        return Fail(result, error);
    status = static_cast<std::uint8_t>(stb & 0xFF);
    return true;
}

bool CVisaLibrarySession::Clear(QString &error)
{
    if (!Ready(error))
        return false;
    const visa::ViStatus status = m_library.Calls().viClear(m_vi);
    return visa::Failed(status) ? Fail(status, error) : true;
}

void CVisaLibrarySession::Close()
{
    if (!m_library.IsLoaded())
        return;
    const CVisaCalls &vi = m_library.Calls();
    if (m_vi != visa::VI_NULL)
        vi.viClose(m_vi);
    // Closing the resource manager would close the session too; each is
    // closed by name all the same.
    if (m_rm != visa::VI_NULL)
        vi.viClose(m_rm);
    m_vi = visa::VI_NULL;
    m_rm = visa::VI_NULL;
    m_appliedTimeoutMs = -1;
}
