// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// libtallix-usbtmc-sim.so: simulated USB instruments behind the kernel's
// usbtmc driver, for a process that loads it with LD_PRELOAD. It stands in
// for /dev/usbtmc0 (and /dev/usbtmc1 when a second instrument is asked for)
// and for their entries under /sys/class/usbmisc, so that a program reaches
// the instruments through the device files as it would reach real ones,
// without a kernel module. The instruments answer through the shared
// instrument model (sim/model).
//
// It answers open, openat (and their 64-bit and checked forms) and opendir
// for those paths, and read, write, ioctl and close for the device files it
// opened; every other file goes to the C library untouched. Sysfs is a copy
// in a temporary folder (removed at exit) that those paths are mapped onto.
// What the device files do, see SimUsbtmcDriver.h.
//
// Environment, read at each call:
//   TALLIX_SIM_USBTMC_VENDOR     the instrument's USB vendor id (0x1AB1)
//   TALLIX_SIM_USBTMC_PRODUCT    its product id (0x04CE)
//   TALLIX_SIM_USBTMC_SERIAL     its serial number (TLX0001; empty for none)
//   TALLIX_SIM_USBTMC_INTERFACE  its USBTMC interface number (0)
//   TALLIX_SIM_USBTMC_SECOND     a second instrument, /dev/usbtmc1, as
//                                "vendor:product:serial:interface", e.g.
//                                "0x1234:0x5678:TLX0002:1"
//   TALLIX_SIM_USBTMC_MAX_PIECE  the most one read returns, to get short
//                                reads before the end of a message (none)
//   TALLIX_SIM_USBTMC_DELAY_MS   from a command to its reply's first byte (0);
//                                longer than the I/O time-out, a read held
//   TALLIX_SIM_USBTMC_DELAYED_REPLIES  only the first K replies of a device
//                                (since it was plugged in) wait that delay
//                                (default: every one)
//   TALLIX_SIM_USBTMC_PIECE_DELAY_MS  before each later piece of a reply (0)
//   TALLIX_SIM_USBTMC_HELD_WRITES  the first K writes of a device (since it
//                                was plugged in) are never taken: each waits
//                                out the time-out and fails with ETIMEDOUT (0)
//   TALLIX_SIM_USBTMC_DENY       1: opening a device file fails with EACCES,
//                                as for a user the file does not admit
//   TALLIX_SIM_USBTMC_UNPLUGGED  1: the instruments are unplugged
//   TALLIX_SIM_USBTMC_UNPLUG_FILE  a path: while a file is there, they are
//                                unplugged. Files open on an unplugged
//                                instrument stay dead after it comes back.
//   TALLIX_SIM_USBTMC_UNPLUG_ERRNO  what the first call on a dead file fails
//                                with (ENODEV, 19; e.g. 32 for EPIPE); later
//                                calls fail with ENODEV
//   TALLIX_SIM_USBTMC_KERNEL     the simulated driver's kernel version (6.1):
//                                before 4.20 no time-out, auto-abort or
//                                transfer attributes, and reads fill up;
//                                before 4.6 no status byte either
//   TALLIX_SIM_USBTMC_TRACE      a file to which one line per call is
//                                appended, e.g. "open /dev/usbtmc0",
//                                "write 7 *IDN?", "read 262144 -> 31 eom",
//                                "ioctl SET_TIMEOUT"

#undef _FORTIFY_SOURCE

#include "sim/usbtmc/FakeSysfs.h"
#include "sim/usbtmc/SimUsbtmcDriver.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

using tallixsim::FakeSysfs;
using tallixsim::SimUsbtmcDriver;

