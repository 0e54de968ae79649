// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/SerialSession.h"

#include "common/ReplyFramer.h"
#include "common/SystemError.h"
#include "common/UiHooks.h"
#include "sessions/ResourceParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#include <algorithm>
#include <cerrno>

#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Waits are cut into slices of this length, between which the progress hook
// is called (and Stop heard).
constexpr int SLICE_MS = 100;
// After a reply that could not be read to its end, the line must stay quiet
// this long before the rest of the reply counts as gone...
constexpr int DRAIN_QUIET_MS = 250;
// ... but the drain gives up after this long, for a device that never stops.
constexpr int DRAIN_LIMIT_MS = 3000;

int MsUntil(std::chrono::steady_clock::time_point when)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(when - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

QString GroupOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    char buffer[1024];
    group entry{};
    group *found = nullptr;
    if (getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return QString::number(info.st_gid);
    return QString::fromLocal8Bit(found->gr_name);
}

// "picocom, process 1234" for another process that has the device open;
// empty when none can be seen (another user's processes are hidden to all
// but root).
QString HolderOf(const QString &path)
{
    struct stat device
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &device) != 0 || !S_ISCHR(device.st_mode))
        return {};
    const QString self = QString::number(::getpid());
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : processes) {
        if (pid == self || pid.front() < u'0' || pid.front() > u'9')
            continue;
        const QString fdFolder = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdFolder).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            struct stat open
            {
            };
            const QByteArray link = QFile::encodeName(fdFolder + u'/' + fd);
            if (::stat(link.constData(), &open) == 0 && S_ISCHR(open.st_mode) &&
                open.st_rdev == device.st_rdev) {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
                const QString name = comm.open(QIODevice::ReadOnly)
                                         ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                                         : QString();
                return name.isEmpty() ? QStringLiteral("process %1").arg(pid)
                                      : QStringLiteral("%1, process %2").arg(name, pid);
            }
        }
    }
    return {};
}

QString ParityName(int parity)
{
    switch (parity) {
    case CSerialOptions::PARITY_EVEN:
        return QStringLiteral("even parity");
    case CSerialOptions::PARITY_ODD:
        return QStringLiteral("odd parity");
    case CSerialOptions::PARITY_SPACE:
        return QStringLiteral("space parity");
    case CSerialOptions::PARITY_MARK:
        return QStringLiteral("mark parity");
    default:
        return QStringLiteral("no parity");
    }
}

