// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The resource grammar on arbitrary text (the bytes read as UTF-8, and again
// as Latin-1): a string that does not parse leaves the resource as it was and
// says so in one sentence that starts with "Resource '<the text>': "; one that
// parses has every field in its range, and its canonical spelling parses to
// the same fields and spells itself again.
#include "FuzzCheck.h"

#include "sessions/ResourceParser.h"

#include <QString>

#include <cstdint>

namespace {

CResource Sentinel()
{
    CResource r;
    r.interfaceName = QStringLiteral("USB");
    r.board = 42;
    r.serial = QStringLiteral("untouched");
    return r;
}

void CheckRanges(const CResource &r)
{
    FUZZ_CHECK(r.board >= 0 && r.board <= 999, "board %d", r.board);
    if (r.interfaceName == QLatin1String("TCPIP")) {
        FUZZ_CHECK(!r.host.isEmpty(), "a TCPIP resource without a host");
        if (r.resourceClass == ResourceClass::Socket)
            FUZZ_CHECK(r.port >= 1 && r.port <= 65535, "port %d", r.port);
        else
            FUZZ_CHECK(!r.lanDevice.isEmpty(), "an INSTR without a LAN device name");
    } else if (r.interfaceName == QLatin1String("USB")) {
        FUZZ_CHECK(!r.serial.isEmpty(), "a USB resource without a serial number");
        FUZZ_CHECK(r.usbInterface >= -1 && r.usbInterface <= 255, "USB interface %d", r.usbInterface);
    } else if (r.interfaceName == QLatin1String("ASRL")) {
        FUZZ_CHECK((r.asrlNumber >= 0) != r.devicePath.startsWith(QLatin1Char('/')), "port %d, path \"%s\"",
                   r.asrlNumber, qPrintable(r.devicePath));
    } else if (r.interfaceName == QLatin1String("GPIB")) {
        FUZZ_CHECK(r.primary >= 0 && r.primary <= 30, "primary %d", r.primary);
        FUZZ_CHECK(r.secondary >= -1 && r.secondary <= 30, "secondary %d", r.secondary);
    }
    FUZZ_CHECK(r.resourceClass == ResourceClass::Instr || r.interfaceName == QLatin1String("TCPIP"),
               "a SOCKET that is not TCPIP");
}

void Check(const QString &text)
{
    CResource resource = Sentinel();
    QString error;
    const QString trimmed = text.trimmed();
    if (!ParseResource(text, resource, error)) {
        const QString prefix = QStringLiteral("Resource '") + trimmed + QStringLiteral("': ");
        FUZZ_CHECK(error.startsWith(prefix) && error.size() > prefix.size(), "message \"%s\" for \"%s\"",
                   qPrintable(error), qPrintable(trimmed));
        FUZZ_CHECK(resource == Sentinel(), "a failed parse of \"%s\" changed the resource",
                   qPrintable(trimmed));
        return;
    }
    FUZZ_CHECK(resource.text == trimmed, "text \"%s\" for \"%s\"", qPrintable(resource.text),
               qPrintable(trimmed));
    CheckRanges(resource);

    const QString canonical = CanonicalResource(resource);
    CResource again = Sentinel();
    FUZZ_CHECK(ParseResource(canonical, again, error), "\"%s\" parsed, its canonical \"%s\" did not: %s",
               qPrintable(trimmed), qPrintable(canonical), qPrintable(error));
    FUZZ_CHECK(again.text == canonical, "canonical text \"%s\"", qPrintable(again.text));
    again.text = resource.text;
    FUZZ_CHECK(again == resource, "\"%s\" and its canonical \"%s\" differ", qPrintable(trimmed),
               qPrintable(canonical));
    FUZZ_CHECK(CanonicalResource(again) == canonical, "canonical of \"%s\" is not stable",
               qPrintable(canonical));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    const auto length = static_cast<qsizetype>(size);
    Check(QString::fromUtf8(bytes, length));
    Check(QString::fromLatin1(bytes, length));
    return 0;
}
