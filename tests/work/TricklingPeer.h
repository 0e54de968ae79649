// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

// A SCPI server on the loopback that answers every connection with one byte
// each `gapMs`, never a line's end, until `lifetimeMs` after it came: a peer
// that keeps a reader that restarts its time-out at every byte waiting for
// as long as it likes.
class CTricklingPeer
{
public:
    explicit CTricklingPeer(int gapMs, int lifetimeMs = 10000) : m_gap(gapMs), m_lifetime(lifetimeMs)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
            ::listen(m_listen, 64) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CTricklingPeer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
    }
    CTricklingPeer(const CTricklingPeer &) = delete;
    CTricklingPeer &operator=(const CTricklingPeer &) = delete;

    bool Listening() const { return m_port != 0; }
    QString Resource() const { return QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(m_port); }
    int Connections() const { return m_connections; }
    std::int64_t BytesSent() const { return m_sent; }

private:
    using Clock = std::chrono::steady_clock;
    struct CClient
    {
        int fd;
        Clock::time_point came;
        Clock::time_point next;
    };

    void Serve()
    {
        std::vector<CClient> clients;
        while (!m_stop) {
            std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
            for (const CClient &c : clients)
                fds.push_back({c.fd, POLLIN, 0});
            ::poll(fds.data(), fds.size(), 10);
            if ((fds[0].revents & POLLIN) != 0) {
                const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd >= 0) {
                    clients.push_back({fd, Clock::now(), Clock::now() + std::chrono::milliseconds(m_gap)});
                    ++m_connections;
                }
            }
            const Clock::time_point now = Clock::now();
            for (CClient &c : clients) {
                char discard[256];
                while (::recv(c.fd, discard, sizeof discard, MSG_DONTWAIT) > 0) {
                }
                if (now - c.came >= std::chrono::milliseconds(m_lifetime)) {
                    ::close(c.fd);
                    c.fd = -1;
                } else if (now >= c.next) {
                    c.next += std::chrono::milliseconds(m_gap);
                    if (::send(c.fd, "K", 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) {
                        ++m_sent;
                    } else {
                        ::close(c.fd);
                        c.fd = -1;
                    }
                }
            }
            clients.erase(
                std::remove_if(clients.begin(), clients.end(), [](const CClient &c) { return c.fd < 0; }),
                clients.end());
        }
        for (const CClient &c : clients)
            ::close(c.fd);
    }

    int m_gap;
    int m_lifetime;
    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<std::int64_t> m_sent{0};
    std::thread m_thread;
};
