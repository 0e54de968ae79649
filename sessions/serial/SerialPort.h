// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/serial/SerialOptions.h"

#include <QByteArray>
#include <QString>

#include <cstddef>

// A serial port's device file, opened without blocking: every call returns at
// once or within the milliseconds it is given, so that the session can cut
// each wait into slices and hear Stop between them. Failures return the
// system's error code (errno), 0 meaning success.
class CSerialPort
{
public:
    CSerialPort() = default;
    ~CSerialPort();
    CSerialPort(const CSerialPort &) = delete;
    CSerialPort &operator=(const CSerialPort &) = delete;

    // Opens the device for reading and writing, no controlling terminal,
    // and exclusively (TIOCEXCL): a program that opens it after us gets
    // EBUSY, as ours does from a program that holds it so.
    int Open(const QString &device);
    bool IsOpen() const { return m_fd >= 0; }
    int Handle() const { return m_fd; }
    // Raw 8-bit I/O with the line set as `serial` gives it; any rate the
    // driver takes, the standard ones by their own codes.
    int Apply(const CSerialOptions &serial);
    // The modem lines DTR and RTS (RTS left alone when `setRts` is false).
    // ENOTTY or EINVAL: the port has none (a pseudo-terminal).
    int HasModemLines() const;
    int SetModemLines(bool dtr, bool rts, bool setRts);

    enum class Wait
    {
        Ready,
        Nothing,
        // Hung up or gone: the adapter unplugged, the other side closed.
        Gone,
    };
    // Waits at most `ms` until bytes can be read (or, `forWriting`, written).
    Wait WaitFor(int ms, bool forWriting = false) const;
    // Appends what the driver holds to `into`, without waiting; the number
    // of bytes, or -1 with `error` set (0 and no error: nothing there).
    qint64 ReadAvailable(QByteArray &into, int &error);
    // Writes what the driver takes now; -1 with `error` set.
    qint64 WriteSome(const char *data, std::size_t size, int &error);
    // Bytes written but not yet sent on the line.
    qint64 Unsent() const;
    void DropInput();
    void DropOutput();
    // Gives the port back: what was not sent is dropped first, else the close
    // could wait half a minute for a line that flow control holds.
    void Close();

private:
    int m_fd = -1;
};
