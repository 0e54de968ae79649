// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/Link.h"
#include "sessions/gpib/GpibCaller.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// NI-488.2 device address: primary address in the low byte, secondary in the
// high byte.
using Addr4882_t = unsigned short;
constexpr Addr4882_t NOADDR = 0xFFFF;

// The pause before each online read, in milliseconds.
extern std::int32_t g_gpibReadPauseMs;

// One instrument on board 0 of a GPIB bus, driven through the NI-488.2 library
// "gpib-32" loaded at run time. Offline until the library loads; then online
// for the rest of the run.
//
// While the window watches the work, each call of the library runs on a
// thread of the link's own and the window waits for it in slices, alive:
// Stop gives the window back at once, the call runs on, and the next call
// waits for it. Every call, and the reading of the status it left, holds the
// process-wide lock of the library that the VISA Resource link's GPIB
// sessions hold too (CGpibCaller).
class CGpibLink : public CLink, public CDeviceAddressUser, public CStatusByteSource
{
public:
    // `libraryName` is what the loader is asked for; "gpib-32" finds
    // libgpib-32.so on the loader's search path. Tests pass a full path.
    explicit CGpibLink(const CLinkContext &context, QString libraryName = QStringLiteral("gpib-32"));
    ~CGpibLink() override;

    // Whatever link is chosen, the first command of a run loads the library
    // and clears the bus; while it cannot be loaded every command tries again.
    CResult Update(bool chosen) override;
    CResult Send(std::string_view line) override;
    // Both read the whole reply, piece by piece to its END: the device sends
    // it once.
    CResult ReadForLog(CReply &reply) override;
    CResult ReadForDisplay(CReply &reply) override;
    // Offline there is no device: the log and the window each get the
    // library's own answer.
    bool AnswersOnce() const override { return m_offline == 0; }
    // The library stays loaded until the link goes.
    void Release() override {}
    // The I/O time-out.
    std::vector<CLinkSettingsGroup> SettingsGroups() const override;
    CDeviceAddressUser *DeviceAddressUser() override { return this; }
    CStatusByteSource *StatusByteSource() override { return this; }
    // Serial Poll asks the device at the address box's address, whatever
    // link is chosen.
    CResult PollStatusByte(short &result) override;
    bool PollsForEveryLink() const override { return true; }

    int Initialize(int offline);
    int SetAddress(int address) override;
    int WriteString(const char *text);
    int Write(const char *buffer, int count);
    int Read(char *buffer, int count, int clamp, int termination);
    int SerialPoll(short *result);
    unsigned LastCount() const;
    // One whole reply to its END: false when a read failed (reported, and
    // the device cleared so that the rest of the reply is not read as the
    // next one).
    bool ReadReply(CReply &reply);
    // How the library's last call failed, named as the library names it.
    QString LastErrorText() const;

    bool IsOffline() const { return m_offline != 0; }
    Addr4882_t DeviceAddress() const { return m_addressList[0]; }
    QString Target() const override;
    // Points the link at another library (tests). Only while no library is
    // loaded: a loaded one stays for the rest of the run.
    void SetLibraryName(const QString &name);

    using SendIFCFn = void (*)(int);
    using EnableRemoteFn = void (*)(int, const Addr4882_t *);
    using SendFn = void (*)(int, Addr4882_t, const void *, long, int);
    using ReceiveFn = void (*)(int, Addr4882_t, void *, long, int);
    using ReadStatusByteFn = void (*)(int, Addr4882_t, short *);
    using IbtmoFn = int (*)(int, int);
    using IbaskFn = int (*)(int, int, int *);

    // Lookup order of the 21 names; a library that lacks any of them is bad.
    static const char *const LOOKUP_NAMES[21];

private:
    bool Succeeded() const;
    // Runs `call` under the library's lock and keeps the status it left;
    // off the window's thread while the window pulses with `progress`.
    // false when the user stopped the wait: the call runs on.
    bool Call(const std::function<void()> &call, const CProgress &progress);
    // Clears the device once what runs now has ended, waiting for none of
    // it: after a transfer that was stopped.
    void QueueClear();
    // Clears the device after a reply that could not be read to its end.
    void ClearAfterFailure();
    // Before any call of the library: a transfer that the user stopped
    // waiting for ends first, the window alive; false when that wait is
    // stopped too.
    bool FinishStoppedTransfer();
    // Read without its pause: the pieces of a reply after its first.
    int ReadPiece(char *buffer, int count, int clamp, int termination, bool pause);
    // Sets the I/O time-out that the settings ask for, once it differs from
    // the one set; "Library default" gives the library back its own.
    void ApplyTimeout();
    // Looks up the 21 names; returns how many were missing.
    int LookUpNames();

    QString m_libraryName;

    // Entry points, each empty until found.
    void *m_ibconfig = nullptr;
    EnableRemoteFn m_EnableRemote = nullptr;
    ReadStatusByteFn m_ReadStatusByte = nullptr;
    ReceiveFn m_Receive = nullptr;
    SendIFCFn m_SendIFC = nullptr;
    SendFn m_Send = nullptr;
    void *m_ibwait = nullptr;
    void *m_ibonl = nullptr;
    IbtmoFn m_ibtmo = nullptr;
    void *m_ibrd = nullptr;
    void *m_ibwrt = nullptr;
    void *m_ibwrtfA = nullptr;
    void *m_ibfindA = nullptr;
    void *m_ibdev = nullptr;
    IbaskFn m_ibask = nullptr;
    void *m_SendCmds = nullptr;
    void *m_ibrsp = nullptr;
    // Looked up besides the 21, and not required: a library without it
    // leaves a half-read reply where it is.
    using DevClearFn = void (*)(int, Addr4882_t);
    DevClearFn m_DevClear = nullptr;

    int *m_ibsta = nullptr;
    int *m_iberr = nullptr;
    int *m_ibcnt = nullptr;
    long *m_ibcntl = nullptr;
    Addr4882_t m_addressList[2] = {NOADDR, NOADDR};
    std::int32_t m_board = 0;
    std::int32_t m_offline = 1;
    int m_timeout = GPIB_LIBRARY_TIMEOUT;        // the code set, or the library's own
    int m_libraryTimeout = GPIB_LIBRARY_TIMEOUT; // the library's own, once asked
    CGpibCaller m_caller;                        // runs the calls, and keeps what the last one left
    bool m_readStopped = false;                  // the last Read was stopped by the user
    bool m_stopped = false;                      // the last call was stopped by the user
    std::int64_t m_replyBytes = 0;               // of the reply being read, for the progress
};
