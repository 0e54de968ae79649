// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// <asm/termbits.h> rather than <termios.h>: termios2 carries a rate that is
// no Bnnn constant, and the two headers cannot be used together.
#include "sim/serial/SerialLine.h"

#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tallixsim {

int OpenRawLine(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) == 0) {
        tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
        tio.c_oflag &= ~OPOST;
        tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB)) | CS8 | CREAD | CLOCAL;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::ioctl(fd, TCSETS2, &tio);
    }
    return fd;
}

unsigned LineBaud(int fd)
{
    termios2 tio{};
    return ::ioctl(fd, TCGETS2, &tio) == 0 ? tio.c_ospeed : 0;
}

} // namespace tallixsim
