// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"
#include "sessions/Session.h"

#include <cstdint>
#include <memory>

class CRpcChannel;

// An instrument on the LAN over VXI-11 (TCPIP::host[::device]::INSTR): a
// link to the device through the host's core channel, found through its
// portmapper; its abort channel stops a read that the device does not end.
// A GPIB-to-LAN gateway serves each instrument of its bus as a device of its
// own ("gpib0,14").
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
    // With a progress indication, the waits for a reply are cut into slices
    // this long, so that Stop is seen between them.
    static constexpr int PULSE_SLICE_MS = 250;

private:
    // The host and device that messages name.
    QString Where() const;
    // Makes sure that nothing of an unfinished reply is read as the next
    // one: the call still running (`pending`) aborted over the abort channel,
    // then the device cleared; when the device cannot be cleared the link is
    // closed. Returns the sentence that tells the user what was done.
    QString Recover(bool pending);
    bool Abort();
    bool ClearDevice(QString &error);
    // The parameters of a call on the link: its id, waiting for the lock,
    // and the I/O time-out.
    struct Device_GenericParms GenericParms() const;
    // The call failed in transport: a time-out leaves the link to Recover,
    // anything else closes it. Returns libtirpc's text.
    QString TransportFailure(bool timedOut);
    // Lets go of the channels without a word to the device: the server
    // drops the links of a connection that closes.
    void Drop();

    CResource m_resource;
    std::unique_ptr<CRpcChannel> m_core;
    std::unique_ptr<CRpcChannel> m_abort;
    std::uint32_t m_hostAddress = 0; // network order
    int m_link = 0;
    std::uint16_t m_abortPort = 0;
    std::uint32_t m_maxRecvSize = 0;
};
