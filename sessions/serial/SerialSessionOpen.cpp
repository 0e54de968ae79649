// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The serial session's way to its port: finding the device, keeping out of
// the way of the programs that hold it, and setting the line up.
#include "sessions/serial/SerialSession.h"

#include "common/SystemError.h"
#include "sessions/serial/PortHolders.h"
#include "sessions/serial/SerialKind.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <grp.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace

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

bool CSerialSession::IsOpen() const
{
    return m_port.IsOpen();
}

void CSerialSession::Close()
{
    m_port.Close();
    m_lock.Release();
    m_pending.clear();
    m_drainOwed = false;
}

QString CSerialSession::OpenFailure(int systemError) const
{
    switch (systemError) {
    case EACCES:
    case EPERM: {
        const QString group = GroupOf(m_device);
        return QStringLiteral(
                   "Tallix may not use the serial port %1 (for %2): it belongs to the group %3, "
                   "and you are not in it. Add yourself to the %3 group: sudo usermod -aG %3 $USER, "
                   "then log in again.")
            .arg(m_device, Name(), group.isEmpty() ? QStringLiteral("dialout") : group);
    }
    case EBUSY: {
        // Opened exclusively: whoever has it open is the one to close it.
        const QList<CPortHolder> holders = PortHolders(m_device);
        return QStringLiteral("Another program has the serial port %1 open%2: close it, then try again.")
            .arg(m_device,
                 holders.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(holders.first().Text()));
    }
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("The serial port %1 (for %2) went away before it could be opened: plug the "
                              "adapter in and try again.")
            .arg(m_device, Name());
    default:
        return QStringLiteral("Could not open the serial port %1 (for %2): %3.")
            .arg(m_device, Name(), SystemErrorText(systemError));
    }
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
    // Two programs on one port would each take half of the other's replies.
    // The lock keeps out those that keep locks (and root, whom an exclusive
    // open does not stop).
    qint64 holder = 0;
    if (m_lock.Take(m_device, holder) == CSerialLock::Result::Held) {
        error = QStringLiteral("Another program has the serial port %1 open (%2): close it, then try again. "
                               "If it no longer uses the port, remove its lock file %3.")
                    .arg(m_device, CPortHolder{holder, ProcessName(holder), false}.Text(),
                         CSerialLock::PathFor(m_device));
        return false;
    }
    if (const int code = m_port.Open(m_device)) {
        m_lock.Release();
        error = OpenFailure(code);
        return false;
    }
    const CSerialOptions serial = SerialOptionsOf(m_options.kinds);
    if (const int code = m_port.Apply(serial)) {
        Close();
        error = QStringLiteral("The serial port %1 does not take these settings (%2): %3. Choose others in "
                               "Link Settings.")
                    .arg(m_device, SettingsText(), SystemErrorText(code));
        return false;
    }

    // DTR and RTS are modem lines: a pseudo-terminal has none, and with
    // RTS/CTS flow control the driver drives RTS itself.
    if (m_port.HasModemLines() != 0) {
        m_notes << QStringLiteral("The serial port %1 has no modem lines: DTR and RTS are left as they are.")
                       .arg(m_device);
    } else if (const int code = m_port.SetModemLines(serial.dtr != 0, serial.rts != 0,
                                                     serial.flowControl != CSerialOptions::FLOW_RTS_CTS)) {
        m_notes << QStringLiteral("The serial port %1 did not take the DTR and RTS levels: %2.")
                       .arg(m_device, SystemErrorText(code));
    }
    // A power-on banner or the rest of an earlier conversation is no reply to
    // the next command.
    m_port.DropInput();
    m_countsLineErrors = ReadLineErrors(m_lineErrors);

    // A pseudo-terminal's creator keeps its end open as a matter of course;
    // anyone else may read what is meant for Tallix.
    QStringList others;
    for (const CPortHolder &other : PortHolders(m_device))
        if (!other.createdIt)
            others << other.Text();
    if (!others.isEmpty())
        m_notes << QStringLiteral(
                       "Another program also has the serial port %1 open (%2). Tallix uses it all "
                       "the same, but what that program reads of the replies does not reach Tallix.")
                       .arg(m_device, others.join(QStringLiteral("; ")));
    return true;
}

bool CSerialSession::ReadLineErrors(LineErrors &counts) const
{
    if (!IsOpen())
        return false;
    serial_icounter_struct icount{};
    if (::ioctl(m_port.Handle(), TIOCGICOUNT, &icount) != 0)
        return false;
    counts.frame = icount.frame;
    counts.parity = icount.parity;
    counts.overrun = icount.overrun + icount.buf_overrun;
    counts.brk = icount.brk;
    return true;
}
