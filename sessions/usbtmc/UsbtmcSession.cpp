// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/usbtmc/UsbtmcSession.h"

#include "common/ReplyFramer.h"
#include "common/SystemError.h"
#include "common/UiHooks.h"
#include "sessions/usbtmc/UsbtmcDevice.h"
#include "sessions/usbtmc/UsbtmcKind.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include <linux/ioctl.h>
#include <linux/usb/tmc.h>
#include <unistd.h>

namespace {

// The most one read asks the instrument for: large enough that a big reply
// takes few transfers, small enough that the progress moves and Stop is
// heard between them.
constexpr std::size_t READ_PIECE = 256 * 1024;
// The driver refuses shorter time-outs, and uses its own 5 s where it cannot
// take one.
constexpr int MIN_DRIVER_TIMEOUT_MS = 100;
constexpr int DRIVER_DEFAULT_TIMEOUT_MS = 5000;
// Bit 0 of a transfer's attributes: it ends the message (EOM).
constexpr std::uint8_t END_OF_MESSAGE = 0x01;
// Once the user has stopped, the abort and the clear that follow get this
// long to end before the window is given back.
constexpr std::chrono::milliseconds WRAP_UP{500};

// An ioctl that this kernel's driver does not know: it answers EBADRQC, the
// kernel ENOTTY where the driver has no ioctl at all.
bool Unsupported(int code)
{
    return code == ENOTTY || code == EINVAL || code == EBADRQC || code == ENOSYS;
}

// The instrument went away under a transfer: disconnected (ENODEV, ENXIO),
// or the transfer broke off as it went (EPIPE, EPROTO, ESHUTDOWN).
bool Gone(int code)
{
    return code == ENODEV || code == ENXIO;
}
bool Broken(int code)
{
    return code == EPIPE || code == EPROTO || code == ESHUTDOWN;
}

QString NoteNoTimeout()
{
    return QStringLiteral(
        "This kernel's usbtmc driver cannot take a time-out: each USB read and write waits up "
        "to the driver's own 5 seconds, whatever Tallix's time-out says.");
}
QString NoteNoAutoAbort()
{
    return QStringLiteral("This kernel's usbtmc driver cannot abort a read that timed out: Tallix clears the "
                          "instrument instead, which also drops anything else it had to send.");
}
QString NoteNoEndOfMessage()
{
    return QStringLiteral(
        "This kernel's usbtmc driver does not tell where a message ends: Tallix takes a reply "
        "to end where a read returns less than it asked for, or at its line feed.");
}
QString NoteNoStatusByte()
{
    return QStringLiteral(
        "This kernel's usbtmc driver cannot read an instrument's status byte (Linux 4.6 and "
        "newer can).");
}

} // namespace

CUsbtmcSession::CUsbtmcSession(const CResource &resource, const CSessionOptions &options)
    : CSession(options), m_resource(resource)
{
}

CUsbtmcSession::~CUsbtmcSession()
{
    Close();
}

std::unique_ptr<CSession> CUsbtmcSession::Make(const CResource &resource, const CSessionOptions &options)
{
    return std::make_unique<CUsbtmcSession>(resource, options);
}

QString CUsbtmcSession::Name() const
{
    return m_resource.text.isEmpty() ? UsbtmcCanonical(m_resource) : m_resource.text;
}

void CUsbtmcSession::Note(const QString &text)
{
    if (m_givenNotes.contains(text))
        return;
    m_givenNotes << text;
    m_pendingNotes << text;
}

QStringList CUsbtmcSession::TakeNotes()
{
    QStringList notes;
    notes.swap(m_pendingNotes);
    return notes;
}

bool CUsbtmcSession::Settle(QString &error)
{
    if (m_file.Settle(m_options.hooks))
        return true;
    error =
        QStringLiteral("Stopped while %1 was still finishing the command stopped before; nothing was sent.")
            .arg(Name());
    return false;
}

CallEnd CUsbtmcSession::Ioctl(unsigned long request, void *argument, std::size_t size,
                              CUsbtmcFile::CResult &result, const QString &what, QString &error)
{
    QString threadError;
    const CallEnd end =
        m_file.Ioctl(request, argument, size, m_options.hooks, EffectiveTimeoutMs(), result, threadError);
    if (end == CallEnd::Stopped)
        error = what;
    else if (end == CallEnd::NotStarted)
        error = QStringLiteral("Could not use %1 (%2): %3.").arg(Name(), m_device, threadError);
    return end;
}

