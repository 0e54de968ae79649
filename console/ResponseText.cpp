// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/ResponseText.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

QString ResponseDisplayText(const QByteArray &bytes)
{
    // A byte-order mark is a character of the response like any other.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}
