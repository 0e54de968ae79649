// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/CallThread.h"
#include "sessions/Resource.h"
#include "sessions/Session.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class CRpcChannel;

// An instrument on the LAN over VXI-11 (TCPIP::host[::device]::INSTR): a
// link to the device through the host's core channel, found through its
// portmapper; its abort channel stops a call that the device does not end.
// A GPIB-to-LAN gateway serves each instrument of its bus as a device of its
// own ("gpib0,14").
//
// Every RPC call blocks inside libtirpc, so with the window's pulse each
// runs on a thread of the session's while the window waits and hears Stop.
// A stopped read or write is aborted over the abort channel and the device
// cleared; a stopped call that cannot be aborted, or a device that answers
// neither within half a second, is cut off by shutting its connection down,
// and the link goes with it: the next command opens a new one.
class CVxi11Session : public CSession
{
public:
    CVxi11Session(const CResource &resource, const CSessionOptions &options);
    ~CVxi11Session() override;

    static std::unique_ptr<CSession> Make(const CResource &resource, const CSessionOptions &options);

    bool Open(QString &error) override;
    bool IsOpen() const override;
    bool Write(std::string_view data, QString &error) override;
    bool Read(CReply &reply, QString &error) override;
    bool ReadStatusByte(std::uint8_t &status, QString &error) override;
    bool Clear(QString &error) override;
    void Close() override;

    // The most the device takes in one write, as it said when the link was
    // made; a longer message goes in pieces of that size.
    std::uint32_t MaxRecvSize() const { return m_maxRecvSize; }
    // "VXI-11 error 11: device locked by another link".
    static QString ErrorText(int code);

    // What one read asks for: the device may send less, and the rest of the
    // reply then comes with the next read.
    static constexpr std::uint32_t READ_CHUNK = 1u << 20;
    // How much longer than the device's own time-out a call may take before
    // the session gives up on it: the device's answer still has to travel.
    static constexpr int CALL_MARGIN_MS = 1000;

private:
    // The host and device that messages name.
    QString Where() const;
    // Runs `job` (a call on the core channel) on the core channel's thread
    // while the window waits; `error` says why it could not start.
    CallEnd OnCore(std::function<void()> job, const std::function<CProgress()> &progress, QString &error);
    // After a call that timed out or a reply that could not end: the call
    // still running (`pending`) aborted over the abort channel, then the
    // device cleared, each stoppable; when the device cannot be cleared the
    // link is closed. `what` is "read" or "write". Returns the sentence that
    // tells the user what was done.
    QString Recover(bool pending, const QString &what);
    // The same once the user has stopped: the call still running is
    // aborted (`abortable`) and the device cleared after it, all within half
    // a second, else the link is cut off. `aborted` tells, once the call has
    // ended, whether the abort ended it.
    QString WrapUp(bool abortable, const QString &what, const std::function<bool()> &aborted);
    // The job that sends device_abort for the link, connecting the abort
    // channel first, within `ms`; its outcome goes to `ok`.
    std::function<void()> AbortJob(std::int64_t ms, const std::shared_ptr<std::atomic<bool>> &ok);
    // device_clear, the call given `callMs` and the device `deviceMs` for
    // its lock and its work; `reason` is empty when it cleared.
    CallEnd ClearDevice(std::int64_t callMs, int deviceMs, QString &reason);
    // Lets go of the channels without a word to the device, cutting off a
    // call that still runs on them: the server drops the links of a
    // connection that closes.
    void Drop();

    CResource m_resource;
    std::shared_ptr<CRpcChannel> m_core;
    std::shared_ptr<CRpcChannel> m_abort;
    CCallThread m_coreThread;
    CCallThread m_abortThread;
    std::uint32_t m_hostAddress = 0; // network order
    int m_link = 0;
    std::uint16_t m_abortPort = 0;
    std::uint32_t m_maxRecvSize = 0;
};
