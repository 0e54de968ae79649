// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/usbtmc/FakeSysfs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include <unistd.h>

namespace tallixsim {

namespace {

constexpr const char *CLASS_DIR = "/sys/class/usbmisc";
constexpr const char *HUB = "devices/pci0000:00/0000:00:14.0/usb1";
constexpr int USBTMC_MINOR_BASE = 176;
constexpr int USB_CLASS_MAJOR = 180;

struct Trees
{
    std::mutex mutex;
    std::string root;
    pid_t owner = 0;
    std::map<std::string, std::string> byInstruments; // their keys -> the tree
};

// Never destroyed: a file may be opened while the process exits.
Trees &State()
{
    static Trees *trees = new Trees;
    return *trees;
}

void RemoveRoot()
{
    Trees &trees = State();
    if (trees.owner != ::getpid() || trees.root.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(trees.root, ignored);
}

bool WriteFile(const std::string &path, const std::string &text)
{
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

std::string Hex(unsigned value, int width)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*x\n", width, value);
    return text;
}

// One USB device with one interface that a usbmisc driver serves as `name`.
bool AddDevice(const std::string &sys, int port, int interfaceNumber, unsigned vendor, unsigned product,
               const std::string &serial, const char *maker, const char *model, const char *className,
               const std::string &name, int minor, const char *interfaceSubClass)
{
    const std::string usbName = "1-" + std::to_string(port);
    const std::string interfaceName = usbName + ":1." + std::to_string(interfaceNumber);
    const std::string usb = sys + "/" + HUB + "/" + usbName;
    const std::string interface = usb + "/" + interfaceName;
    const std::string entry = interface + "/usbmisc/" + name;
    std::error_code error;
    std::filesystem::create_directories(entry, error);
    if (error)
        return false;
    bool ok =
        WriteFile(usb + "/idVendor", Hex(vendor, 4)) && WriteFile(usb + "/idProduct", Hex(product, 4)) &&
        WriteFile(usb + "/manufacturer", std::string(maker) + "\n") &&
        WriteFile(usb + "/product", std::string(model) + "\n") &&
        WriteFile(interface + "/bInterfaceNumber", Hex(static_cast<unsigned>(interfaceNumber), 2)) &&
        WriteFile(interface + "/bInterfaceClass", std::string(className) + "\n") &&
        WriteFile(interface + "/bInterfaceSubClass", std::string(interfaceSubClass) + "\n") &&
        WriteFile(entry + "/dev", std::to_string(USB_CLASS_MAJOR) + ":" + std::to_string(minor) + "\n") &&
        WriteFile(entry + "/uevent", "MAJOR=" + std::to_string(USB_CLASS_MAJOR) +
                                         "\nMINOR=" + std::to_string(minor) + "\nDEVNAME=" + name + "\n");
    // A device without a serial number has no such attribute at all.
    if (!serial.empty())
        ok = ok && WriteFile(usb + "/serial", serial + "\n");
    ok = ok && ::symlink(("../../../" + interfaceName).c_str(), (entry + "/device").c_str()) == 0;
    const std::string target =
        "../../" + std::string(HUB) + "/" + usbName + "/" + interfaceName + "/usbmisc/" + name;
    return ok && ::symlink(target.c_str(), (sys + "/class/usbmisc/" + name).c_str()) == 0;
}

bool Build(const std::string &tree, const std::vector<UsbtmcInstrument> &plugged)
{
    const std::string sys = tree + "/sys";
    std::error_code error;
    std::filesystem::create_directories(sys + "/class/usbmisc", error);
    if (error)
        return false;
    int port = 1;
    for (std::size_t i = 0; i < plugged.size(); ++i, ++port) {
        const UsbtmcInstrument &one = plugged[i];
        if (!AddDevice(sys, port, one.interfaceNumber, one.vendor, one.product, one.serial, "Korvane",
                       "TALLIX-SIM", "fe", "usbtmc" + std::to_string(i),
                       USBTMC_MINOR_BASE + static_cast<int>(i), "03"))
            return false;
    }
    // A keyboard's HID interface beside them.
    return AddDevice(sys, 9, 0, 0x046D, 0xC31C, "", "Logitech", "USB Keyboard", "03", "hiddev0", 0, "01");
}

} // namespace

bool FakeSysfs::Covers(const char *path)
{
    const std::size_t length = std::strlen(CLASS_DIR);
    return path && std::strncmp(path, CLASS_DIR, length) == 0 &&
           (path[length] == '\0' || path[length] == '/');
}

bool FakeSysfs::Map(const char *path, const std::vector<UsbtmcInstrument> &plugged, std::string &mapped)
{
    std::string key;
    for (const UsbtmcInstrument &one : plugged)
        key += one.Key() + ";";

    Trees &trees = State();
    std::lock_guard<std::mutex> lock(trees.mutex);
    if (trees.root.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tallix-usbtmc-sim-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return false;
        trees.root = pattern;
        trees.owner = ::getpid();
        std::atexit(RemoveRoot);
    }
    auto found = trees.byInstruments.find(key);
    if (found == trees.byInstruments.end()) {
        const std::string tree = trees.root + "/" + std::to_string(trees.byInstruments.size());
        if (!Build(tree, plugged)) {
            errno = EIO;
            return false;
        }
        found = trees.byInstruments.emplace(key, tree).first;
    }
    mapped = found->second + path;
    return true;
}

} // namespace tallixsim