namespace {

using OpenFn = int (*)(const char *, int, ...);
using OpenatFn = int (*)(int, const char *, int, ...);

template <typename Fn> Fn Next(const char *name)
{
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

// The number N of "/dev/usbtmcN", or -1 for any other path.
int DeviceIndex(const char *path)
{
    static constexpr const char PREFIX[] = "/dev/usbtmc";
    if (!path || std::strncmp(path, PREFIX, sizeof PREFIX - 1) != 0)
        return -1;
    const char *digits = path + sizeof PREFIX - 1;
    if (*digits == '\0')
        return -1;
    int index = 0;
    for (const char *c = digits; *c; ++c) {
        if (*c < '0' || *c > '9' || index > 1000)
            return -1;
        index = index * 10 + (*c - '0');
    }
    return index;
}

bool TakesMode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

// A device file of ours: a descriptor of the null device that the driver
// answers for, so that the process has a real file to hold and close.
int OpenDevice(int index, int flags)
{
    SimUsbtmcDriver &driver = SimUsbtmcDriver::Instance();
    if (const int code = driver.CheckOpen(index)) {
        errno = code;
        return -1;
    }
    static const auto real = Next<OpenFn>("open");
    const int fd = real("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd >= 0)
        driver.Adopt(fd, index);
    return fd;
}

// What `path` stands for: a device file (index >= 0), the fake sysfs tree
// (`mapped` set), or the path itself. False with errno when it cannot be
// mapped.
bool Resolve(const char *path, int &index, std::string &mapped, bool &isMapped)
{
    index = DeviceIndex(path);
    isMapped = false;
    if (index >= 0 || !FakeSysfs::Covers(path))
        return true;
    isMapped = true;
    return FakeSysfs::Map(path, SimUsbtmcDriver::Instance().Plugged(), mapped);
}

// A descriptor number that the process got for another file can no longer
// be one of ours (it was closed by a call we do not see).
int Fresh(int fd)
{
    if (fd >= 0)
        SimUsbtmcDriver::Instance().Forget(fd);
    return fd;
}

int OpenWith(const char *realName, const char *path, int flags, mode_t mode)
{
    static const auto realOpen = Next<OpenFn>("open");
    static const auto realOpen64 = Next<OpenFn>("open64");
    const OpenFn real = std::strcmp(realName, "open64") == 0 ? realOpen64 : realOpen;
    int index;
    std::string mapped;
    bool isMapped;
    if (!Resolve(path, index, mapped, isMapped))
        return -1;
    if (index >= 0)
        return OpenDevice(index, flags);
    return Fresh(real(isMapped ? mapped.c_str() : path, flags, mode));
}

int OpenatWith(const char *realName, int dirfd, const char *path, int flags, mode_t mode)
{
    static const auto realOpenat = Next<OpenatFn>("openat");
    static const auto realOpenat64 = Next<OpenatFn>("openat64");
    const OpenatFn real = std::strcmp(realName, "openat64") == 0 ? realOpenat64 : realOpenat;
    int index;
    std::string mapped;
    bool isMapped;
    if (!Resolve(path, index, mapped, isMapped))
        return -1;
    if (index >= 0)
        return OpenDevice(index, flags);
    return Fresh(real(dirfd, isMapped ? mapped.c_str() : path, flags, mode));
}

} // namespace

SIM_EXPORT int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (TakesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return OpenWith("open", path, flags, mode);
}

SIM_EXPORT int open64(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (TakesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return OpenWith("open64", path, flags, mode);
}

// What a build with _FORTIFY_SOURCE calls for an open without a mode.
SIM_EXPORT int __open_2(const char *path, int flags)
{
    return OpenWith("open", path, flags, 0);
}

SIM_EXPORT int __open64_2(const char *path, int flags)
{
    return OpenWith("open64", path, flags, 0);
}

SIM_EXPORT int openat(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (TakesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return OpenatWith("openat", dirfd, path, flags, mode);
}

SIM_EXPORT int openat64(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (TakesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return OpenatWith("openat64", dirfd, path, flags, mode);
}

SIM_EXPORT int __openat_2(int dirfd, const char *path, int flags)
{
    return OpenatWith("openat", dirfd, path, flags, 0);
}

SIM_EXPORT int __openat64_2(int dirfd, const char *path, int flags)
{
    return OpenatWith("openat64", dirfd, path, flags, 0);
}

SIM_EXPORT DIR *opendir(const char *path)
{
    static const auto real = Next<DIR *(*)(const char *)>("opendir");
    int index;
    std::string mapped;
    bool isMapped;
    if (!Resolve(path, index, mapped, isMapped))
        return nullptr;
    if (index >= 0) {
        errno = ENOTDIR;
        return nullptr;
    }
    return real(isMapped ? mapped.c_str() : path);
}

SIM_EXPORT ssize_t read(int fd, void *buffer, size_t count)
{
    static const auto real = Next<ssize_t (*)(int, void *, size_t)>("read");
    SimUsbtmcDriver &driver = SimUsbtmcDriver::Instance();
    if (driver.Owns(fd))
        return driver.Read(fd, buffer, count);
    return real(fd, buffer, count);
}

SIM_EXPORT ssize_t __read_chk(int fd, void *buffer, size_t count, size_t size)
{
    static const auto real = Next<ssize_t (*)(int, void *, size_t, size_t)>("__read_chk");
    SimUsbtmcDriver &driver = SimUsbtmcDriver::Instance();
    if (driver.Owns(fd))
        return driver.Read(fd, buffer, count < size ? count : size);
    return real(fd, buffer, count, size);
}

SIM_EXPORT ssize_t write(int fd, const void *buffer, size_t count)
{
    static const auto real = Next<ssize_t (*)(int, const void *, size_t)>("write");
    SimUsbtmcDriver &driver = SimUsbtmcDriver::Instance();
    if (driver.Owns(fd))
        return driver.Write(fd, buffer, count);
    return real(fd, buffer, count);
}

SIM_EXPORT int ioctl(int fd, unsigned long request, ...) __THROW
{
    static const auto real = Next<int (*)(int, unsigned long, ...)>("ioctl");
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    SimUsbtmcDriver &driver = SimUsbtmcDriver::Instance();
    if (driver.Owns(fd))
        return driver.Ioctl(fd, request, argument);
    return real(fd, request, argument);
}

SIM_EXPORT int close(int fd)
{
    static const auto real = Next<int (*)(int)>("close");
    SimUsbtmcDriver::Instance().Forget(fd);
    return real(fd);
}
