// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gpib32/PrologixLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace gpib32 {

namespace {

bool ParseNumber(const std::string &text, long low, long high, int &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < low || n > high)
        return false;
    value = static_cast<int>(n);
    return true;
}

speed_t Speed(int baud)
{
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

int Wait(int fd, short events, int timeoutMs, short &revents)
{
    pollfd p{fd, events, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    revents = p.revents;
    return ready < 0 ? -errno : ready;
}

} // namespace

CPrologixLink::~CPrologixLink()
{
    Close();
}

bool CPrologixLink::Configure(const std::string &location, std::string &reason)
{
    if (location.rfind("serial:", 0) == 0) {
        m_serial = true;
        m_device = location.substr(7);
        const std::size_t at = m_device.rfind('@');
        m_baud = DEFAULT_BAUD;
        if (at != std::string::npos) {
            if (!ParseNumber(m_device.substr(at + 1), 1, 4000000, m_baud) || Speed(m_baud) == B0) {
                reason = "the rate after @ is not one of 9600, 19200, 38400, 57600, 115200, 230400, 460800, "
                         "921600";
                return false;
            }
            m_device.resize(at);
        }
        if (m_device.empty() || m_device[0] != '/') {
            reason = "prologix:serial: needs the adapter's device path, e.g. prologix:serial:/dev/ttyUSB0";
            return false;
        }
        return true;
    }
    if (location.rfind("tcp:", 0) == 0) {
        m_serial = false;
        std::string rest = location.substr(4);
        m_port = DEFAULT_TCP_PORT;
        if (!rest.empty() && rest[0] == '[') {
            const std::size_t close = rest.find(']');
            if (close == std::string::npos) {
                reason = "an IPv6 address needs its closing bracket";
                return false;
            }
            m_host = rest.substr(1, close - 1);
            rest = rest.substr(close + 1);
            if (!rest.empty() && (rest[0] != ':' || !ParseNumber(rest.substr(1), 1, 65535, m_port))) {
                reason = "the port after the address is not a number from 1 to 65535";
                return false;
            }
        } else {
            const std::size_t colon = rest.rfind(':');
            m_host = rest.substr(0, colon);
            if (colon != std::string::npos && !ParseNumber(rest.substr(colon + 1), 1, 65535, m_port)) {
                reason = "the port after the host is not a number from 1 to 65535";
                return false;
            }
        }
        if (m_host.empty()) {
            reason = "prologix:tcp: needs the adapter's host, e.g. prologix:tcp:192.168.1.20";
            return false;
        }
        return true;
    }
    reason = "the adapter is prologix:serial:DEVICE or prologix:tcp:HOST[:PORT]";
    return false;
}

std::string CPrologixLink::Where() const
{
    if (m_serial)
        return m_device;
    const bool v6 = m_host.find(':') != std::string::npos;
    return (v6 ? "[" + m_host + "]" : m_host) + ":" + std::to_string(m_port);
}

int CPrologixLink::Open(int timeoutMs)
{
    Close();
    return m_serial ? OpenSerial() : OpenTcp(timeoutMs);
}

void CPrologixLink::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int CPrologixLink::OpenSerial()
{
    const int fd = ::open(m_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Another program's bytes would be taken for the adapter's replies.
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        const int code = errno;
        ::close(fd);
        return code;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int code = errno;
        ::close(fd);
        return code;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | CSTOPB);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, Speed(m_baud));
    cfsetospeed(&tio, Speed(m_baud));
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int code = errno;
        ::close(fd);
        return code;
    }
    ::tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    return 0;
}

int CPrologixLink::OpenTcp(int timeoutMs)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const std::string port = std::to_string(m_port);
    if (::getaddrinfo(m_host.c_str(), port.c_str(), &hints, &found) != 0)
        return EHOSTUNREACH;
    int code = ECONNREFUSED;
    for (const addrinfo *a = found; a && m_fd < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            code = errno;
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            code = errno;
            ::close(fd);
            continue;
        }
        short revents = 0;
        const int ready = Wait(fd, POLLOUT, timeoutMs, revents);
        int error = 0;
        socklen_t length = sizeof error;
        if (ready <= 0) {
            code = ready == 0 ? ETIMEDOUT : -ready;
        } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            code = error != 0 ? error : errno;
        } else {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_fd = fd;
            break;
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return m_fd >= 0 ? 0 : code;
}

int CPrologixLink::WriteAll(const char *data, std::size_t size, int timeoutMs)
{
    if (m_fd < 0)
        return ENOTCONN;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
        const ssize_t n = m_serial ? ::write(m_fd, data, size) : ::send(m_fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return errno;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return ETIMEDOUT;
        short revents = 0;
        const int ready = Wait(m_fd, POLLOUT, static_cast<int>(left.count()), revents);
        if (ready < 0)
            return -ready;
        if (revents & (POLLHUP | POLLERR))
            return EPIPE;
    }
    return 0;
}

long CPrologixLink::ReadSome(char *buffer, std::size_t size, int timeoutMs)
{
    if (m_fd < 0)
        return -ENOTCONN;
    short revents = 0;
    const int ready = Wait(m_fd, POLLIN, timeoutMs, revents);
    if (ready < 0)
        return ready;
    if (ready == 0)
        return 0;
    const ssize_t n = ::read(m_fd, buffer, size);
    if (n > 0)
        return static_cast<long>(n);
    if (n == 0 || (revents & (POLLHUP | POLLERR)))
        return n < 0 && errno != EAGAIN ? -errno : -EPIPE;
    return errno == EAGAIN || errno == EINTR ? 0 : -errno;
}

} // namespace gpib32
