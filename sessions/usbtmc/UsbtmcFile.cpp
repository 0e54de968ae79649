// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/usbtmc/UsbtmcFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <sys/ioctl.h>
#include <unistd.h>

// Shared with the calls on the thread: a call that outlives the command the
// user stopped still finds it open.
struct CUsbtmcFile::CDescriptor
{
    explicit CDescriptor(int fd) : fd(fd) {}
    ~CDescriptor() { ::close(fd); }
    CDescriptor(const CDescriptor &) = delete;
    CDescriptor &operator=(const CDescriptor &) = delete;

    const int fd;
    std::atomic<bool> broken{false};
};

namespace {

long Repeated(const std::function<long()> &call, int &code)
{
    long value;
    do
        value = call();
    while (value < 0 && errno == EINTR);
    code = value < 0 ? errno : 0;
    return value;
}

} // namespace

CUsbtmcFile::CUsbtmcFile() = default;
CUsbtmcFile::~CUsbtmcFile() = default;

bool CUsbtmcFile::IsOpen() const
{
    return m_descriptor && !m_descriptor->broken;
}

void CUsbtmcFile::Close()
{
    m_descriptor.reset();
}

CallEnd CUsbtmcFile::Open(const QByteArray &path, const CUiHooks *hooks, std::int64_t waitMs, CResult &result,
                          QString &error)
{
    Close();
    // The descriptor the call opens goes with the last of these two: here
    // when the user stopped, on the thread when the call ends after that.
    auto opened = std::make_shared<std::shared_ptr<CDescriptor>>();
    auto out = std::make_shared<CResult>();
    const CallEnd end = RunCall(
        m_thread, hooks,
        [path, opened, out]() {
            out->value =
                Repeated([&path]() { return long{::open(path.constData(), O_RDWR | O_CLOEXEC)}; }, out->code);
            if (out->value >= 0) {
                *opened = std::make_shared<CDescriptor>(static_cast<int>(out->value));
                out->value = 0;
            }
        },
        WaitProgress(waitMs), {}, std::chrono::milliseconds{0}, &error);
    if (end == CallEnd::Done) {
        m_descriptor = *opened;
        result = *out;
    }
    return end;
}

CallEnd CUsbtmcFile::Call(std::function<long(int fd)> call, const CUiHooks *hooks,
                          const std::function<CProgress()> &progress, CResult &result, QString &error)
{
    if (!m_descriptor) {
        result = CResult{-1, EBADF};
        return CallEnd::Done;
    }
    auto out = std::make_shared<CResult>();
    const CallEnd end = RunCall(
        m_thread, hooks,
        [descriptor = m_descriptor, out, call = std::move(call)]() {
            out->value = Repeated([&]() { return call(descriptor->fd); }, out->code);
        },
        progress, {}, std::chrono::milliseconds{0}, &error);
    if (end == CallEnd::Done)
        result = *out;
    return end;
}

CallEnd CUsbtmcFile::Ioctl(unsigned long request, void *argument, std::size_t size, const CUiHooks *hooks,
                           std::int64_t waitMs, CResult &result, QString &error)
{
    auto copy =
        std::make_shared<QByteArray>(static_cast<const char *>(argument), static_cast<qsizetype>(size));
    const CallEnd end =
        Call([request,
              copy](int fd) { return long{::ioctl(fd, request, copy->isEmpty() ? nullptr : copy->data())}; },
             hooks, WaitProgress(waitMs), result, error);
    if (end == CallEnd::Done && size > 0)
        std::memcpy(argument, copy->constData(), size);
    return end;
}

CallEnd CUsbtmcFile::Read(const std::shared_ptr<QByteArray> &buffer, const CUiHooks *hooks,
                          const std::function<CProgress()> &progress, CResult &result, QString &error)
{
    return Call(
        [buffer](int fd) {
            return long{::read(fd, buffer->data(), static_cast<std::size_t>(buffer->size()))};
        },
        hooks, progress, result, error);
}

bool CUsbtmcFile::Settle(const CUiHooks *hooks)
{
    if (!m_thread.Idle() && !WaitForCall(m_thread, hooks, CProgress{CProgress::Kind::Wait, 0, -1}))
        return false;
    if (m_descriptor && m_descriptor->broken)
        Close();
    return true;
}

CUsbtmcFile::Tidied CUsbtmcFile::TidyUp(unsigned long abortRequest, const CUiHooks *hooks,
                                        std::chrono::milliseconds bound)
{
    const std::shared_ptr<CDescriptor> descriptor = m_descriptor;
    if (!descriptor)
        return Tidied::Broken;
    auto tidy = [descriptor, abortRequest]() {
        // The abort fails where no transfer is left to abort; the clear is
        // what counts.
        int ignored = 0;
        Repeated([&]() { return long{::ioctl(descriptor->fd, abortRequest)}; }, ignored);
        int code = 0;
        if (Repeated([&]() { return long{::ioctl(descriptor->fd, USBTMC_IOCTL_CLEAR)}; }, code) != 0)
            descriptor->broken = true;
    };
    if (!m_thread.After(std::move(tidy))) {
        Close();
        return Tidied::Broken;
    }
    if (!FinishCall(m_thread, hooks, bound, CProgress{CProgress::Kind::Wait, 0, -1}))
        return Tidied::Pending;
    if (descriptor->broken) {
        Close();
        return Tidied::Broken;
    }
    return Tidied::Cleared;
}