bool CUsbtmcSession::Open(QString &error)
{
    Close();
    if (!Settle(error) || !CUsbtmcDevice::Find(m_resource, Name(), m_device, error))
        return false;
    CUsbtmcFile::CResult opened;
    QString threadError;
    const CallEnd end =
        m_file.Open(m_device.toLocal8Bit(), m_options.hooks, m_options.openTimeoutMs, opened, threadError);
    const QString stopped =
        QStringLiteral("Opening %1 (for %2) was stopped; nothing was left open.").arg(m_device, Name());
    if (end != CallEnd::Done) {
        error = end == CallEnd::Stopped
                    ? stopped
                    : QStringLiteral("Could not open %1 (for %2): %3.").arg(m_device, Name(), threadError);
        return false;
    }
    if (opened.value != 0) {
        const int code = opened.code;
        if (code == EACCES || code == EPERM)
            error =
                QStringLiteral(
                    "Tallix may not use %1 (for %2): the device file is not readable and writable for you. "
                    "Install Tallix's udev rule 70-tallix-usbtmc.rules (the tallix package puts it in "
                    "/usr/lib/udev/rules.d; from a build, copy udev/70-tallix-usbtmc.rules to "
                    "/etc/udev/rules.d), run 'sudo udevadm control --reload' and plug the instrument in "
                    "again. The rule gives access to the user at the seat and to the plugdev group; when "
                    "you work remotely, join that group ('sudo usermod -aG plugdev $USER') and log in again.")
                    .arg(m_device, Name());
        else if (code == ENOENT || Gone(code))
            error = QStringLiteral("%1 (for %2) went away before it could be opened: the instrument was "
                                   "unplugged or switched off. Plug it in and try again.")
                        .arg(m_device, Name());
        else
            error = QStringLiteral("Could not open %1 (for %2): %3.")
                        .arg(m_device, Name(), SystemErrorText(code));
        return false;
    }
    m_timeoutApplied = -1;
    m_canSetTimeout = true;
    m_canReadStatusByte = true;

    // The driver's own settings, which an older kernel may lack; false when
    // one failed otherwise or the user stopped.
    const auto setUp = [&](unsigned long request, bool &supported, std::uint8_t value) {
        CUsbtmcFile::CResult result;
        if (Ioctl(request, &value, sizeof value, result, stopped, error) != CallEnd::Done) {
            Close();
            return false;
        }
        supported = result.value == 0;
        if (!supported && !Unsupported(result.code)) {
            error = IoFailure(QStringLiteral("set up"), result.code);
            Close();
            return false;
        }
        return true;
    };
    // A read that times out is aborted by the driver itself, so that the
    // instrument does not keep the reply for the next one.
    if (!setUp(USBTMC_IOCTL_AUTO_ABORT, m_autoAbort, 1))
        return false;
    if (!m_autoAbort)
        Note(NoteNoAutoAbort());
    if (!setUp(USBTMC_IOCTL_MSG_IN_ATTR, m_endOfMessageKnown, 0))
        return false;
    if (!m_endOfMessageKnown)
        Note(NoteNoEndOfMessage());
    if (!ApplyTimeout(error)) {
        Close();
        return false;
    }
    return true;
}

void CUsbtmcSession::Close()
{
    m_file.Close();
}

int CUsbtmcSession::EffectiveTimeoutMs() const
{
    return m_canSetTimeout ? std::max(MIN_DRIVER_TIMEOUT_MS, m_options.ioTimeoutMs)
                           : DRIVER_DEFAULT_TIMEOUT_MS;
}

bool CUsbtmcSession::ApplyTimeout(QString &error)
{
    if (!m_canSetTimeout)
        return true;
    const int wanted = EffectiveTimeoutMs();
    if (wanted == m_timeoutApplied)
        return true;
    // The driver counts it for each transfer, and a read is one transfer per
    // piece: so it runs from the last bytes received, not from the command.
    __u32 value = static_cast<__u32>(wanted);
    CUsbtmcFile::CResult result;
    if (Ioctl(USBTMC_IOCTL_SET_TIMEOUT, &value, sizeof value, result,
              QStringLiteral("Setting the time-out of %1 was stopped; nothing was sent.").arg(Name()),
              error) != CallEnd::Done)
        return false;
    if (result.value == 0) {
        m_timeoutApplied = wanted;
        return true;
    }
    if (Unsupported(result.code)) {
        m_canSetTimeout = false;
        Note(NoteNoTimeout());
        return true;
    }
    error = IoFailure(QStringLiteral("set the time-out of"), result.code);
    return false;
}

