// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"
#include "sessions/Session.h"
#include "sessions/usbtmc/UsbtmcFile.h"

#include <QStringList>

#include <memory>

// A USB instrument through the kernel's usbtmc driver: its device file
// /dev/usbtmcN, found by the resource's vendor, product, serial number (and
// interface number) in sysfs. The driver speaks the USBTMC protocol; this
// class only reads, writes and asks it for the rest through its ioctls.
//
// A read of the device file asks the instrument for at most as many bytes as
// it can take and returns what one transfer brought; the driver keeps the
// transfer's end-of-message flag, which USBTMC_IOCTL_MSG_IN_ATTR gives back.
// So a reply is read piece by piece until a piece ends the message. A kernel
// too old to report the flag only returns less than asked at the end of a
// message: then a short read, or the reply's LF, ends it.
//
// Every call of the driver runs on the device file's thread while the window
// waits (CUsbtmcFile). A stopped transfer is aborted and the instrument
// cleared right after the driver gives it up; the next command first waits
// for that, as stoppably.
class CUsbtmcSession : public CSession
{
public:
    CUsbtmcSession(const CResource &resource, const CSessionOptions &options);
    ~CUsbtmcSession() override;

    static std::unique_ptr<CSession> Make(const CResource &resource, const CSessionOptions &options);

    bool Open(QString &error) override;
    bool IsOpen() const override { return m_file.IsOpen(); }
    bool Write(std::string_view data, QString &error) override;
    bool Read(CReply &reply, QString &error) override;
    bool ReadStatusByte(std::uint8_t &status, QString &error) override;
    bool Clear(QString &error) override;
    void Close() override;

    // The device file that the last Open chose ("/dev/usbtmc0").
    const QString &DevicePath() const { return m_device; }
    // What this kernel's driver cannot do and how Tallix does without it:
    // the notes not yet taken, each given once in the session's life.
    QStringList TakeNotes() override;

private:
    // The resource as the user gave it, for messages.
    QString Name() const;
    // Gives the driver the I/O time-out, again whenever the options change.
    bool ApplyTimeout(QString &error);
    int EffectiveTimeoutMs() const;
    // Waits, with the window alive, for what a stopped command left running;
    // false (with `error`) when the user stops this wait too.
    bool Settle(QString &error);
    // An ioctl on the device file with the window alive; `what` says in
    // `error` what the user stopped, or that no thread could run it.
    CallEnd Ioctl(unsigned long request, void *argument, std::size_t size, CUsbtmcFile::CResult &result,
                  const QString &what, QString &error);
    // After a read that timed out: makes sure that nothing of the reply is
    // read as the next one. Returns what the user is to be told besides.
    QString DropRestOfReply(bool partReceived);
    // Once the user has stopped a read (`reading`) or a write: the transfer
    // aborted and the instrument cleared, after the transfer still under way
    // if one is. Returns the clause that says what was done.
    QString WrapUp(bool reading);
    // The message for an I/O failure with `code` (errno); the session closes
    // when the instrument is gone.
    QString IoFailure(const QString &what, int code);
    void Note(const QString &text);

    CResource m_resource;
    QString m_device;
    CUsbtmcFile m_file;
    int m_timeoutApplied = -1;
    // What the kernel's driver turned out to support.
    bool m_canSetTimeout = true;
    bool m_autoAbort = false;
    bool m_endOfMessageKnown = false;
    bool m_canReadStatusByte = true;
    QStringList m_pendingNotes;
    QStringList m_givenNotes;
};