QSerialPort::Parity QtParity(int parity)
{
    switch (parity) {
    case CSerialOptions::PARITY_EVEN:
        return QSerialPort::EvenParity;
    case CSerialOptions::PARITY_ODD:
        return QSerialPort::OddParity;
    case CSerialOptions::PARITY_SPACE:
        return QSerialPort::SpaceParity;
    case CSerialOptions::PARITY_MARK:
        return QSerialPort::MarkParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::FlowControl QtFlowControl(int flow)
{
    switch (flow) {
    case CSerialOptions::FLOW_RTS_CTS:
        return QSerialPort::HardwareControl;
    case CSerialOptions::FLOW_XON_XOFF:
        return QSerialPort::SoftwareControl;
    default:
        return QSerialPort::NoFlowControl;
    }
}

ReplyEnd FramerEnd(int rule)
{
    switch (rule) {
    case CSerialOptions::END_CR:
        return ReplyEnd::Cr;
    case CSerialOptions::END_CR_LF:
        return ReplyEnd::CrLf;
    case CSerialOptions::END_SILENCE:
        return ReplyEnd::Mark;
    default:
        return ReplyEnd::Lf;
    }
}

} // namespace

CSerialSession::CSerialSession(const CResource &resource, const CSessionOptions &options)
    : CSession(options), m_resource(resource)
{
}

CSerialSession::~CSerialSession()
{
    Close();
}

std::unique_ptr<CSession> CSerialSession::Make(const CResource &resource, const CSessionOptions &options)
{
    return std::make_unique<CSerialSession>(resource, options);
}

QString CSerialSession::DevicePathOf(const CResource &resource, QString &error)
{
    if (resource.asrlNumber < 0)
        return resource.devicePath;
    if (resource.asrlNumber == 0) {
        error = QStringLiteral("Resource '%1': serial ports are counted from 1 (ASRL1 is /dev/ttyS0); name a "
                               "USB adapter by its device path, e.g. ASRL/dev/ttyUSB0::INSTR")
                    .arg(resource.text);
        return {};
    }
    return QStringLiteral("/dev/ttyS%1").arg(resource.asrlNumber - 1);
}

QString CSerialSession::Name() const
{
    return m_resource.text.isEmpty() ? CanonicalResource(m_resource) : m_resource.text;
}

QString CSerialSession::SettingsText() const
{
    const CSerialOptions serial = m_options.serial.InRange();
    return QStringLiteral("%L1 baud, %2 data bits, %3, %4 stop bit%5")
        .arg(serial.baud)
        .arg(serial.dataBits)
        .arg(ParityName(serial.parity))
        .arg(serial.stopBits)
        .arg(serial.stopBits == 1 ? QString() : QStringLiteral("s"));
}

QStringList CSerialSession::TakeNotes()
{
    QStringList notes;
    notes.swap(m_notes);
    return notes;
}

bool CSerialSession::IsOpen() const
{
    return m_port && m_port->isOpen();
}

void CSerialSession::Close()
{
    if (m_port && m_port->isOpen())
        m_port->close();
    m_port.reset();
    m_pending.clear();
}

QString CSerialSession::OpenFailure(int systemError) const
{
    if (systemError == EACCES || systemError == EPERM) {
        const QString group = GroupOf(m_device);
        return QStringLiteral(
                   "Tallix may not use the serial port %1 (for %2): it belongs to the group %3, "
                   "and you are not in it. Add yourself to the %3 group: sudo usermod -aG %3 $USER, "
                   "then log in again.")
            .arg(m_device, Name(), group.isEmpty() ? QStringLiteral("dialout") : group);
    }
    const QString holder = HolderOf(m_device);
    return QStringLiteral("Another program has the serial port %1 open%2: close it, then try again.")
        .arg(m_device, holder.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(holder));
}

bool CSerialSession::Open(QString &error)
{
    Close();
    m_device = DevicePathOf(m_resource, error);
    if (m_device.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(m_device);
    if (!QFileInfo::exists(m_device)) {
        error = QStringLiteral("There is no serial port %1 (for %2): check that the adapter is plugged in; "
                               "ls /dev/serial/by-id lists the USB serial ports that are.")
                    .arg(m_device, Name());
        return false;
    }
    if (::access(path.constData(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM)) {
        error = OpenFailure(EACCES);
        return false;
    }
    // Two programs on one port would each take half of the other's replies;
    // the port's own lock and TIOCEXCL stop others but not root.
    if (!HolderOf(m_device).isEmpty()) {
        error = OpenFailure(EBUSY);
        return false;
    }

    const CSerialOptions serial = m_options.serial.InRange();
    m_port = std::make_unique<QSerialPort>();
    m_port->setPortName(m_device);
    m_port->setBaudRate(serial.baud);
    m_port->setDataBits(static_cast<QSerialPort::DataBits>(serial.dataBits));
    m_port->setParity(QtParity(serial.parity));
    m_port->setStopBits(serial.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    m_port->setFlowControl(QtFlowControl(serial.flowControl));
    if (!m_port->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError code = m_port->error();
        const QString why = m_port->errorString();
        m_port.reset();
        switch (code) {
        case QSerialPort::DeviceNotFoundError:
            error =
                QStringLiteral("The serial port %1 (for %2) went away before it could be opened: plug the "
                               "adapter in and try again.")
                    .arg(m_device, Name());
            break;
        case QSerialPort::PermissionError:
            // Qt says the same for a port another program has locked.
            error = OpenFailure(EBUSY);
            break;
        case QSerialPort::UnsupportedOperationError:
            error =
                QStringLiteral("The serial port %1 does not take these settings (%2): %3. Choose others in "
                               "Link Settings.")
                    .arg(m_device, SettingsText(), why);
            break;
        default:
            error =
                QStringLiteral("Could not open the serial port %1 (for %2): %3.").arg(m_device, Name(), why);
            break;
        }
        return false;
    }

    // DTR and RTS are modem lines: a pseudo-terminal has none, and with
    // RTS/CTS flow control the driver drives RTS itself.
    int lines = 0;
    if (::ioctl(m_port->handle(), TIOCMGET, &lines) != 0) {
        m_notes << QStringLiteral("The serial port %1 has no modem lines: DTR and RTS are left as they are.")
                       .arg(m_device);
    } else {
        bool set = m_port->setDataTerminalReady(serial.dtr != 0);
        if (serial.flowControl != CSerialOptions::FLOW_RTS_CTS)
            set = m_port->setRequestToSend(serial.rts != 0) && set;
        if (!set) {
            m_notes << QStringLiteral("The serial port %1 did not take the DTR and RTS levels: %2.")
                           .arg(m_device, m_port->errorString());
            m_port->clearError();
        }
    }
    // A power-on banner or the rest of an earlier conversation is no reply to
    // the next command.
    m_port->clear(QSerialPort::AllDirections);
    m_countsLineErrors = ReadLineErrors(m_lineErrors);
    return true;
}

bool CSerialSession::ReadLineErrors(LineErrors &counts) const
{
    if (!IsOpen())
        return false;
    serial_icounter_struct icount{};
    if (::ioctl(m_port->handle(), TIOCGICOUNT, &icount) != 0)
        return false;
    counts.frame = icount.frame;
    counts.parity = icount.parity;
    counts.overrun = icount.overrun + icount.buf_overrun;
    counts.brk = icount.brk;
    return true;
}

QString CSerialSession::NewLineErrors()
{
    if (!m_countsLineErrors)
        return {};
    LineErrors now;
    if (!ReadLineErrors(now))
        return {};
    const LineErrors before = m_lineErrors;
    m_lineErrors = now;
    QStringList seen;
    if (now.frame > before.frame)
        seen << QStringLiteral("framing errors");
    if (now.parity > before.parity)
        seen << QStringLiteral("parity errors");
    if (!seen.isEmpty())
        return QStringLiteral("The serial port %1 received bytes with %2: its settings (%3) do not match the "
                              "instrument's. Set the baud rate, data bits, parity and stop bits in Link "
                              "Settings as the instrument's manual gives them.")
            .arg(m_device, seen.join(QStringLiteral(" and ")), SettingsText());
    if (now.overrun > before.overrun)
        return QStringLiteral(
                   "The serial port %1 lost bytes of the reply (overrun): lower the baud rate or use "
                   "RTS/CTS flow control.")
            .arg(m_device);
    if (now.brk > before.brk)
        return QStringLiteral(
                   "The serial port %1 saw a break (the line held low): check the cable, and that the "
                   "instrument is switched on.")
            .arg(m_device);
    return {};
}

qint64 CSerialSession::Flush(bool bothDirections)
{
    qint64 discarded = m_pending.size();
    m_pending.clear();
    if (!IsOpen())
        return discarded;
    if (bothDirections)
        m_port->clear(QSerialPort::Output);
    // Read and thrown away rather than flushed, so that the count is true.
    discarded += m_port->readAll().size();
    const auto limit = Clock::now() + std::chrono::milliseconds(DRAIN_LIMIT_MS);
    auto quiet = Clock::now() + std::chrono::milliseconds(DRAIN_QUIET_MS);
    while (Clock::now() < std::min(limit, quiet)) {
        if (m_port->waitForReadyRead(std::max(1, MsUntil(std::min(limit, quiet))))) {
            discarded += m_port->readAll().size();
            quiet = Clock::now() + std::chrono::milliseconds(DRAIN_QUIET_MS);
        } else if (m_port->error() == QSerialPort::TimeoutError) {
            m_port->clearError();
        } else {
            break;
        }
    }
    return discarded;
}

bool CSerialSession::DeviceGone() const
{
    if (!QFileInfo::exists(m_device))
        return true;
    if (!IsOpen())
        return false;
    pollfd p{static_cast<int>(m_port->handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

QString CSerialSession::PortFailure(const QString &what, qint64 came)
{
    const QSerialPort::SerialPortError code = m_port ? m_port->error() : QSerialPort::NotOpenError;
    const QString why = m_port ? m_port->errorString() : QString();
    if (code == QSerialPort::ResourceError || code == QSerialPort::DeviceNotFoundError || DeviceGone()) {
        Close();
        return QStringLiteral("The serial port %1 went away %2: the adapter was unplugged (or the instrument "
                              "switched off). Plug it in and open %3 again.")
            .arg(m_device,
                 came > 0 ? QStringLiteral("after %L1 bytes of the reply").arg(came)
                          : QStringLiteral("while Tallix used it"),
                 Name());
    }
    if (m_port)
        m_port->clearError();
    return QStringLiteral("Could not %1 the serial port %2 (for %3): %4.").arg(what, m_device, Name(), why);
}

bool CSerialSession::Write(std::string_view data, QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    const auto size = static_cast<qint64>(data.size());
    if (m_port->write(data.data(), size) != size) {
        error = PortFailure(QStringLiteral("write to"), 0);
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_options.ioTimeoutMs);
    while (m_port->bytesToWrite() > 0) {
        const CProgress progress{CProgress::Kind::Wait, size - m_port->bytesToWrite(), size};
        if (m_options.hooks && !m_options.hooks->Pulse(progress)) {
            m_port->clear(QSerialPort::Output);
            error =
                QStringLiteral("Sending to %1 was stopped; what was not sent yet was discarded.").arg(Name());
            return false;
        }
        const int left = MsUntil(deadline);
        if (left == 0) {
            // The rest would otherwise go out with the next command.
            const qint64 unsent = m_port->bytesToWrite();
            m_port->clear(QSerialPort::Output);
            const int flow = m_options.serial.InRange().flowControl;
            error =
                QStringLiteral("The serial port %1 did not send the command within %L2 ms (%L3 bytes were "
                               "left and are discarded)%4.")
                    .arg(m_device)
                    .arg(m_options.ioTimeoutMs)
                    .arg(unsent)
                    .arg(flow == CSerialOptions::FLOW_NONE
                             ? QString()
                             : QStringLiteral(": the instrument holds it back through %1 flow control; "
                                              "check the cable and that the instrument is switched on, or "
                                              "set the flow control as the instrument's manual gives it")
                                   .arg(flow == CSerialOptions::FLOW_RTS_CTS ? QStringLiteral("RTS/CTS")
                                                                             : QStringLiteral("XON/XOFF")));
            return false;
        }
        if (!m_port->waitForBytesWritten(std::min(SLICE_MS, left))) {
            if (m_port->error() == QSerialPort::TimeoutError) {
                m_port->clearError();
                continue;
            }
            if (m_port->bytesToWrite() == 0)
                break;
            error = PortFailure(QStringLiteral("write to"), 0);
            return false;
        }
    }
    return true;
}

bool CSerialSession::Read(CReply &reply, QString &error)
{
    reply = CReply();
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    const CSerialOptions serial = m_options.serial.InRange();
    const bool silenceEnds = serial.replyEnd == CSerialOptions::END_SILENCE;
    CReplyFramer framer(FramerEnd(serial.replyEnd), m_options.maxReplyBytes);
    const auto timeout = std::chrono::milliseconds(m_options.ioTimeoutMs);
    const auto silence = std::chrono::milliseconds(serial.silenceMs);
    auto lastByte = Clock::now();
    QByteArray chunk = std::exchange(m_pending, QByteArray());

    const auto fail = [&](const QString &text, bool flush) {
        reply = framer.Take();
        if (flush)
            Flush(false);
        error = text;
        return false;
    };

    for (;;) {
        if (!chunk.isEmpty()) {
            const std::size_t used = framer.Feed(chunk.constData(), static_cast<std::size_t>(chunk.size()));
            lastByte = Clock::now();
            if (framer.Complete()) {
                m_pending = chunk.mid(static_cast<qsizetype>(used));
                break;
            }
            chunk.clear();
        }
        const QString lineErrors = NewLineErrors();
        if (!lineErrors.isEmpty())
            return fail(lineErrors, true);
        const CProgress progress{CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()};
        if (m_options.hooks && !m_options.hooks->Pulse(progress)) {
            const std::int64_t came = framer.Received();
            return fail(
                QStringLiteral("Reading the reply from %1 was stopped after %L2 bytes; what else came of "
                               "it was discarded.")
                    .arg(Name())
                    .arg(came),
                true);
        }
        auto deadline = lastByte + timeout;
        // The silence that ends a reply never cuts into a definite block
        // whose length is still owed.
        const bool silenceApplies = silenceEnds && framer.Received() > 0 && framer.KnownRemaining() == 0;
        if (silenceApplies && lastByte + silence <= deadline) {
            if (MsUntil(lastByte + silence) == 0) {
                framer.Feed(nullptr, 0, true);
                break;
            }
            deadline = lastByte + silence;
        }
        const int left = MsUntil(deadline);
        if (left == 0) {
            const std::int64_t came = framer.Received();
            if (came == 0)
                return fail(
                    QStringLiteral("No reply from %1 within %L2 ms (time-out): check that the command "
                                   "was a query, the cable, and that the port's settings (%3) match "
                                   "the instrument's.")
                        .arg(Name())
                        .arg(m_options.ioTimeoutMs)
                        .arg(SettingsText()),
                    true);
            return fail(
                QStringLiteral("The reply from %1 broke off after %L2 bytes: nothing more came within %L3 "
                               "ms (time-out)%4. What else came of it was discarded.")
                    .arg(Name())
                    .arg(came)
                    .arg(m_options.ioTimeoutMs)
                    .arg(serial.replyEnd == CSerialOptions::END_SILENCE
                             ? QString()
                             : QStringLiteral(", and its line end never came: check the reply's "
                                              "end in Link Settings")),
                true);
        }
        if (m_port->bytesAvailable() > 0 || m_port->waitForReadyRead(std::min(SLICE_MS, left))) {
            chunk = m_port->readAll();
            continue;
        }
        if (m_port->error() == QSerialPort::TimeoutError) {
            m_port->clearError();
            continue;
        }
        const std::int64_t came = framer.Received();
        reply = framer.Take();
        error = PortFailure(QStringLiteral("read from"), came);
        if (IsOpen())
            Flush(false);
        return false;
    }
    reply = framer.Take();
    return true;
}

bool CSerialSession::ReadStatusByte(std::uint8_t &, QString &error)
{
    error = QStringLiteral("Resource '%1': a serial port has no serial poll; ask the instrument with *STB?")
                .arg(Name());
    return false;
}

bool CSerialSession::Clear(QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    const qint64 unsent = m_port->bytesToWrite();
    const qint64 discarded = Flush(true);
    m_notes << QStringLiteral("A serial port has no device clear: Tallix sent nothing to %1, discarded %L2 "
                              "bytes that had come from it and %L3 not yet sent. To reset the instrument "
                              "itself, send it *CLS (or what its manual gives).")
                   .arg(Name())
                   .arg(discarded)
                   .arg(unsent);
    return true;
}
