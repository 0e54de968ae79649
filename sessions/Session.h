// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Reply.h"
#include "sessions/KindOptions.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string_view>

class CUiHooks;

// What every session is told when it is made.
struct CSessionOptions
{
    // How long an open may take: "VISA"/"OpenTimeoutMs".
    int openTimeoutMs = 5000;
    // How long a write may take, and how long a read may wait for the next
    // byte of a reply (counted from the last one received, so that a long
    // reply over a slow link does not time out while bytes still flow):
    // "VISA"/"TimeoutMs".
    int ioTimeoutMs = 10000;
    // The most of one reply that is kept: "Replies"/"MaxBytes".
    std::int64_t maxReplyBytes = DEFAULT_MAX_REPLY_BYTES;
    // The window's hooks: its message box, and the progress and Stop of long
    // work (CUiHooks::Pulse). May be empty.
    const CUiHooks *hooks = nullptr;
    // What each kind of session is told of its own (a serial port's set-up),
    // as the kinds' settings hold it.
    CKindOptions kinds;
};

// One instrument reached over one interface: the same few calls whatever
// carries them. Every call reports a failure as a sentence for the user in
// `error` (no message box of its own) and returns false.
class CSession
{
public:
    explicit CSession(const CSessionOptions &options) : m_options(options) {}
    virtual ~CSession() = default;
    CSession(const CSession &) = delete;
    CSession &operator=(const CSession &) = delete;

    // Reaches the instrument within the open time-out; false leaves the
    // session closed.
    virtual bool Open(QString &error) = 0;
    virtual bool IsOpen() const = 0;
    // Sends the bytes whole, as they are (the console's CR LF included).
    virtual bool Write(std::string_view data, QString &error) = 0;
    // One whole reply, framed as CReplyFramer frames it, the time-out counted
    // from the last byte received. A reply longer than the bound is read to
    // its end and comes back with `cut` set. false when the reply could not
    // be read to its end (time-out, the instrument gone, a transport error):
    // the session has then made sure that nothing of it can be read as the
    // next reply (the I/O aborted, the device cleared or the session closed),
    // and `reply` holds what came.
    virtual bool Read(CReply &reply, QString &error) = 0;
    // The device's status byte (a serial poll).
    virtual bool ReadStatusByte(std::uint8_t &status, QString &error) = 0;
    // Device clear: the instrument drops its input and output queues.
    virtual bool Clear(QString &error) = 0;
    virtual void Close() = 0;
    // What the session has to tell the user once, besides any failure (an
    // older kernel that lacks a feature, say); each note is given once.
    virtual QStringList TakeNotes() { return {}; }

    const CSessionOptions &Options() const { return m_options; }
    void SetOptions(const CSessionOptions &options) { m_options = options; }

protected:
    CSessionOptions m_options;
};
