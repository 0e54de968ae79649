// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

// Runs this program again through scripts/run-in-netns, in a network of its
// own, unless it already runs there: its tests serve port 111. Call it first
// in main, before any thread starts.
inline void EnterPrivateNetwork(int argc, char **argv)
{
    if (std::getenv("TALLIX_PRIVATE_NETWORK"))
        return;
    static char script[] = TALLIX_SOURCE_DIR "/scripts/run-in-netns";
    static char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        std::perror("/proc/self/exe");
        std::exit(1);
    }
    self[length] = '\0';
    std::vector<char *> arguments{script, self};
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    ::execv(script, arguments.data());
    std::perror("run-in-netns");
    std::exit(1);
}

// Inside the private network: the resolver asks a name server on this
// network's loopback that takes every query and answers none (its socket is
// never read), so that looking up a name that is not in /etc/hosts waits
// for the resolver's time-out of `timeoutSeconds`. It takes a resolv.conf of
// its own, bound over the system's in a mount namespace of the program's
// own. Call it in main after EnterPrivateNetwork, before any thread starts;
// false where the system does not allow it (such names then fail at once).
inline bool UseSilentResolver(int timeoutSeconds = 3)
{
    if (!std::getenv("TALLIX_PRIVATE_NETWORK") || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    char path[] = "/tmp/tallix-resolv-XXXXXX";
    const int file = ::mkstemp(path);
    if (file < 0)
        return false;
    char text[96];
    const int size = std::snprintf(text, sizeof text, "nameserver 127.0.0.1\noptions timeout:%d attempts:1\n",
                                   timeoutSeconds);
    const bool written = ::write(file, text, static_cast<size_t>(size)) == size;
    ::close(file);
    const bool bound = written && ::mount(path, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    ::unlink(path);
    if (!bound)
        return false;
    // The name server: both its ports taken for the rest of the run.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
        const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
            (type == SOCK_STREAM && ::listen(fd, 16) != 0))
            return false;
    }
    return true;
}
