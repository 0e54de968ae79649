// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/usbtmc/SimUsbtmcDriver.h"

#include "sim/model/SimSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <linux/ioctl.h>
#include <linux/usb/tmc.h>

namespace tallixsim {

namespace {

// The driver's versions that brought what the simulation leaves out of older
// ones: the status byte (4.6), then time-outs, auto-abort and the transfer
// attributes, and reads of one transfer (4.20).
constexpr int KERNEL_STATUS_BYTE = 4006;
constexpr int KERNEL_REWORKED = 4020;
constexpr std::uint32_t MIN_TIMEOUT_MS = 100;
constexpr std::uint32_t FIXED_TIMEOUT_MS = 5000;
constexpr std::uint8_t END_OF_MESSAGE = 0x01;
constexpr int MAV = 0x10;
constexpr long POLL_MS = 2;

const char *IoctlName(unsigned long request)
{
    switch (request) {
    case USBTMC_IOCTL_SET_TIMEOUT:
        return "SET_TIMEOUT";
    case USBTMC_IOCTL_GET_TIMEOUT:
        return "GET_TIMEOUT";
    case USBTMC_IOCTL_AUTO_ABORT:
        return "AUTO_ABORT";
    case USBTMC_IOCTL_MSG_IN_ATTR:
        return "MSG_IN_ATTR";
    case USBTMC488_IOCTL_READ_STB:
        return "READ_STB";
    case USBTMC_IOCTL_CLEAR:
        return "CLEAR";
    case USBTMC_IOCTL_ABORT_BULK_IN:
        return "ABORT_BULK_IN";
    case USBTMC_IOCTL_ABORT_BULK_OUT:
        return "ABORT_BULK_OUT";
    default:
        return "other";
    }
}

// Records a call that failed with errno, and leaves errno as it found it.
ssize_t Failed(const char *call, std::size_t count)
{
    const int code = errno;
    TraceLine(USBTMC_TRACE_VARIABLE, "%s %zu -> %s", call, count, std::strerror(code));
    errno = code;
    return -1;
}

} // namespace

SimUsbtmcDriver &SimUsbtmcDriver::Instance()
{
    // Never destroyed: files are read and closed while the process exits.
    static SimUsbtmcDriver *driver = new SimUsbtmcDriver;
    return *driver;
}

std::vector<UsbtmcInstrument> SimUsbtmcDriver::SyncLocked()
{
    std::vector<UsbtmcInstrument> plugged = PluggedUsbtmcInstruments();
    for (int i = 0; i < MAX_DEVICES; ++i) {
        const std::string key = i < static_cast<int>(plugged.size()) ? plugged[i].Key() : std::string();
        Device &device = m_devices[i];
        if (key == device.key)
            continue;
        device.key = key;
        ++device.generation;
        device.model.reset();
        device.output.clear();
        device.replies = 0;
        device.heldWrites = 0;
        if (!key.empty())
            TraceLine(USBTMC_TRACE_VARIABLE, "plug usbtmc%d %s", i, key.c_str());
        else
            TraceLine(USBTMC_TRACE_VARIABLE, "unplug usbtmc%d", i);
    }
    return plugged;
}

std::vector<UsbtmcInstrument> SimUsbtmcDriver::Plugged()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return SyncLocked();
}

int SimUsbtmcDriver::CheckOpen(int index)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    SyncLocked();
    if (index < 0 || index >= MAX_DEVICES || m_devices[index].key.empty())
        return ENOENT;
    if (UsbtmcOpenDenied())
        return EACCES;
    return 0;
}

void SimUsbtmcDriver::Adopt(int fd, int index)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    File file;
    file.index = index;
    file.generation = m_devices[index].generation;
    if (m_files.insert_or_assign(fd, file).second)
        ++m_openFiles;
    TraceLine(USBTMC_TRACE_VARIABLE, "open /dev/usbtmc%d", index);
}

bool SimUsbtmcDriver::Owns(int fd)
{
    if (m_openFiles.load() == 0)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files.count(fd) != 0;
}

void SimUsbtmcDriver::Forget(int fd)
{
    if (m_openFiles.load() == 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_files.erase(fd) != 0) {
        --m_openFiles;
        TraceLine(USBTMC_TRACE_VARIABLE, "close");
    }
}

SimUsbtmcDriver::File *SimUsbtmcDriver::UsableLocked(int fd)
{
    auto found = m_files.find(fd);
    if (found == m_files.end()) {
        errno = EBADF;
        return nullptr;
    }
    SyncLocked();
    File &file = found->second;
    if (file.generation != m_devices[file.index].generation) {
        // The first call to notice fails as the transfer under way would;
        // the driver then knows the device is gone.
        errno = file.goneReported ? ENODEV : UsbtmcUnplugErrno();
        file.goneReported = true;
        return nullptr;
    }
    return &file;
}

bool SimUsbtmcDriver::ReadyLocked(const Device &device) const
{
    return !device.output.empty() && Clock::now() >= device.output.front().readyAt;
}

