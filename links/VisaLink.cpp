// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/VisaLink.h"

#include "common/UiHooks.h"
#include "sessions/SessionTable.h"
#include "sessions/VisaLibrary.h"

CVisaLink::CVisaLink(const CLinkContext &context) : CLink(context) {}

CVisaLink::~CVisaLink()
{
    Close();
}

CSessionOptions CVisaLink::Options() const
{
    CSessionOptions options;
    options.openTimeoutMs = m_context.options.visaOpenTimeoutMs;
    options.ioTimeoutMs = m_context.options.visaTimeoutMs;
    options.maxReplyBytes = m_context.options.maxReplyBytes;
    options.hooks = m_context.hooks;
    options.serial = m_context.options.serial.InRange();
    return options;
}

void CVisaLink::Close()
{
    if (m_session)
        m_session->Close();
    m_session.reset();
    m_resourceText.clear();
}

void CVisaLink::ShowNotes()
{
    if (!m_session)
        return;
    // Notes hold up nothing: the command goes on.
    for (const QString &note : m_session->TakeNotes())
        Hooks().Note(note);
}

bool CVisaLink::OpenSession()
{
    const QString text = (m_context.resourceText ? m_context.resourceText() : QString()).trimmed();
    const QString library = m_context.options.visaLibrary;
    // Another resource, or another way to it: the session in use goes.
    if (m_session && (text != m_resourceText || library != m_libraryPath))
        Close();
    if (!m_session) {
        QString error;
        m_session = SessionFor(text, Options(), library, error);
        if (!m_session) {
            ReportFailure(error);
            return false;
        }
        m_resourceText = text;
        m_libraryPath = library;
    }
    m_session->SetOptions(Options());
    if (m_session->IsOpen())
        return true;
    CWaitScope wait(Hooks());
    QString error;
    if (!m_session->Open(error)) {
        Close();
        ReportFailure(error);
        return false;
    }
    ShowNotes();
    return true;
}

int CVisaLink::Update(bool chosen)
{
    if (!chosen) {
        Close();
        return 1;
    }
    return OpenSession() ? 1 : 0;
}

int CVisaLink::Send(std::string_view line)
{
    m_lastLineWasQuery = line.find('?') != std::string_view::npos;
    // A batch whose read closed the session still has lines to send: they
    // open it again, as the next command would.
    if ((!m_session || !m_session->IsOpen()) && !OpenSession())
        return 0;
    QString error;
    if (m_session->Write(line, error))
        return 1;
    ReportFailure(error);
    return 0;
}

void CVisaLink::ReadReply(CReply &reply)
{
    reply.Reset();
    if (!m_session || !m_session->IsOpen())
        return;
    QString error;
    CReply got;
    const bool read = m_session->Read(got, error);
    ShowNotes();
    if (!read) {
        // The session has made sure that nothing of the reply is left to be
        // taken for the next one; nothing of it is shown.
        ReportFailure(error);
        return;
    }
    reply = std::move(got);
    ReportIfCut(reply);
}

void CVisaLink::ReadForLog(CReply &reply)
{
    if (!ExpectsReply()) {
        reply.Reset();
        return;
    }
    ReadReply(reply);
}

void CVisaLink::ReadForDisplay(CReply &reply)
{
    ReadReply(reply);
}

bool CVisaLink::PollStatusByte(short &result, QString &error)
{
    if ((!m_session || !m_session->IsOpen()) && !OpenSession())
        return false; // reported already
    std::uint8_t status = 0;
    if (!m_session->ReadStatusByte(status, error))
        return false;
    result = status;
    return true;
}

