// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// <asm/termbits.h> rather than <termios.h>: termios2 carries a rate that is
// no Bnnn constant, and the two headers cannot be used together.
#include "sessions/serial/SerialPort.h"

#include <QFile>

#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

struct CRateCode
{
    int rate;
    unsigned code;
};
constexpr CRateCode STANDARD_RATES[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

unsigned DataBitsFlag(int bits)
{
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

} // namespace

CSerialPort::~CSerialPort()
{
    Close();
}

int CSerialPort::Open(const QString &device)
{
    Close();
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        const int code = errno;
        ::close(fd);
        return code;
    }
    m_fd = fd;
    return 0;
}

int CSerialPort::Apply(const CSerialOptions &serial)
{
    termios2 tio{};
    if (::ioctl(m_fd, TCGETS2, &tio) != 0)
        return errno;
    tio.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= CREAD | CLOCAL | DataBitsFlag(serial.dataBits);
    unsigned code = BOTHER;
    for (const CRateCode &standard : STANDARD_RATES)
        if (standard.rate == serial.baud)
            code = standard.code;
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = tio.c_ospeed = static_cast<speed_t>(serial.baud);
    switch (serial.parity) {
    case CSerialOptions::PARITY_EVEN:
        tio.c_cflag |= PARENB;
        break;
    case CSerialOptions::PARITY_ODD:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case CSerialOptions::PARITY_SPACE:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    case CSerialOptions::PARITY_MARK:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    default:
        break;
    }
    if (serial.parity != CSerialOptions::PARITY_NONE)
        tio.c_iflag |= INPCK;
    if (serial.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (serial.flowControl == CSerialOptions::FLOW_RTS_CTS)
        tio.c_cflag |= CRTSCTS;
    else if (serial.flowControl == CSerialOptions::FLOW_XON_XOFF)
        tio.c_iflag |= IXON | IXOFF;
    // One byte at least, no timer: a read without bytes says EAGAIN (the
    // descriptor does not block), and only a hang-up reads as an end of file.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ::ioctl(m_fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

int CSerialPort::HasModemLines() const
{
    int lines = 0;
    return ::ioctl(m_fd, TIOCMGET, &lines) == 0 ? 0 : errno;
}

int CSerialPort::SetModemLines(bool dtr, bool rts, bool setRts)
{
    int line = TIOCM_DTR;
    if (::ioctl(m_fd, dtr ? TIOCMBIS : TIOCMBIC, &line) != 0)
        return errno;
    line = TIOCM_RTS;
    if (setRts && ::ioctl(m_fd, rts ? TIOCMBIS : TIOCMBIC, &line) != 0)
        return errno;
    return 0;
}

CSerialPort::Wait CSerialPort::WaitFor(int ms, bool forWriting) const
{
    pollfd p{m_fd, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&p, 1, ms);
    if (ready < 0)
        return errno == EINTR ? Wait::Nothing : Wait::Gone;
    if (ready == 0)
        return Wait::Nothing;
    // Bytes that came before a hang-up are still read first.
    if (p.revents & (forWriting ? POLLOUT : POLLIN))
        return Wait::Ready;
    return Wait::Gone;
}

qint64 CSerialPort::ReadAvailable(QByteArray &into, int &error)
{
    error = 0;
    qint64 total = 0;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<qsizetype>(n));
            total += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            error = errno;
        else if (n == 0 && total == 0)
            error = EIO;
        break;
    }
    return total > 0 || error == 0 ? total : -1;
}

qint64 CSerialPort::WriteSome(const char *data, std::size_t size, int &error)
{
    error = 0;
    const ssize_t n = ::write(m_fd, data, size);
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    error = errno;
    return -1;
}

qint64 CSerialPort::Unsent() const
{
    int unsent = 0;
    return ::ioctl(m_fd, TIOCOUTQ, &unsent) == 0 ? unsent : 0;
}

void CSerialPort::DropInput()
{
    if (m_fd >= 0)
        ::ioctl(m_fd, TCFLSH, TCIFLUSH);
}

void CSerialPort::DropOutput()
{
    if (m_fd >= 0)
        ::ioctl(m_fd, TCFLSH, TCOFLUSH);
}

void CSerialPort::Close()
{
    if (m_fd < 0)
        return;
    DropOutput();
    // The exclusive mark stays with the terminal while others hold it open
    // (a pseudo-terminal's creator), and would refuse our next open.
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
}
