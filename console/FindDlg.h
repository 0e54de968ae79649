// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "work/InstrumentSearch.h"

#include <QDialog>

#include <cstdint>
#include <memory>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;

// Find...: the instruments that can be found now, each with its resource
// string and its "*IDN?" reply, the list filling in as answers come, at most
// CInstrumentSearch::MAX_LISTED of them and a last line that counts the
// rest. OK or a double-click takes the chosen one; Cancel stops the search.
// None of them waits for the search's threads.
class CFindDlg : public QDialog
{
    Q_OBJECT

public:
    // `parts`: what the search is made of (tests put fakes there).
    explicit CFindDlg(const CLinkOptions &options, QWidget *parent = nullptr, CSearchParts parts = {});
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
    void SetMore(std::int64_t more);
    void AddNote(const QString &line);
    void SearchFinished();
    QTreeWidgetItem *Row(const QString &resource) const;

    CLinkOptions m_options;
    CSearchParts m_parts;
    std::unique_ptr<CInstrumentSearch> m_search;
    QTreeWidget *m_list = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_state = nullptr;
    QCheckBox *m_askSerialPorts = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
    QString m_chosen;
    QTreeWidgetItem *m_more = nullptr;
    int m_instruments = 0;
    int m_asked = 0;
    int m_answered = 0;
    // Which search the queued news is of: a stopped search still tells it
    // has finished, and may have found something before it was stopped.
    int m_generation = 0;
};
