// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>

#include <dlfcn.h>
#include <memory>

// gpib-32's names as a program other than the console calls them, looked up
// in a copy of the library that the test loads on its own.
struct Gpib32Calls
{
    std::unique_ptr<void, int (*)(void *)> handle{nullptr, dlclose};
    void (*SendIFC)(int) = nullptr;
    void (*Send)(int, unsigned short, const void *, long, int) = nullptr;
    void (*Receive)(int, unsigned short, void *, long, int) = nullptr;
    void (*ReadStatusByte)(int, unsigned short, short *) = nullptr;
    void (*DevClear)(int, unsigned short) = nullptr;
    // Looked up, not required: a test that uses them checks them.
    void (*FindLstn)(int, const unsigned short *, unsigned short *, int) = nullptr;
    void (*SendCmds)(int, const void *, long) = nullptr;
    int (*ibconfig)(int, int, int) = nullptr;
    int (*ibtmo)(int, int) = nullptr;
    int (*ibdev)(int, int, int, int, int, int) = nullptr;
    int (*ibwrt)(int, const void *, long) = nullptr;
    int (*ibrd)(int, void *, long) = nullptr;
    int (*ibrsp)(int, char *) = nullptr;
    int (*ibwait)(int, int) = nullptr;
    int (*ibclr)(int) = nullptr;
    int *ibsta = nullptr;
    int *iberr = nullptr;
    int *ibcnt = nullptr;
    long *ibcntl = nullptr;

    template <typename T> void find(T &target, const char *name)
    {
        target = reinterpret_cast<T>(dlsym(handle.get(), name));
    }

    bool open(const QString &path)
    {
        handle.reset(dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL));
        if (!handle)
            return false;
        find(SendIFC, "SendIFC");
        find(Send, "Send");
        find(Receive, "Receive");
        find(ReadStatusByte, "ReadStatusByte");
        find(DevClear, "DevClear");
        find(FindLstn, "FindLstn");
        find(SendCmds, "SendCmds");
        find(ibconfig, "ibconfig");
        find(ibtmo, "ibtmo");
        find(ibdev, "ibdev");
        find(ibwrt, "ibwrt");
        find(ibrd, "ibrd");
        find(ibrsp, "ibrsp");
        find(ibwait, "ibwait");
        find(ibclr, "ibclr");
        find(ibsta, "user_ibsta");
        find(iberr, "user_iberr");
        find(ibcnt, "user_ibcnt");
        find(ibcntl, "user_ibcntl");
        return SendIFC && Send && Receive && ReadStatusByte && DevClear && ibtmo && ibdev && ibwrt && ibrd &&
               ibrsp && ibwait && ibclr && ibsta && iberr && ibcnt && ibcntl;
    }
};
