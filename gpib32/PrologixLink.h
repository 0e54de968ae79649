// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>

namespace gpib32 {

// The byte stream to a Prologix GPIB adapter: its USB side, a serial port
// (/dev/ttyUSB0, raw 8N1), or its Ethernet side, TCP port 1234. Failures come
// back as the system's error numbers.
//
// The serial side goes through termios rather than QtSerialPort: this
// library is loaded into any NI-488.2 program, with or without a Qt of its
// own, and an adapter's virtual COM port needs no more than raw bytes at one
// rate.
class CPrologixLink
{
public:
    static constexpr int DEFAULT_BAUD = 115200;
    static constexpr int DEFAULT_TCP_PORT = 1234;

    CPrologixLink() = default;
    ~CPrologixLink();
    CPrologixLink(const CPrologixLink &) = delete;
    CPrologixLink &operator=(const CPrologixLink &) = delete;

    // "serial:DEVICE[@BAUD]" or "tcp:HOST[:PORT]" (an IPv6 address in
    // brackets); false with the reason.
    bool Configure(const std::string &location, std::string &reason);
    bool IsSerial() const { return m_serial; }
    // "/dev/ttyUSB0" or "host:1234".
    std::string Where() const;

    // 0, or the error number.
    int Open(int timeoutMs);
    void Close();

    // 0 when every byte went, else the error number (ETIMEDOUT: no byte
    // went for `timeoutMs`; a long message at a low baud rate may take
    // longer as a whole).
    int WriteAll(const char *data, std::size_t size, int timeoutMs);
    // The bytes that came within `timeoutMs` (0: none came), or minus the
    // error number; the adapter gone (end of file, a hang-up) is -EPIPE.
    long ReadSome(char *buffer, std::size_t size, int timeoutMs);

private:
    int OpenSerial();
    int OpenTcp(int timeoutMs);

    bool m_serial = true;
    std::string m_device;
    int m_baud = DEFAULT_BAUD;
    std::string m_host;
    int m_port = DEFAULT_TCP_PORT;
    int m_fd = -1;
};

} // namespace gpib32
