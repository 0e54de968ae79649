// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/serial/SerialFinder.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <QSet>

namespace {

// The by-id names of the connected USB serial ports, by the device file each
// points at.
QHash<QString, QString> StableNames()
{
    QHash<QString, QString> names;
    const QDir folder(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : folder.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        names.insert(link.canonicalFilePath(), link.absoluteFilePath());
    return names;
}

QString Describe(const QSerialPortInfo &port, const QString &stableName)
{
    QStringList parts;
    QString what = port.manufacturer();
    if (!port.description().isEmpty() && !what.contains(port.description()))
        what += (what.isEmpty() ? QString() : QStringLiteral(" ")) + port.description();
    if (!what.isEmpty())
        parts << what;
    if (port.hasVendorIdentifier() && port.hasProductIdentifier())
        parts << QStringLiteral("USB %1:%2")
                     .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                     .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'));
    if (!port.serialNumber().isEmpty())
        parts << QStringLiteral("serial number %1").arg(port.serialNumber());
    if (!stableName.isEmpty())
        parts << stableName;
    if (parts.isEmpty())
        parts << QStringLiteral("serial port");
    return parts.join(QStringLiteral(", "));
}

} // namespace

std::unique_ptr<CFinder> CSerialFinder::Make()
{
    return std::make_unique<CSerialFinder>();
}

QString CSerialFinder::Name() const
{
    return QStringLiteral("serial ports");
}

void CSerialFinder::Find(const std::function<void(const CFoundResource &)> &found,
                         const std::atomic<bool> &cancelled)
{
    if (cancelled)
        return;
    const QHash<QString, QString> stable = StableNames();
    QSet<QString> listed;
    const auto report = [&](const QString &location, const QString &description) {
        if (listed.contains(location))
            return;
        listed.insert(location);
        found(CFoundResource{QStringLiteral("ASRL%1::INSTR").arg(location), description, false});
    };
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
        if (cancelled)
            return;
        const QString location = port.systemLocation();
        report(location, Describe(port, stable.value(QFileInfo(location).canonicalFilePath())));
    }
    const QStringList extra =
        qEnvironmentVariable("TALLIX_SERIAL_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : extra) {
        if (cancelled)
            return;
        const QFileInfo info(path);
        if (!info.exists())
            continue;
        const QString target = info.canonicalFilePath();
        report(info.absoluteFilePath(),
               target == info.absoluteFilePath()
                   ? QStringLiteral("serial port named in TALLIX_SERIAL_PORTS")
                   : QStringLiteral("serial port named in TALLIX_SERIAL_PORTS, %1").arg(target));
    }
}
