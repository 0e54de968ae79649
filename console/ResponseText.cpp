// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/ResponseText.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

namespace {

// The response as UTF-8 when it is that, else nothing (`valid` false).
QString DecodeUtf8(const QByteArray &bytes, bool *valid)
{
    // A byte-order mark is a character of the response like any other.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    *valid = !utf8.hasError();
    return text;
}

void AppendHex(QString &out, unsigned byte)
{
    static const char digits[] = "0123456789ABCDEF";
    out += QLatin1String("\\x");
    out += QLatin1Char(digits[byte >> 4]);
    out += QLatin1Char(digits[byte & 0xF]);
}

} // namespace

QString ResponseDisplayText(const QByteArray &bytes, bool showControlCharacters)
{
    bool utf8 = false;
    const QString decoded = DecodeUtf8(bytes, &utf8);
    if (!showControlCharacters)
        return utf8 ? decoded : QString::fromLatin1(bytes);

    QString out;
    out.reserve(bytes.size() * 2);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        switch (byte) {
        case '\r':
            out += QLatin1String("\\r");
            continue;
        case '\n':
            out += QLatin1String("\\n\n");
            continue;
        case '\t':
            out += QLatin1String("\\t");
            continue;
        case '\\':
            out += QLatin1String("\\\\");
            continue;
        default:
            break;
        }
        if (byte < 0x20 || byte == 0x7F) {
            AppendHex(out, byte);
        } else if (byte < 0x80) {
            out += QLatin1Char(static_cast<char>(byte));
        } else if (!utf8) {
            AppendHex(out, byte);
        } else {
            // A whole UTF-8 sequence: its lead byte tells how long it is.
            const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            out += QString::fromUtf8(bytes.constData() + i, length);
            i += length - 1;
        }
    }
    return out;
}
