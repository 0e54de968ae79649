// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <limits.h>
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
