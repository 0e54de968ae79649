// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/CallThread.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

// The device file of a USB instrument and the thread its calls run on. Every
// read, write and ioctl of the kernel's usbtmc driver may wait for the
// instrument, where nothing cuts it short before the driver's own time-out:
// with the window's pulse each runs on that thread while the window waits
// and hears Stop. A call the user stopped goes on by itself; the file stays
// open for it and closes once it ends, and the next call waits for it.
class CUsbtmcFile
{
public:
    // What a system call gave: its value, and errno when that is negative.
    struct CResult
    {
        long value = -1;
        int code = 0;
    };
    // How the tidying up after a stopped transfer went.
    enum class Tidied
    {
        Cleared,
        // Not yet: the transfer still runs, and the tidying up follows it.
        Pending,
        // The instrument could not be cleared: the file was closed.
        Broken,
    };

    CUsbtmcFile();
    ~CUsbtmcFile();
    CUsbtmcFile(const CUsbtmcFile &) = delete;
    CUsbtmcFile &operator=(const CUsbtmcFile &) = delete;

    // Open, and not found broken by the tidying up after a stopped transfer.
    bool IsOpen() const;
    // Opens `path` for reading and writing; Done with `result` 0, or -1
    // and the errno.
    CallEnd Open(const QByteArray &path, const CUiHooks *hooks, std::int64_t waitMs, CResult &result,
                 QString &error);
    void Close();

    // Runs `call` with the file's descriptor, again while it is
    // interrupted, and waits for it with the window alive.
    CallEnd Call(std::function<long(int fd)> call, const CUiHooks *hooks,
                 const std::function<CProgress()> &progress, CResult &result, QString &error);
    // An ioctl whose argument of `size` bytes at `argument` goes in, and
    // comes back once the call is Done.
    CallEnd Ioctl(unsigned long request, void *argument, std::size_t size, const CUiHooks *hooks,
                  std::int64_t waitMs, CResult &result, QString &error);
    // Reads into `buffer`, which the call holds while it runs.
    CallEnd Read(const std::shared_ptr<QByteArray> &buffer, const CUiHooks *hooks,
                 const std::function<CProgress()> &progress, CResult &result, QString &error);

    // Waits, with the window alive, for what a stopped command left running;
    // false when the user stops this wait too. A file found broken closes.
    bool Settle(const CUiHooks *hooks);
    // Once the user has stopped a transfer: the transfer aborted
    // (`abortRequest`) and the instrument cleared, right after the call
    // still under way if one is; waits `bound` for that.
    Tidied TidyUp(unsigned long abortRequest, const CUiHooks *hooks, std::chrono::milliseconds bound);

private:
    struct CDescriptor;

    std::shared_ptr<CDescriptor> m_descriptor;
    CCallThread m_thread;
};
