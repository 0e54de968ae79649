// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Finder.h"

// Plain SCPI servers that announce themselves over mDNS (_scpi-raw._tcp),
// found through avahi's D-Bus interface (org.freedesktop.Avahi on the system
// bus), each as TCPIP::<address>::<port>::SOCKET with its service name. Where
// no system bus or no avahi is running it finds nothing, at once and without a
// word; it never waits for an answer for longer than about two seconds.
class CMdnsFinder : public CFinder
{
public:
    // `busAddress`: the D-Bus address of the bus avahi is on; empty for the
    // system bus (DBUS_SYSTEM_BUS_ADDRESS, else its usual socket).
    explicit CMdnsFinder(QString busAddress = {}) : m_busAddress(std::move(busAddress)) {}

    QString Name() const override { return QStringLiteral("SCPI servers announced on the network"); }
    void Find(const std::function<void(const CFoundResource &)> &found,
              const std::atomic<bool> &cancelled) override;

private:
    QString m_busAddress;
};
