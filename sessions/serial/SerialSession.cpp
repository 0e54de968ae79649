// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/serial/SerialSession.h"

#include "common/ReplyFramer.h"
#include "common/SystemError.h"
#include "common/UiHooks.h"
#include "sessions/serial/SerialKind.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#include <poll.h>

namespace {

// Waits are cut into slices of at most this length, so that the progress
// hook has a turn at least every 40 ms (and Stop is heard).
constexpr int SLICE_MS = 25;
// After a Stop, what still comes of the reply is discarded for at most this
// long before control goes back; the rest waits for the next command.
constexpr int STOP_GRACE_MS = 400;
// While the last bytes of a command go out on the line.
constexpr int SEND_POLL_MS = 5;

int MsUntil(std::chrono::steady_clock::time_point when)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(when - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

std::int64_t MsSince(std::chrono::steady_clock::time_point when)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - when)
        .count();
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

QString CSerialSession::Name() const
{
    return m_resource.text.isEmpty() ? SerialCanonical(m_resource) : m_resource.text;
}

QString CSerialSession::SettingsText() const
{
    const CSerialOptions serial = SerialOptionsOf(m_options.kinds);
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

bool CSerialSession::Pulse(const CProgress &progress) const
{
    return !m_options.hooks || m_options.hooks->Pulse(progress);
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

bool CSerialSession::DeviceGone() const
{
    if (!QFileInfo::exists(m_device))
        return true;
    if (!IsOpen())
        return false;
    pollfd p{m_port.Handle(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

QString CSerialSession::GoneText(qint64 came) const
{
    return QStringLiteral("The serial port %1 went away %2: the adapter was unplugged (or the instrument "
                          "switched off). Plug it in and open %3 again.")
        .arg(m_device,
             came > 0 ? QStringLiteral("after %L1 bytes of the reply").arg(came)
                      : QStringLiteral("while Tallix used it"),
             Name());
}

QString CSerialSession::PortFailure(const QString &what, qint64 came, int code)
{
    if (code == EIO || code == ENODEV || code == ENXIO || DeviceGone()) {
        Close();
        return GoneText(came);
    }
    return QStringLiteral("Could not %1 the serial port %2 (for %3): %4.")
        .arg(what, m_device, Name(), SystemErrorText(code));
}

CSerialSession::Drained CSerialSession::Discard(bool stopped, qint64 &discarded)
{
    discarded += m_pending.size();
    m_pending.clear();
    if (!IsOpen())
        return Drained::Gone;
    const auto silence = std::chrono::milliseconds(SerialOptionsOf(m_options.kinds).silenceMs);
    const auto grace = std::chrono::milliseconds(STOP_GRACE_MS);
    const auto start = Clock::now();
    auto limit = start + std::chrono::milliseconds(m_options.ioTimeoutMs);
    if (stopped)
        limit = std::min(limit, start + grace);
    auto quiet = start + silence;
    QByteArray dropped;
    for (;;) {
        int code = 0;
        dropped.clear();
        const qint64 n = m_port.ReadAvailable(dropped, code);
        if (n < 0) {
            Close();
            return Drained::Gone;
        }
        if (n > 0) {
            discarded += n;
            quiet = Clock::now() + silence;
        }
        const auto now = Clock::now();
        m_drainOwed = now < quiet;
        if (!m_drainOwed)
            return Drained::Quiet;
        if (now >= limit)
            return stopped ? Drained::Stopped : Drained::TimedOut;
        // Once stopped, the window still gets its turns but the end is near.
        if (!Pulse(CProgress{CProgress::Kind::Wait, MsSince(start), m_options.ioTimeoutMs}) && !stopped) {
            stopped = true;
            limit = std::min(limit, now + grace);
        }
        const int wait = std::max(1, std::min({SLICE_MS, MsUntil(quiet), MsUntil(limit)}));
        if (m_port.WaitFor(wait) == CSerialPort::Wait::Gone) {
            Close();
            return Drained::Gone;
        }
    }
}

bool CSerialSession::FinishDrain(bool sending, QString &error)
{
    if (!m_drainOwed)
        return true;
    const QString nothing = sending ? QStringLiteral("nothing was sent") : QStringLiteral("nothing was read");
    qint64 discarded = 0;
    switch (Discard(false, discarded)) {
    case Drained::Quiet:
        return true;
    case Drained::Gone:
        error = GoneText(0);
        return false;
    case Drained::Stopped:
        error = QStringLiteral("Stopped while %1 was still sending the rest of an earlier reply; %2.")
                    .arg(Name(), nothing);
        return false;
    case Drained::TimedOut:
        break;
    }
    error =
        QStringLiteral("%1 was still sending the rest of an earlier reply after %L2 ms (the I/O time-out), "
                       "so %3: it would be taken for the reply to this command. Try again once the "
                       "instrument has finished.")
            .arg(Name())
            .arg(m_options.ioTimeoutMs)
            .arg(nothing);
    return false;
}

bool CSerialSession::Write(std::string_view data, QString &error)
{
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    if (!FinishDrain(true, error))
        return false;
    // What came unasked since the last reply is no reply to this command.
    m_pending.clear();
    m_port.DropInput();

    const auto size = static_cast<qint64>(data.size());
    qint64 written = 0;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(m_options.ioTimeoutMs);
    for (;;) {
        int code = 0;
        if (written < size) {
            const qint64 n =
                m_port.WriteSome(data.data() + written, static_cast<std::size_t>(size - written), code);
            if (n < 0) {
                error = PortFailure(QStringLiteral("write to"), 0, code);
                return false;
            }
            written += n;
        }
        // Sent when the driver has put the last byte on the line.
        const qint64 unsent = size - written + m_port.Unsent();
        if (unsent == 0)
            return true;
        if (!Pulse(CProgress{CProgress::Kind::Wait, MsSince(start), m_options.ioTimeoutMs})) {
            m_port.DropOutput();
            error =
                QStringLiteral("Sending to %1 was stopped; what was not sent yet was discarded.").arg(Name());
            return false;
        }
        const int left = MsUntil(deadline);
        if (left == 0) {
            // The rest would otherwise go out with the next command.
            m_port.DropOutput();
            const int flow = SerialOptionsOf(m_options.kinds).flowControl;
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
        if (written == size) {
            ::poll(nullptr, 0, std::min(SEND_POLL_MS, left));
        } else if (m_port.WaitFor(std::min(SLICE_MS, left), true) == CSerialPort::Wait::Gone) {
            error = PortFailure(QStringLiteral("write to"), 0, EIO);
            return false;
        }
    }
}

bool CSerialSession::Read(CReply &reply, QString &error)
{
    reply = CReply();
    if (!IsOpen()) {
        error = QStringLiteral("%1 is not open.").arg(Name());
        return false;
    }
    const CSerialOptions serial = SerialOptionsOf(m_options.kinds);
    const bool silenceEnds = serial.replyEnd == CSerialOptions::END_SILENCE;
    CReplyFramer framer(FramerEnd(serial.replyEnd), m_options.maxReplyBytes);
    const auto timeout = std::chrono::milliseconds(m_options.ioTimeoutMs);
    const auto silence = std::chrono::milliseconds(serial.silenceMs);
    auto lastByte = Clock::now();
    if (!FinishDrain(false, error))
        return false;
    QByteArray chunk = std::exchange(m_pending, QByteArray());

    const auto fail = [&](const QString &text, bool stopped = false) {
        reply = framer.Take();
        qint64 discarded = 0;
        Discard(stopped, discarded);
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
            return fail(lineErrors);
        const CProgress progress{CProgress::Kind::Reply, framer.Received(), framer.ExpectedLength()};
        if (!Pulse(progress)) {
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
                        .arg(SettingsText()));
            return fail(
                QStringLiteral("The reply from %1 broke off after %L2 bytes: nothing more came within %L3 "
                               "ms (time-out)%4. What else came of it was discarded.")
                    .arg(Name())
                    .arg(came)
                    .arg(m_options.ioTimeoutMs)
                    .arg(serial.replyEnd == CSerialOptions::END_SILENCE
                             ? QString()
                             : QStringLiteral(", and its line end never came: check the reply's "
                                              "end in Link Settings")));
        }
        int code = EIO;
        const CSerialPort::Wait wait = m_port.WaitFor(std::min(SLICE_MS, left));
        if (wait == CSerialPort::Wait::Nothing ||
            (wait == CSerialPort::Wait::Ready && m_port.ReadAvailable(chunk, code) >= 0))
            continue;
        const std::int64_t came = framer.Received();
        reply = framer.Take();
        error = PortFailure(QStringLiteral("read from"), came, code);
        qint64 discarded = 0;
        if (IsOpen())
            Discard(false, discarded);
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
    const qint64 unsent = m_port.Unsent();
    m_port.DropOutput();
    qint64 discarded = 0;
    if (Discard(false, discarded) == Drained::Gone) {
        error = GoneText(0);
        return false;
    }
    m_notes << QStringLiteral("A serial port has no device clear: Tallix sent nothing to %1, discarded %L2 "
                              "bytes that had come from it and %L3 not yet sent. To reset the instrument "
                              "itself, send it *CLS (or what its manual gives).")
                   .arg(Name())
                   .arg(discarded)
                   .arg(unsent);
    return true;
}
