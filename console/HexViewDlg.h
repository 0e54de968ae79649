// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class CHexModel;
class QTableView;

// The bytes of one transcript entry: offset, hex and characters, sixteen
// bytes a row, however long the reply.
class CHexViewDlg : public QDialog
{
    Q_OBJECT

public:
    CHexViewDlg(const QByteArray &bytes, const QString &title, QWidget *parent = nullptr);

    QTableView *View() const { return m_view; }
    CHexModel *Model() const { return m_model; }

private:
    CHexModel *m_model = nullptr;
    QTableView *m_view = nullptr;
};
