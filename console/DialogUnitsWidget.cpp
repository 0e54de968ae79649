// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/DialogUnitsWidget.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>

#include <cmath>

CDialogUnits::CDialogUnits(const QFont &font)
{
    const QFontMetricsF metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = metrics.horizontalAdvance(letters) / 52.0;
    m_baseY = metrics.height();
}

int CDialogUnits::X(int units) const
{
    return static_cast<int>(std::lround(units * m_baseX / 4.0));
}

int CDialogUnits::Y(int units) const
{
    return static_cast<int>(std::lround(units * m_baseY / 8.0));
}

QRect CDialogUnits::Rect(int x, int y, int width, int height) const
{
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize CDialogUnits::Size(int width, int height) const
{
    return QSize(X(width), Y(height));
}

void CDialogUnits::FitText(QWidget *control)
{
    const int needed = control->sizeHint().width();
    if (needed > control->width())
        control->resize(needed, control->height());
}
