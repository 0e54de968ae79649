// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "console/InstrumentSearch.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;

// Find...: the instruments that can be found now, each with its resource
// string and its "*IDN?" reply, the list filling in as answers come. OK or a
// double-click takes the chosen one; Cancel stops the search.
class CFindDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CFindDlg(const CLinkOptions &options, QWidget *parent = nullptr);
    ~CFindDlg() override;

    // The resource of the chosen row, once the dialog was accepted.
    QString ChosenResource() const { return m_chosen; }

    // Columns of the list.
    enum Column
    {
        RESOURCE,
        IDENTITY,
        DESCRIPTION,
    };

    void accept() override;
    void reject() override;

private:
    void StartSearch();
    void StopSearch();
    void AddFound(const CFoundResource &resource);
    void SetIdentity(const QString &resource, const QString &identity);
    void SearchFinished();
    QTreeWidgetItem *Row(const QString &resource) const;

    CLinkOptions m_options;
    std::unique_ptr<CInstrumentSearch> m_search;
    QTreeWidget *m_list = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_state = nullptr;
    QCheckBox *m_askSerialPorts = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
    QString m_chosen;
    int m_asked = 0;
    int m_answered = 0;
    // Which search the queued news is of: a stopped search still tells it
    // has finished, and may have found something before it was stopped.
    int m_generation = 0;
};
