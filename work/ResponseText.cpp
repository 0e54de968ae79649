// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/ResponseText.h"

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

namespace {

struct Magic
{
    const char *bytes;
    qsizetype size;
    const char *kind;
    const char *suffix;
};

constexpr Magic MAGICS[] = {
    {"\x89PNG\r\n\x1a\n", 8, "PNG image", "png"},
    {"\xff\xd8\xff", 3, "JPEG image", "jpg"},
    {"GIF87a", 6, "GIF image", "gif"},
    {"GIF89a", 6, "GIF image", "gif"},
    {"II*\0", 4, "TIFF image", "tif"},
    {"MM\0*", 4, "TIFF image", "tif"},
    {"BM", 2, "BMP image", "bmp"},
};

const Magic *FindMagic(QByteArrayView payload)
{
    for (const Magic &m : MAGICS)
        if (payload.size() >= m.size && payload.startsWith(QByteArrayView(m.bytes, m.size)))
            return &m;
    return nullptr;
}

} // namespace

QString PayloadKind(QByteArrayView payload)
{
    const Magic *m = FindMagic(payload);
    return m ? QString::fromLatin1(m->kind) : QStringLiteral("data");
}

QString PayloadSuffix(QByteArrayView payload)
{
    const Magic *m = FindMagic(payload);
    return m ? QString::fromLatin1(m->suffix) : QStringLiteral("bin");
}

bool IsText(const QByteArray &bytes)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t' && byte != '\r' && byte != '\n') || byte == 0x7F)
            return false;
    }
    return true;
}

QString ReplyDisplayText(const CReply &reply, bool showControlCharacters)
{
    if (!reply.whole) {
        if (showControlCharacters)
            return ResponseDisplayText(reply.bytes, true);
        const qsizetype nul = reply.bytes.indexOf('\0');
        return ResponseDisplayText(nul < 0 ? reply.bytes : reply.bytes.left(nul), false);
    }
    if (showControlCharacters) {
        if (reply.bytes.size() <= MAX_SHOWN_REPLY_BYTES)
            return ResponseDisplayText(reply.bytes, true);
        return ResponseDisplayText(reply.bytes.left(MAX_SHOWN_REPLY_BYTES), true) +
               QStringLiteral("\n[the first %L1 of %L2 bytes]").arg(MAX_SHOWN_REPLY_BYTES).arg(reply.total);
    }
    if (reply.block)
        return QStringLiteral("Block of %L1 bytes (%2)")
            .arg(reply.payloadLength)
            .arg(PayloadKind(reply.PayloadView()));
    const bool text = IsText(reply.bytes);
    if (reply.total > MAX_SHOWN_REPLY_BYTES || !text) {
        const QString kind = text ? QStringLiteral("text") : PayloadKind(reply.bytes);
        return QStringLiteral("Reply of %L1 bytes (%2)").arg(reply.total).arg(kind);
    }
    return ResponseDisplayText(reply.bytes, false);
}
