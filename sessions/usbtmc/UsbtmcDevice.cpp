// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/usbtmc/UsbtmcDevice.h"

#include "sessions/usbtmc/UsbtmcKind.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char *CLASS_DIR = "/sys/class/usbmisc";
constexpr const char *PREFIX = "usbtmc";

// One attribute file, without its line end; empty when it is missing (a
// device without a serial number has no "serial").
QString ReadAttribute(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString();
    char text[512];
    std::size_t size = 0;
    while (size < sizeof text) {
        const ssize_t got = ::read(fd, text + size, sizeof text - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return QString::fromUtf8(text, static_cast<qsizetype>(size)).trimmed();
}

// sysfs writes ids and interface numbers in hex without 0x: "1ab1", "00".
bool ParseHex(const QString &text, int &value)
{
    bool ok = false;
    value = text.toInt(&ok, 16);
    return ok;
}

int NumberOf(const QString &name)
{
    return name.mid(static_cast<qsizetype>(std::strlen(PREFIX))).toInt();
}

} // namespace

QString CUsbtmcDevice::ResourceString() const
{
    CResource resource;
    resource.interfaceName = QStringLiteral("USB");
    resource.vendor = vendor;
    resource.product = product;
    resource.serial = serial;
    // The first interface goes without saying.
    resource.usbInterface = interfaceNumber != 0 ? interfaceNumber : -1;
    return UsbtmcCanonical(resource);
}

QString CUsbtmcDevice::Description() const
{
    const QString says = (manufacturer + QLatin1Char(' ') + productName).trimmed();
    if (says.isEmpty())
        return node;
    return QStringLiteral("%1 (%2)").arg(says, node);
}

std::vector<CUsbtmcDevice> CUsbtmcDevice::List()
{
    std::vector<CUsbtmcDevice> devices;
    DIR *dir = ::opendir(CLASS_DIR);
    if (!dir)
        return devices;
    std::vector<QString> names;
    // The class also holds other USB drivers' devices (hiddev, lp ...).
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, PREFIX, std::strlen(PREFIX)) == 0)
            names.push_back(QString::fromLocal8Bit(entry->d_name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return NumberOf(a) < NumberOf(b); });

    for (const QString &name : names) {
        const QByteArray base = QByteArray(CLASS_DIR) + '/' + name.toLocal8Bit();
        // "device" is the interface; its parent, the USB device.
        const QByteArray interface = base + "/device/";
        const QByteArray usb = base + "/device/../";
        CUsbtmcDevice device;
        device.name = name;
        device.node = QStringLiteral("/dev/") + name;
        int vendor = 0, product = 0, number = 0;
        if (!ParseHex(ReadAttribute(usb + "idVendor"), vendor) ||
            !ParseHex(ReadAttribute(usb + "idProduct"), product))
            continue; // gone while we looked
        device.vendor = static_cast<std::uint16_t>(vendor);
        device.product = static_cast<std::uint16_t>(product);
        if (ParseHex(ReadAttribute(interface + "bInterfaceNumber"), number))
            device.interfaceNumber = number;
        device.serial = ReadAttribute(usb + "serial");
        device.manufacturer = ReadAttribute(usb + "manufacturer");
        device.productName = ReadAttribute(usb + "product");
        devices.push_back(device);
    }
    return devices;
}

bool CUsbtmcDevice::Find(const CResource &resource, const QString &name, QString &node, QString &error)
{
    const std::vector<CUsbtmcDevice> devices = List();
    const CUsbtmcDevice *chosen = nullptr;
    for (const CUsbtmcDevice &device : devices) {
        if (device.vendor != resource.vendor || device.product != resource.product ||
            device.serial != resource.serial)
            continue;
        if (resource.usbInterface >= 0 && device.interfaceNumber != resource.usbInterface)
            continue;
        // Without an interface number, the instrument's first USBTMC
        // interface.
        if (!chosen || device.interfaceNumber < chosen->interfaceNumber)
            chosen = &device;
    }
    if (chosen) {
        node = chosen->node;
        return true;
    }
    if (devices.empty()) {
        error = QStringLiteral(
                    "No USB instrument matches %1: the kernel's usbtmc driver serves none (there is no "
                    "usbtmc device in /sys/class/usbmisc). Check that the instrument is plugged in and "
                    "switched on, and that its USB port is set to USBTMC rather than to a disk or a "
                    "serial port.")
                    .arg(name);
        return false;
    }
    QStringList found;
    for (const CUsbtmcDevice &device : devices)
        found << QStringLiteral("%1 (%2)").arg(device.ResourceString(), device.Description());
    error =
        QStringLiteral("No USB instrument matches %1. Connected: %2. Open one of these, or check the vendor "
                       "and product ids and the serial number.")
            .arg(name, found.join(QStringLiteral("; ")));
    return false;
}
