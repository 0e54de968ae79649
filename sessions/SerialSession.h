// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"
#include "sessions/Session.h"

#include <QByteArray>
#include <QStringList>

#include <chrono>
#include <memory>

class QSerialPort;

// An instrument on a serial port (ASRL<n>::INSTR, ASRL/dev/ttyUSB0::INSTR)
// through QSerialPort, set up from CSessionOptions::serial. ASRLn is the
// n-th port as the VISA convention counts COM ports, which Linux names
// /dev/ttyS<n-1>: ASRL1 is /dev/ttyS0. USB adapters are named by their device
// path, best by the stable /dev/serial/by-id/... link.
//
// The port is used from whichever thread calls, without an event loop: every
// wait is one of QSerialPort's blocking waitFor calls, in slices between
// which the progress hook is called.
//
// A serial line has no end-of-message mark and no device clear: a reply ends
// at its line end (or after a silence), and a reply that cannot be read to
// its end is flushed, the port's input cleared and drained, so that none of it
// is read as the next reply.
class CSerialSession : public CSession
{
public:
    CSerialSession(const CResource &resource, const CSessionOptions &options);
    ~CSerialSession() override;

    static std::unique_ptr<CSession> Make(const CResource &resource, const CSessionOptions &options);

    // The device file a resource names: /dev/ttyS<n-1> for ASRLn, the path as
    // given otherwise. Empty, with the reason in `error`, for ASRL0.
    static QString DevicePathOf(const CResource &resource, QString &error);

    bool Open(QString &error) override;
    bool IsOpen() const override;
    bool Write(std::string_view data, QString &error) override;
    bool Read(CReply &reply, QString &error) override;
    bool ReadStatusByte(std::uint8_t &status, QString &error) override;
    // Sends nothing (any byte would be taken as part of a command) and
    // discards what waits in both directions; TakeNotes() says how much.
    bool Clear(QString &error) override;
    void Close() override;

    // What the session did on its own that the user should know: settings
    // the port cannot take, what a clear discarded.
    QStringList TakeNotes() override;

protected:
    // The line errors the port's driver has counted since it was opened.
    struct LineErrors
    {
        int frame = 0;
        int parity = 0;
        int overrun = 0;
        int brk = 0;
        bool operator==(const LineErrors &) const = default;
    };
    // false where the driver keeps no count (a pseudo-terminal).
    virtual bool ReadLineErrors(LineErrors &counts) const;

private:
    using Clock = std::chrono::steady_clock;

    QString Name() const;
    // "9600 baud, 8 data bits, no parity, 1 stop bit".
    QString SettingsText() const;
    QString OpenFailure(int systemError) const;
    // Drops what the port holds of a reply and what is still on its way.
    // Returns the bytes discarded.
    qint64 Flush(bool bothDirections);
    // The line errors since the last look, as a sentence; empty when none.
    QString NewLineErrors();
    // Whether the device file went away or hung up (an adapter unplugged).
    bool DeviceGone() const;
    // After the port reported an error: closes it when the device is gone.
    QString PortFailure(const QString &what, qint64 came);

    CResource m_resource;
    QString m_device;
    std::unique_ptr<QSerialPort> m_port;
    // Bytes that came after the end of the last reply: the start of the next.
    QByteArray m_pending;
    LineErrors m_lineErrors;
    bool m_countsLineErrors = false;
    QStringList m_notes;
};
