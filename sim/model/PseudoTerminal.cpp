// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// <asm/termbits.h> rather than <termios.h>: termios2 carries a rate that is
// no Bnnn constant, and the two headers cannot be used together.
#include "sim/model/PseudoTerminal.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace tallixsim {

std::string LineSettings::Text() const
{
    char text[160];
    std::snprintf(text, sizeof text, "baud=%u data=%d parity=%s stop=%d flow=%s", baud, dataBits,
                  parity.c_str(), stopBits, flow.c_str());
    return text;
}

PseudoTerminal::~PseudoTerminal()
{
    Close();
}

bool PseudoTerminal::Open()
{
    Close();
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return false;
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        const int code = errno;
        ::close(master);
        errno = code;
        return false;
    }
    const int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags | O_NONBLOCK);
    m_master = master;
    m_slave = name;
    return true;
}

void PseudoTerminal::Close()
{
    if (!m_link.empty())
        ::unlink(m_link.c_str());
    m_link.clear();
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PseudoTerminal::Link(const std::string &link)
{
    ::unlink(link.c_str());
    if (::symlink(m_slave.c_str(), link.c_str()) != 0)
        return false;
    m_link = link;
    return true;
}

bool PseudoTerminal::Settings(LineSettings &settings) const
{
    termios2 tio{};
    if (m_master < 0 || ::ioctl(m_master, TCGETS2, &tio) != 0)
        return false;
    settings.baud = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        settings.dataBits = 5;
        break;
    case CS6:
        settings.dataBits = 6;
        break;
    case CS7:
        settings.dataBits = 7;
        break;
    default:
        settings.dataBits = 8;
        break;
    }
    if (!(tio.c_cflag & PARENB))
        settings.parity = "none";
    else if (tio.c_cflag & CMSPAR)
        settings.parity = (tio.c_cflag & PARODD) ? "mark" : "space";
    else
        settings.parity = (tio.c_cflag & PARODD) ? "odd" : "even";
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    const bool rtscts = (tio.c_cflag & CRTSCTS) != 0;
    const bool xonxoff = (tio.c_iflag & (IXON | IXOFF)) != 0;
    settings.flow = rtscts && xonxoff ? "rtscts+xonxoff" : rtscts ? "rtscts" : xonxoff ? "xonxoff" : "none";
    return true;
}

} // namespace tallixsim