QString CUsbtmcSession::IoFailure(const QString &what, int code)
{
    const QString device = m_device;
    if (Gone(code) || Broken(code)) {
        Close();
        return QStringLiteral(
                   "%1 is gone (%2): the instrument was unplugged, switched off or reset. Plug it in "
                   "and open the resource again.")
            .arg(Name(), SystemErrorText(code));
    }
    return QStringLiteral("Could not %1 %2 (%3): %4.").arg(what, Name(), device, SystemErrorText(code));
}

QString CUsbtmcSession::WrapUp(bool reading)
{
    const QString what = reading ? QStringLiteral("read") : QStringLiteral("write");
    switch (m_file.TidyUp(reading ? USBTMC_IOCTL_ABORT_BULK_IN : USBTMC_IOCTL_ABORT_BULK_OUT, m_options.hooks,
                          WRAP_UP)) {
    case CUsbtmcFile::Tidied::Cleared:
        return reading ? QStringLiteral("the read was aborted and the instrument's output cleared")
                       : QStringLiteral("the write was aborted and the instrument cleared");
    case CUsbtmcFile::Tidied::Pending:
        return QStringLiteral(
                   "the driver gives the %1 up within %2 ms; then it is aborted and the instrument "
                   "cleared, before the next command")
            .arg(what)
            .arg(EffectiveTimeoutMs());
    case CUsbtmcFile::Tidied::Broken:
        break;
    }
    return QStringLiteral("the instrument could not be cleared, so its device file was closed");
}

bool CUsbtmcSession::Write(std::string_view data, QString &error)
{
    if (!Settle(error))
        return false;
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    if (!ApplyTimeout(error))
        return false;
    // The driver sends each write as one message with its end mark.
    auto bytes = std::make_shared<const std::string>(data);
    std::size_t done = 0;
    while (done < bytes->size()) {
        CUsbtmcFile::CResult sent;
        QString threadError;
        const CallEnd end = m_file.Call(
            [bytes, done](int fd) { return long{::write(fd, bytes->data() + done, bytes->size() - done)}; },
            m_options.hooks, WaitProgress(EffectiveTimeoutMs()), sent, threadError);
        if (end == CallEnd::Stopped) {
            error = QStringLiteral("Sending the command to %1 was stopped; %2.").arg(Name(), WrapUp(false));
            return false;
        }
        if (end == CallEnd::NotStarted) {
            error = QStringLiteral("Could not write to %1 (%2): %3.").arg(Name(), m_device, threadError);
            return false;
        }
        if (sent.value < 0) {
            if (sent.code == ETIMEDOUT)
                error = QStringLiteral("%1 did not take the command within %2 ms (time-out).")
                            .arg(Name())
                            .arg(EffectiveTimeoutMs());
            else
                error = IoFailure(QStringLiteral("write to"), sent.code);
            return false;
        }
        done += static_cast<std::size_t>(sent.value);
    }
    return true;
}

QString CUsbtmcSession::DropRestOfReply(bool partReceived)
{
    // The driver's abort ends the transfer that timed out; what the
    // instrument still holds of a reply that had begun, or of one the driver
    // could not abort, only a device clear drops.
    if (m_autoAbort && !partReceived)
        return QString();
    CUsbtmcFile::CResult cleared;
    const QString stopped =
        QStringLiteral(" The device clear that followed was stopped; the next command waits for it to end.");
    QString said;
    const CallEnd end = Ioctl(USBTMC_IOCTL_CLEAR, nullptr, 0, cleared, stopped, said);
    if (end == CallEnd::Stopped)
        return said;
    if (end != CallEnd::Done || cleared.value != 0)
        Close();
    return QString();
}

