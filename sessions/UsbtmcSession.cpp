// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/UsbtmcSession.h"

#include "common/ReplyFramer.h"
#include "common/SystemError.h"
#include "common/UiHooks.h"
#include "sessions/ResourceParser.h"
#include "sessions/UsbtmcDevice.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <linux/ioctl.h>
#include <linux/usb/tmc.h>
#include <sys/ioctl.h>
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
    return m_resource.text.isEmpty() ? CanonicalResource(m_resource) : m_resource.text;
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

bool CUsbtmcSession::FindDevice(QString &error)
{
    const std::vector<CUsbtmcDevice> devices = CUsbtmcDevice::List();
    const CUsbtmcDevice *chosen = nullptr;
    for (const CUsbtmcDevice &device : devices) {
        if (device.vendor != m_resource.vendor || device.product != m_resource.product ||
            device.serial != m_resource.serial)
            continue;
        if (m_resource.usbInterface >= 0 && device.interfaceNumber != m_resource.usbInterface)
            continue;
        // Without an interface number, the instrument's first USBTMC
        // interface.
        if (!chosen || device.interfaceNumber < chosen->interfaceNumber)
            chosen = &device;
    }
    if (chosen) {
        m_device = chosen->node;
        return true;
    }
    if (devices.empty()) {
        error = QStringLiteral(
                    "No USB instrument matches %1: the kernel's usbtmc driver serves none (there is no "
                    "usbtmc device in /sys/class/usbmisc). Check that the instrument is plugged in and "
                    "switched on, and that its USB port is set to USBTMC rather than to a disk or a "
                    "serial port.")
                    .arg(Name());
        return false;
    }
    QStringList found;
    for (const CUsbtmcDevice &device : devices)
        found << QStringLiteral("%1 (%2)").arg(device.ResourceString(), device.Description());
    error =
        QStringLiteral("No USB instrument matches %1. Connected: %2. Open one of these, or check the vendor "
                       "and product ids and the serial number.")
            .arg(Name(), found.join(QStringLiteral("; ")));
    return false;
}

