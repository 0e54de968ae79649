// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/TranscriptDelegate.h"

#include "work/Transcript.h"
#include "work/TranscriptModel.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

namespace {

constexpr int PADDING = 3;

} // namespace

CTranscriptDelegate::CTranscriptDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QSize CTranscriptDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex & /*index*/) const
{
    return QSize(200, 2 * option.fontMetrics.height() + 2 * PADDING);
}

QPixmap CTranscriptDelegate::Thumbnail(qulonglong serial, const QByteArray &payload, int height) const
{
    if (QPixmap *cached = m_thumbnails.object(serial))
        return *cached;
    QImage image;
    if (!image.loadFromData(payload))
        image = QImage();
    auto *made = new QPixmap(
        image.isNull() ? QPixmap()
                       : QPixmap::fromImage(image.scaledToHeight(height, Qt::SmoothTransformation)));
    const QPixmap shown = *made;
    m_thumbnails.insert(serial, made);
    return shown;
}

void CTranscriptDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    // The background, selection and focus as the style draws them; the
    // text is ours.
    opt.text.clear();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    QColor textColor = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    QColor headerColor = selected ? textColor : option.palette.color(group, QPalette::PlaceholderText);
    const auto kind = static_cast<CTranscriptEntry::Kind>(index.data(CTranscriptModel::KindRole).toInt());
    if (!selected && (kind == CTranscriptEntry::Kind::Failure || kind == CTranscriptEntry::Kind::Stop))
        textColor = QColor(0xB0, 0x20, 0x20);

    QRect area = option.rect.adjusted(PADDING, PADDING, -PADDING, -PADDING);
    const QByteArray picture = index.data(CTranscriptModel::PictureRole).toByteArray();
    if (!picture.isEmpty()) {
        const QPixmap thumb =
            Thumbnail(index.data(CTranscriptModel::SerialRole).toULongLong(), picture, area.height());
        if (!thumb.isNull()) {
            painter->drawPixmap(area.right() - thumb.width() + 1, area.top(), thumb);
            area.setRight(area.right() - thumb.width() - PADDING);
        }
    }
    const int line = option.fontMetrics.height();
    const QRect header(area.left(), area.top(), area.width(), line);
    const QRect body(area.left(), area.top() + line, area.width(), line);
    painter->save();
    painter->setPen(headerColor);
    painter->drawText(header, Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(index.data(CTranscriptModel::HeaderRole).toString(),
                                                    Qt::ElideRight, header.width()));
    painter->setPen(textColor);
    painter->drawText(
        body, Qt::AlignLeft | Qt::AlignVCenter,
        option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, body.width()));
    painter->restore();
}