bool CUsbtmcSession::Read(CReply &reply, QString &error)
{
    reply = CReply();
    if (!Settle(error))
        return false;
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    if (!ApplyTimeout(error))
        return false;

    CReplyFramer framer(m_endOfMessageKnown ? ReplyEnd::Mark : ReplyEnd::Lf, m_options.maxReplyBytes);
    const auto progress = [&framer]() {
        return CProgress{CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()};
    };
    const auto stopped = [&]() {
        reply = framer.Take();
        error = QStringLiteral("Reading the reply from %1 was stopped after %2 bytes; %3.")
                    .arg(Name())
                    .arg(reply.total)
                    .arg(WrapUp(true));
        return false;
    };
    for (;;) {
        // Each read has a buffer of its own: one the user stopped may still
        // fill it.
        auto piece = std::make_shared<QByteArray>(static_cast<qsizetype>(READ_PIECE), '\0');
        CUsbtmcFile::CResult got;
        QString threadError;
        const CallEnd end = m_file.Read(piece, m_options.hooks, progress, got, threadError);
        if (end == CallEnd::Stopped)
            return stopped();
        if (end == CallEnd::NotStarted) {
            reply = framer.Take();
            error = QStringLiteral("Could not read from %1 (%2): %3.").arg(Name(), m_device, threadError);
            return false;
        }
        if (got.value < 0) {
            reply = framer.Take();
            if (got.code == ETIMEDOUT) {
                const QString more = DropRestOfReply(reply.total > 0);
                error = reply.total > 0
                            ? QStringLiteral("The reply from %1 broke off after %2 bytes: nothing more "
                                             "came within %3 ms (time-out).")
                                  .arg(Name())
                                  .arg(reply.total)
                                  .arg(EffectiveTimeoutMs())
                            : QStringLiteral("No reply from %1 within %2 ms (time-out).")
                                  .arg(Name())
                                  .arg(EffectiveTimeoutMs());
                error += more;
                return false;
            }
            error = IoFailure(QStringLiteral("read from"), got.code);
            return false;
        }
        const auto size = static_cast<std::size_t>(got.value);
        // An empty transfer ends the reply whatever its flag says, so that a
        // device that sends nothing cannot keep us here.
        bool ends = size == 0 || size < READ_PIECE;
        if (m_endOfMessageKnown && size > 0) {
            std::uint8_t attributes = 0;
            CUsbtmcFile::CResult asked;
            QString said;
            const CallEnd attributesEnd =
                Ioctl(USBTMC_IOCTL_MSG_IN_ATTR, &attributes, sizeof attributes, asked, QString(), said);
            if (attributesEnd == CallEnd::Stopped)
                return stopped();
            if (attributesEnd == CallEnd::Done && asked.value == 0)
                ends = (attributes & END_OF_MESSAGE) != 0;
        }
        framer.Feed(piece->constData(), size, ends);
        if (framer.Complete())
            break;
        if (m_options.hooks && !m_options.hooks->Pulse(progress()))
            return stopped();
    }
    reply = framer.Take();
    return true;
}

bool CUsbtmcSession::ReadStatusByte(std::uint8_t &status, QString &error)
{
    if (!Settle(error))
        return false;
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    if (m_canReadStatusByte) {
        std::uint8_t value = 0;
        CUsbtmcFile::CResult result;
        if (Ioctl(USBTMC488_IOCTL_READ_STB, &value, sizeof value, result,
                  QStringLiteral("Reading the status byte of %1 was stopped; the next command waits for the "
                                 "instrument to answer it.")
                      .arg(Name()),
                  error) != CallEnd::Done)
            return false;
        if (result.value == 0) {
            status = value;
            return true;
        }
        const int code = result.code;
        if (code == ETIMEDOUT) {
            error = QStringLiteral("%1 did not give its status byte within %2 ms (time-out).")
                        .arg(Name())
                        .arg(EffectiveTimeoutMs());
            return false;
        }
        // A stall (EPIPE) on this control request is the instrument refusing
        // it, not the instrument gone.
        if (code == EPIPE) {
            error =
                QStringLiteral("%1 refused to give its status byte: it may not support USB488 serial polls.")
                    .arg(Name());
            return false;
        }
        if (!Unsupported(code)) {
            error = IoFailure(QStringLiteral("read the status byte of"), code);
            return false;
        }
        m_canReadStatusByte = false;
        Note(NoteNoStatusByte());
    }
    error = QStringLiteral("Cannot read the status byte of %1: %2").arg(Name(), NoteNoStatusByte());
    return false;
}

bool CUsbtmcSession::Clear(QString &error)
{
    if (!Settle(error))
        return false;
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    CUsbtmcFile::CResult result;
    if (Ioctl(
            USBTMC_IOCTL_CLEAR, nullptr, 0, result,
            QStringLiteral("The device clear of %1 was stopped; the next command waits for the instrument to "
                           "finish it.")
                .arg(Name()),
            error) != CallEnd::Done)
        return false;
    if (result.value == 0)
        return true;
    if (result.code == EPIPE) {
        error = QStringLiteral("%1 refused the device clear.").arg(Name());
        return false;
    }
    error = IoFailure(QStringLiteral("clear"), result.code);
    return false;
}