ssize_t SimUsbtmcDriver::Read(int fd, void *buffer, std::size_t count)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    File *file = UsableLocked(fd);
    if (!file)
        return Failed("read", count);
    if (count == 0)
        return 0;
    const bool reworked = UsbtmcKernelVersion() >= KERNEL_REWORKED;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(reworked ? file->timeoutMs : FIXED_TIMEOUT_MS);
    for (;;) {
        Device &device = m_devices[file->index];
        if (ReadyLocked(device)) {
            Message &message = device.output.front();
            std::size_t size = std::min(count, message.bytes.size() - message.at);
            // Older drivers go on asking until the size or the end is reached.
            const long piece = UsbtmcMaxPiece();
            if (reworked && piece > 0)
                size = std::min(size, static_cast<std::size_t>(piece));
            std::memcpy(buffer, message.bytes.data() + message.at, size);
            message.at += size;
            const bool end = message.at == message.bytes.size();
            file->transferAttributes = end ? END_OF_MESSAGE : 0;
            if (end)
                device.output.pop_front();
            else
                message.readyAt = Clock::now() + std::chrono::milliseconds(UsbtmcPieceDelayMs());
            TraceLine(USBTMC_TRACE_VARIABLE, "read %zu -> %zu%s", count, size, end ? " eom" : "");
            return static_cast<ssize_t>(size);
        }
        if (Clock::now() >= deadline) {
            // The driver's abort ends the transfer, and with it the reply.
            const bool aborted = reworked && file->autoAbort && !device.output.empty();
            if (aborted)
                device.output.pop_front();
            TraceLine(USBTMC_TRACE_VARIABLE, "read %zu -> timed out%s", count,
                      aborted ? ", reply aborted" : "");
            errno = ETIMEDOUT;
            return -1;
        }
        lock.unlock();
        SleepMs(POLL_MS);
        lock.lock();
        file = UsableLocked(fd);
        if (!file)
            return Failed("read", count);
    }
}

ssize_t SimUsbtmcDriver::Write(int fd, const void *buffer, std::size_t count)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    File *file = UsableLocked(fd);
    if (!file)
        return Failed("write", count);
    const std::string text(static_cast<const char *>(buffer), count);
    Device &device = m_devices[file->index];
    if (device.heldWrites < UsbtmcHeldWrites()) {
        // The instrument takes none of it until the driver gives up.
        ++device.heldWrites;
        const bool reworked = UsbtmcKernelVersion() >= KERNEL_REWORKED;
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(reworked ? file->timeoutMs : FIXED_TIMEOUT_MS);
        while (Clock::now() < deadline) {
            lock.unlock();
            SleepMs(POLL_MS);
            lock.lock();
            if (!UsableLocked(fd))
                return Failed("write", count);
        }
        TraceLine(USBTMC_TRACE_VARIABLE, "write %zu %s -> timed out", count, Trimmed(text).c_str());
        errno = ETIMEDOUT;
        return -1;
    }
    TraceLine(USBTMC_TRACE_VARIABLE, "write %zu %s", count, Trimmed(text).c_str());
    // One message may hold several lines; each reply queues behind the
    // replies not yet read.
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find('\n', start);
        if (stop == std::string::npos)
            stop = text.size();
        const std::string line = text.substr(start, stop - start);
        start = stop + 1;
        if (Trimmed(line).empty() || !device.model.command(line))
            continue;
        Message message;
        message.bytes = device.model.take();
        const long delayed = UsbtmcDelayedReplies();
        const bool late = delayed < 0 || device.replies < delayed;
        ++device.replies;
        message.readyAt = Clock::now() + std::chrono::milliseconds(late ? UsbtmcReplyDelayMs() : 0);
        device.output.push_back(std::move(message));
    }
    return static_cast<ssize_t>(count);
}

int SimUsbtmcDriver::Ioctl(int fd, unsigned long request, void *argument)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    File *file = UsableLocked(fd);
    if (!file)
        return static_cast<int>(Failed(IoctlName(request), 0));
    const int kernel = UsbtmcKernelVersion();
    Device &device = m_devices[file->index];
    int result = 0;
    switch (request) {
    case USBTMC_IOCTL_SET_TIMEOUT:
    case USBTMC_IOCTL_GET_TIMEOUT:
    case USBTMC_IOCTL_AUTO_ABORT:
    case USBTMC_IOCTL_MSG_IN_ATTR:
        if (kernel < KERNEL_REWORKED) {
            errno = EBADRQC;
            result = -1;
        } else if (!argument) {
            errno = EFAULT;
            result = -1;
        } else if (request == USBTMC_IOCTL_SET_TIMEOUT) {
            const std::uint32_t timeout = *static_cast<const std::uint32_t *>(argument);
            if (timeout < MIN_TIMEOUT_MS) {
                errno = EINVAL;
                result = -1;
            } else {
                file->timeoutMs = timeout;
            }
        } else if (request == USBTMC_IOCTL_GET_TIMEOUT) {
            *static_cast<std::uint32_t *>(argument) = file->timeoutMs;
        } else if (request == USBTMC_IOCTL_AUTO_ABORT) {
            file->autoAbort = *static_cast<const std::uint8_t *>(argument) != 0;
        } else {
            *static_cast<std::uint8_t *>(argument) = file->transferAttributes;
        }
        break;
    case USBTMC488_IOCTL_READ_STB:
        if (kernel < KERNEL_STATUS_BYTE) {
            errno = EBADRQC;
            result = -1;
        } else if (!argument) {
            errno = EFAULT;
            result = -1;
        } else {
            int status = device.model.serialPoll();
            if (ReadyLocked(device))
                status |= MAV;
            *static_cast<std::uint8_t *>(argument) = static_cast<std::uint8_t>(status);
        }
        break;
    case USBTMC_IOCTL_CLEAR:
        // Device clear: the instrument drops what it had to send.
        device.output.clear();
        break;
    case USBTMC_IOCTL_ABORT_BULK_IN:
        if (!device.output.empty() && device.output.front().at > 0)
            device.output.pop_front();
        break;
    case USBTMC_IOCTL_ABORT_BULK_OUT:
        // A write is taken whole at once: there is never one to abort.
        break;
    default:
        errno = EBADRQC;
        result = -1;
        break;
    }
    if (result != 0)
        return static_cast<int>(Failed(IoctlName(request), 0));
    TraceLine(USBTMC_TRACE_VARIABLE, "ioctl %s", IoctlName(request));
    return result;
}

} // namespace tallixsim
