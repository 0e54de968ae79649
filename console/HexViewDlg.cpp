// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/HexViewDlg.h"

#include "work/HexModel.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

CHexViewDlg::CHexViewDlg(const QByteArray &bytes, const QString &title, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("HexView"));
    setWindowTitle(title);
    m_model = new CHexModel(bytes, this);
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("HexTable"));
    m_view->setAccessibleName(QStringLiteral("Bytes"));
    m_view->setModel(m_model);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setWordWrap(false);
    m_view->setShowGrid(false);
    m_view->verticalHeader()->hide();
    // Rows of one height, and columns sized from the font, not from the
    // rows: a view of a million rows must not measure them.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
    const int digit = m_view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->setColumnWidth(CHexModel::OffsetColumn, digit * 10);
    m_view->setColumnWidth(CHexModel::HexColumn, digit * (CHexModel::BYTES_PER_ROW * 3 + 1));
    m_view->horizontalHeader()->setStretchLastSection(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addWidget(buttons);
    resize(digit * (CHexModel::BYTES_PER_ROW * 4 + 16), 420);
}
