// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"
#include "sessions/Session.h"
#include "sessions/serial/SerialLock.h"
#include "sessions/serial/SerialPort.h"

#include <QByteArray>
#include <QStringList>

#include <chrono>
#include <memory>

struct CProgress;

// An instrument on a serial port (ASRL<n>::INSTR, ASRL/dev/ttyUSB0::INSTR)
// through its device file, set up from its part of CSessionOptions::kinds
// (CSerialOptions, the "Serial" settings). ASRLn is the n-th port as the VISA
// convention counts COM ports, which Linux names /dev/ttyS<n-1>: ASRL1 is
// /dev/ttyS0. USB adapters are named by their device path, best by the
// stable /dev/serial/by-id/... link.
//
// The port is used from whichever thread calls, without an event loop: every
// wait is a poll of a few milliseconds, between which the progress hook is
// called (and Stop heard).
//
// The port is another program's when it holds the port's lock file or opened
// it exclusively; a program that merely has it open (the pseudo-terminal's
// creator, a modem manager's probe) does not keep Tallix out, and one that is
// not the creator is named in a note. Tallix holds the lock while it has the
// port open.
//
// A serial line has no end-of-message mark and no device clear: a reply ends
// at its line end (or after a silence), and what comes of a reply that could
// not be read to its end is discarded until the line has been quiet for the
// reply's silence time. After a Stop that may take no longer than a moment;
// what the instrument still sends then is discarded before the next command
// goes out.
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
    // the port cannot take, another program that has it open too, what a
    // clear discarded.
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

    enum class Drained
    {
        Quiet,
        Stopped,
        TimedOut,
        Gone,
    };

    QString Name() const;
    // "9600 baud, 8 data bits, no parity, 1 stop bit".
    QString SettingsText() const;
    QString OpenFailure(int systemError) const;
    bool Pulse(const CProgress &progress) const;
    // Reads and throws away what comes until the line has been quiet for the
    // reply's silence time, within the I/O time-out and, once stopped (by
    // the hook, or `stopped` already), within a moment more. Adds what it
    // threw away to `discarded`. Not quiet: the rest is owed, and the next
    // command waits for it.
    Drained Discard(bool stopped, qint64 &discarded);
    // The drain that a stopped read left owed, before the next command
    // (`sending` one, or a read); false with the reason when the line did not
    // go quiet.
    bool FinishDrain(bool sending, QString &error);
    // The line errors since the last look, as a sentence; empty when none.
    QString NewLineErrors();
    // Whether the device file went away or hung up (an adapter unplugged).
    bool DeviceGone() const;
    // After the port reported the system error `code`: closes it when the
    // device is gone.
    QString PortFailure(const QString &what, qint64 came, int code);
    QString GoneText(qint64 came) const;

    CResource m_resource;
    QString m_device;
    CSerialPort m_port;
    CSerialLock m_lock;
    // Bytes that came after the end of the last reply: the start of the next.
    QByteArray m_pending;
    // What came of a stopped reply had not ended when the read gave up.
    bool m_drainOwed = false;
    LineErrors m_lineErrors;
    bool m_countsLineErrors = false;
    QStringList m_notes;
};
