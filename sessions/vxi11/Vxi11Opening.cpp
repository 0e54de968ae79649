// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/vxi11/Vxi11Opening.h"

#include "sessions/vxi11/RpcChannel.h"
#include "sessions/vxi11/Vxi11Session.h"

#include <arpa/inet.h>
#include <vxi11.h>

#include <algorithm>

namespace {

// The device's own minimum for maxRecvSize; a device that names less is
// taken at this.
constexpr std::uint32_t MIN_RECV_SIZE = 1024;

} // namespace

CVxi11Opening::CVxi11Opening(Request request)
    : core(std::make_shared<CRpcChannel>()), m_request(std::move(request)),
      m_portmapper(std::make_shared<CRpcChannel>())
{
}

CVxi11Opening::~CVxi11Opening() = default;

void CVxi11Opening::Stop()
{
    m_stopped = true;
    m_portmapper->Cut();
    core->Cut();
}

void CVxi11Opening::Run()
{
    const QString &host = m_request.host;
    const QDeadlineTimer deadline(m_request.openTimeoutMs);
    sockaddr_in address{};
    QString reason;
    if (!CRpcChannel::Resolve(host, address, reason)) {
        error = QStringLiteral("Cannot find the host %1: %2").arg(host, reason);
        return;
    }
    if (m_stopped) {
        error = QStringLiteral("stopped");
        return;
    }
    std::uint16_t port = 0;
    bool connected = false;
    if (!m_portmapper->LookUpPort(address, DEVICE_CORE, DEVICE_CORE_VERSION, deadline, port, connected,
                                  reason)) {
        error = connected
                    ? QStringLiteral("No VXI-11 server at %1: its portmapper did not answer (%2)")
                          .arg(host, reason)
                    : QStringLiteral("No VXI-11 server at %1: no portmapper answers on its port 111 (%2)")
                          .arg(host, reason);
        return;
    }
    if (port == 0) {
        error =
            QStringLiteral("No VXI-11 server at %1: its portmapper knows no VXI-11 core channel").arg(host);
        return;
    }

    address.sin_port = htons(port);
    if (core->Connect(address, DEVICE_CORE, DEVICE_CORE_VERSION, deadline, reason) !=
        CRpcChannel::ConnectFailure::None) {
        error = QStringLiteral("Cannot reach the VXI-11 server at %1, port %2: %3")
                    .arg(host)
                    .arg(port)
                    .arg(reason);
        return;
    }

    QByteArray device = m_request.device.toLatin1();
    Create_LinkParms parms{};
    parms.clientId = m_request.clientId;
    parms.lockDevice = FALSE;
    parms.lock_timeout = static_cast<u_int>(std::max(m_request.openTimeoutMs, 0));
    parms.device = device.data();
    Create_LinkResp created{};
    if (create_link_1(&parms, &created, core->Client(std::max<qint64>(deadline.remainingTime(), 1))) !=
        RPC_SUCCESS) {
        error = QStringLiteral("The VXI-11 server at %1 did not make a link to %2: %3")
                    .arg(host, m_request.device, core->CallError());
        return;
    }
    if (created.error != 0) {
        error = QStringLiteral("The VXI-11 server at %1 refused a link to %2: %3")
                    .arg(host, m_request.device, CVxi11Session::ErrorText(created.error));
        return;
    }
    hostAddress = address.sin_addr.s_addr;
    link = created.lid;
    abortPort = created.abortPort;
    maxRecvSize = std::max<std::uint32_t>(created.maxRecvSize, MIN_RECV_SIZE);
}
