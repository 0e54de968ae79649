// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QSize>

class QFont;
class QWidget;

// Converts dialog units to pixels from the dialog font's base units, as dialog
// templates are measured: horizontally a quarter of the average width of the
// 52 letters, vertically an eighth of the font's height.
class CDialogUnits
{
public:
    explicit CDialogUnits(const QFont &font);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

    // Widens a control whose text does not fit its place; it keeps its
    // position.
    static void FitText(QWidget *control);

    double BaseX() const { return m_baseX; }
    double BaseY() const { return m_baseY; }

private:
    double m_baseX;
    double m_baseY;
};
