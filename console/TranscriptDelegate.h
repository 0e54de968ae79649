// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCache>
#include <QPixmap>
#include <QStyledItemDelegate>

// Paints a transcript entry in two lines, its time, link, address and size
// over its text, with a small picture for a reply that is one. Every row has
// the same height, so that a view of many entries never measures them.
class CTranscriptDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit CTranscriptDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The thumbnail of the entry with `serial`, made once from `payload`;
    // null when the bytes are no picture Qt reads.
    QPixmap Thumbnail(qulonglong serial, const QByteArray &payload, int height) const;

private:
    mutable QCache<qulonglong, QPixmap> m_thumbnails{64};
};
