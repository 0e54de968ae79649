// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/HexModel.h"

#include <algorithm>

CHexModel::CHexModel(QByteArray bytes, QObject *parent)
    : QAbstractTableModel(parent), m_bytes(std::move(bytes))
{
}

int CHexModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    // A view holds at most INT_MAX rows: 32 GiB, beyond any reply kept.
    return static_cast<int>((m_bytes.size() + BYTES_PER_ROW - 1) / BYTES_PER_ROW);
}

int CHexModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QString CHexModel::OffsetText(int row) const
{
    return QStringLiteral("%1").arg(static_cast<qulonglong>(row) * BYTES_PER_ROW, 8, 16, QLatin1Char('0'));
}

QString CHexModel::HexText(int row) const
{
    static const char digits[] = "0123456789abcdef";
    const qsizetype start = static_cast<qsizetype>(row) * BYTES_PER_ROW;
    const qsizetype end = std::min<qsizetype>(start + BYTES_PER_ROW, m_bytes.size());
    QString text;
    text.reserve(BYTES_PER_ROW * 3);
    for (qsizetype i = start; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(m_bytes[i]);
        if (i > start)
            text += u' ';
        text += QLatin1Char(digits[byte >> 4]);
        text += QLatin1Char(digits[byte & 0xF]);
    }
    return text;
}

QString CHexModel::CharactersText(int row) const
{
    const qsizetype start = static_cast<qsizetype>(row) * BYTES_PER_ROW;
    const qsizetype end = std::min<qsizetype>(start + BYTES_PER_ROW, m_bytes.size());
    QString text;
    for (qsizetype i = start; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(m_bytes[i]);
        text += byte >= 0x20 && byte < 0x7F ? QLatin1Char(static_cast<char>(byte)) : QLatin1Char('.');
    }
    return text;
}

QString CHexModel::RowText(int row) const
{
    return OffsetText(row) + QStringLiteral("  ") + HexText(row).leftJustified(BYTES_PER_ROW * 3 - 1, u' ') +
           QStringLiteral("  ") + CharactersText(row);
}

QVariant CHexModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return QVariant();
    switch (index.column()) {
    case OffsetColumn:
        return OffsetText(index.row());
    case HexColumn:
        return HexText(index.row());
    case CharactersColumn:
        return CharactersText(index.row());
    default:
        return QVariant();
    }
}

QVariant CHexModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case OffsetColumn:
        return QStringLiteral("Offset");
    case HexColumn:
        return QStringLiteral("Bytes");
    case CharactersColumn:
        return QStringLiteral("Characters");
    default:
        return QVariant();
    }
}