bool CUsbtmcSession::Open(QString &error)
{
    Close();
    if (!FindDevice(error))
        return false;
    const QByteArray path = m_device.toLocal8Bit();
    int fd;
    do {
        fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int code = errno;
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
    m_fd = fd;
    m_timeoutApplied = -1;
    m_canSetTimeout = true;
    m_canReadStatusByte = true;

    // A read that times out is aborted by the driver itself, so that the
    // instrument does not keep the reply for the next one.
    unsigned char on = 1;
    m_autoAbort = ::ioctl(m_fd, USBTMC_IOCTL_AUTO_ABORT, &on) == 0;
    if (!m_autoAbort) {
        if (!Unsupported(errno)) {
            error = IoFailure(QStringLiteral("set up"), errno);
            Close();
            return false;
        }
        Note(NoteNoAutoAbort());
    }
    std::uint8_t attributes = 0;
    m_endOfMessageKnown = ::ioctl(m_fd, USBTMC_IOCTL_MSG_IN_ATTR, &attributes) == 0;
    if (!m_endOfMessageKnown) {
        if (!Unsupported(errno)) {
            error = IoFailure(QStringLiteral("set up"), errno);
            Close();
            return false;
        }
        Note(NoteNoEndOfMessage());
    }
    if (!ApplyTimeout(error)) {
        Close();
        return false;
    }
    return true;
}

void CUsbtmcSession::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
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
    if (::ioctl(m_fd, USBTMC_IOCTL_SET_TIMEOUT, &value) == 0) {
        m_timeoutApplied = wanted;
        return true;
    }
    if (Unsupported(errno)) {
        m_canSetTimeout = false;
        Note(NoteNoTimeout());
        return true;
    }
    error = IoFailure(QStringLiteral("set the time-out of"), errno);
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

bool CUsbtmcSession::Write(std::string_view data, QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    if (!ApplyTimeout(error))
        return false;
    // The driver sends each write as one message with its end mark.
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t sent = ::write(m_fd, data.data() + done, data.size() - done);
        if (sent < 0) {
            const int code = errno;
            if (code == EINTR)
                continue;
            if (code == ETIMEDOUT)
                error = QStringLiteral("%1 did not take the command within %2 ms (time-out).")
                            .arg(Name())
                            .arg(EffectiveTimeoutMs());
            else
                error = IoFailure(QStringLiteral("write to"), code);
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

void CUsbtmcSession::DropRestOfReply(bool partReceived)
{
    // The driver's abort ends the transfer that timed out; what the
    // instrument still holds of a reply that had begun, or of one the driver
    // could not abort, only a device clear drops.
    if (m_autoAbort && !partReceived)
        return;
    if (::ioctl(m_fd, USBTMC_IOCTL_CLEAR) != 0)
        Close();
}

bool CUsbtmcSession::Read(CReply &reply, QString &error)
{
    reply = CReply();
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    if (!ApplyTimeout(error))
        return false;

    CReplyFramer framer(m_endOfMessageKnown ? ReplyEnd::Mark : ReplyEnd::Lf, m_options.maxReplyBytes);
    std::vector<char> piece(READ_PIECE);
    for (;;) {
        const ssize_t got = ::read(m_fd, piece.data(), piece.size());
        if (got < 0) {
            const int code = errno;
            if (code == EINTR)
                continue;
            reply = framer.Take();
            if (code == ETIMEDOUT) {
                DropRestOfReply(reply.total > 0);
                error = reply.total > 0
                            ? QStringLiteral("The reply from %1 broke off after %2 bytes: nothing more "
                                             "came within %3 ms (time-out).")
                                  .arg(Name())
                                  .arg(reply.total)
                                  .arg(EffectiveTimeoutMs())
                            : QStringLiteral("No reply from %1 within %2 ms (time-out).")
                                  .arg(Name())
                                  .arg(EffectiveTimeoutMs());
                return false;
            }
            error = IoFailure(QStringLiteral("read from"), code);
            return false;
        }
        const auto size = static_cast<std::size_t>(got);
        // An empty transfer ends the reply whatever its flag says, so that a
        // device that sends nothing cannot keep us here.
        bool end = size == 0 || size < piece.size();
        if (m_endOfMessageKnown && size > 0) {
            std::uint8_t attributes = 0;
            if (::ioctl(m_fd, USBTMC_IOCTL_MSG_IN_ATTR, &attributes) == 0)
                end = (attributes & END_OF_MESSAGE) != 0;
        }
        framer.Feed(piece.data(), size, end);
        if (framer.Complete())
            break;
        const CProgress progress{CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()};
        if (m_options.hooks && !m_options.hooks->Pulse(progress)) {
            reply = framer.Take();
            if (::ioctl(m_fd, USBTMC_IOCTL_CLEAR) != 0)
                Close();
            error = QStringLiteral(
                        "Reading the reply from %1 was stopped after %2 bytes; the instrument's output "
                        "was cleared.")
                        .arg(Name())
                        .arg(reply.total);
            return false;
        }
    }
    reply = framer.Take();
    return true;
}

bool CUsbtmcSession::ReadStatusByte(std::uint8_t &status, QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    if (m_canReadStatusByte) {
        std::uint8_t value = 0;
        if (::ioctl(m_fd, USBTMC488_IOCTL_READ_STB, &value) == 0) {
            status = value;
            return true;
        }
        const int code = errno;
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
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    if (::ioctl(m_fd, USBTMC_IOCTL_CLEAR) == 0)
        return true;
    const int code = errno;
    if (code == EPIPE) {
        error = QStringLiteral("%1 refused the device clear.").arg(Name());
        return false;
    }
    error = IoFailure(QStringLiteral("clear"), code);
    return false;
}
