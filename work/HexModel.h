// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QByteArray>

#include <utility>

// Bytes as a hex view shows them, sixteen a row: the offset, the bytes in
// hex, and the characters (a dot for each byte that is not printable ASCII).
// Rows are made as they are shown, so that a reply of many megabytes costs
// nothing until it is looked at.
class CHexModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int BYTES_PER_ROW = 16;
    enum Column
    {
        OffsetColumn,
        HexColumn,
        CharactersColumn,
    };

    explicit CHexModel(QByteArray bytes, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // One row as a line of text: "00000010  2a 49 44 4e 3f 0d 0a  *IDN?..".
    QString RowText(int row) const;
    const QByteArray &Bytes() const { return m_bytes; }

private:
    QString OffsetText(int row) const;
    QString HexText(int row) const;
    QString CharactersText(int row) const;

    QByteArray m_bytes;
};
