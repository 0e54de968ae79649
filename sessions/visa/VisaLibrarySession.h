// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/CallThread.h"
#include "sessions/Resource.h"
#include "sessions/Session.h"
#include "sessions/visa/VisaLibrary.h"

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// Any resource, reached through a VISA library the machine has (loaded by its
// path, see CVisaLibrary::InstalledLibraries): the library's own session for
// the resource string. Every failing status is shown with the library's own
// description of it.
//
// The calls that may wait for an instrument (viOpen, viWrite, viRead,
// viReadSTB, viClear) run on a thread of the session's own while the window
// waits in slices, alive; Stop gives the window back at once, the call runs
// on, and the next one waits for it. What a stopped transfer leaves in the
// device is cleared once it has ended.
class CVisaLibrarySession : public CSession
{
public:
    CVisaLibrarySession(const CResource &resource, const CSessionOptions &options,
                        const QString &libraryPath);
    ~CVisaLibrarySession() override;

    bool Open(QString &error) override;
    bool IsOpen() const override { return m_vi != visa::VI_NULL; }
    bool Write(std::string_view data, QString &error) override;
    bool Read(CReply &reply, QString &error) override;
    bool ReadStatusByte(std::uint8_t &status, QString &error) override;
    bool Clear(QString &error) override;
    void Close() override;

    // The name viOpen is given: the resource as it was written, so that the
    // library reads it (or an alias of its own) with its own grammar.
    QString ResourceName() const;

private:
    bool Ready(QString &error);
    // The library's text for `status` into `error`; false.
    bool Fail(visa::ViStatus status, QString &error);
    // Runs `call` off the window's thread while the window pulses with
    // `progress` (here when nothing pulses); false when the user stopped the
    // wait, and the call runs on.
    bool Run(const std::function<void()> &call, const std::function<CProgress()> &progress);
    // A call the user stopped ends first, the window alive; false, with
    // `error`, when that wait is stopped too.
    bool Settle(QString &error);
    // Drops what is left of a reply that could not be read to its end (once
    // a stopped call has ended); when even that fails, the session is closed.
    void DropRest();
    // Closes the session when the drop that ended last failed.
    void CheckDropped();

    CResource m_resource;
    CVisaLibrary m_library;
    visa::ViSession m_rm = visa::VI_NULL;
    visa::ViSession m_vi = visa::VI_NULL;
    int m_appliedTimeoutMs = -1;
    CCallThread m_thread;
    // Where viRead reads to; a stopped read keeps it as long as it runs.
    std::shared_ptr<std::vector<unsigned char>> m_buffer;
    // The status of the last drop, once it has ended.
    std::shared_ptr<std::atomic<visa::ViStatus>> m_dropped;
};