CLinkSettingsGroup CVisaLink::SerialGroup()
{
    using Shown = CLinkSetting::Shown;
    using S = CSerialOptions;
    // One option of the serial options, as a setting.
    const auto field = [](const char *key, Shown shown, const QString &label, int least, int most,
                          int S::*member, QStringList choices = {}, QString toolTip = {}) {
        return CLinkSetting{"Serial",
                            key,
                            shown,
                            label,
                            toolTip,
                            least,
                            most,
                            std::move(choices),
                            {},
                            [member](const CLinkOptions &o) { return QVariant(o.serial.*member); },
                            [member](CLinkOptions &o, const QVariant &v) { o.serial.*member = v.toInt(); }};
    };
    QStringList rates;
    for (const int rate : S::STANDARD_BAUDS)
        rates << QString::number(rate);
    CLinkSettingsGroup group{QStringLiteral("Serial"), {}};
    group.settings.push_back(field("Baud", Shown::NumberList, QStringLiteral("Ba&ud rate:"), S::MIN_BAUD,
                                   S::MAX_BAUD, &S::baud, rates,
                                   QStringLiteral("Any standard rate, or type another.")));
    group.settings.push_back(field("DataBits", Shown::Number, QStringLiteral("&Data bits:"), S::MIN_DATA_BITS,
                                   S::MAX_DATA_BITS, &S::dataBits));
    group.settings.push_back(field("Parity", Shown::Choice, QStringLiteral("P&arity:"), 0, S::MAX_PARITY,
                                   &S::parity,
                                   {QStringLiteral("None"), QStringLiteral("Even"), QStringLiteral("Odd"),
                                    QStringLiteral("Space"), QStringLiteral("Mark")}));
    group.settings.push_back(field("StopBits", Shown::Choice, QStringLiteral("&Stop bits:"), S::MIN_STOP_BITS,
                                   S::MAX_STOP_BITS, &S::stopBits,
                                   {QStringLiteral("1"), QStringLiteral("2")}));
    group.settings.push_back(field(
        "FlowControl", Shown::Choice, QStringLiteral("&Flow control:"), 0, S::MAX_FLOW_CONTROL,
        &S::flowControl, {QStringLiteral("None"), QStringLiteral("RTS/CTS"), QStringLiteral("XON/XOFF")}));
    group.settings.push_back(
        field("Dtr", Shown::Check, QStringLiteral("DTR &high (asserted)"), 0, 1, &S::dtr));
    group.settings.push_back(
        field("Rts", Shown::Check, QStringLiteral("RTS hi&gh (asserted)"), 0, 1, &S::rts));
    group.settings.push_back(field(
        "ReplyEnd", Shown::Choice, QStringLiteral("Reply e&nds with:"), 0, S::MAX_REPLY_END, &S::replyEnd,
        {QStringLiteral("LF"), QStringLiteral("CR"), QStringLiteral("CR LF"), QStringLiteral("silence")},
        QStringLiteral("\"silence\": for instruments that end a reply with nothing; it "
                       "ends when no byte has come for the time below.")));
    group.settings.push_back(field("SilenceMs", Shown::Number, QStringLiteral("Silence (&ms):"),
                                   S::MIN_SILENCE_MS, S::MAX_SILENCE_MS, &S::silenceMs));
    return group;
}

std::vector<CLinkSettingsGroup> CVisaLink::SettingsGroups() const
{
    using Shown = CLinkSetting::Shown;
    CLinkSettingsGroup group{QStringLiteral("VISA Resource"), {}};
    CLinkSetting library{"VISA",
                         "Library",
                         Shown::Library,
                         QStringLiteral("VISA &library:"),
                         QStringLiteral("Tallix's own sessions, or a VISA library that is installed on this "
                                        "machine, through which every resource is then opened."),
                         0,
                         0,
                         {QStringLiteral("Tallix's own")},
                         [] { return CVisaLibrary::InstalledLibraries(); },
                         [](const CLinkOptions &o) { return QVariant(o.visaLibrary); },
                         [](CLinkOptions &o, const QVariant &v) { o.visaLibrary = v.toString(); }};
    group.settings.push_back(library);
    group.settings.push_back({"VISA",
                              "OpenTimeoutMs",
                              Shown::Seconds,
                              QStringLiteral("&Open time-out:"),
                              QString(),
                              100,
                              600000,
                              {},
                              {},
                              [](const CLinkOptions &o) { return QVariant(o.visaOpenTimeoutMs); },
                              [](CLinkOptions &o, const QVariant &v) { o.visaOpenTimeoutMs = v.toInt(); }});
    group.settings.push_back({"VISA",
                              "TimeoutMs",
                              Shown::Seconds,
                              QStringLiteral("I/O &time-out:"),
                              QStringLiteral("How long a write may take, and how long a read waits for the "
                                             "next byte of a reply."),
                              100,
                              600000,
                              {},
                              {},
                              [](const CLinkOptions &o) { return QVariant(o.visaTimeoutMs); },
                              [](CLinkOptions &o, const QVariant &v) { o.visaTimeoutMs = v.toInt(); }});
    return {group, SerialGroup()};
}
