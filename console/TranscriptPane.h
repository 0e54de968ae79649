// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "work/TranscriptExport.h"

#include <QWidget>

#include <functional>

class CTranscript;
class CTranscriptDelegate;
class CTranscriptModel;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;

// The transcript beside the window's controls: the entries, newest last,
// with Find, a filter, Clear and Save As, and each entry's own actions.
class CTranscriptPane : public QWidget
{
    Q_OBJECT

public:
    // What the pane asks of the window, which owns the link and the boxes.
    struct CActions
    {
        // Send Again: a command's line, as it went; false while the window
        // is busy with other work (the pane then offers it disabled).
        std::function<void(const QByteArray &line)> sendAgain;
        std::function<void(const QString &command)> copyToCommandBox;
        std::function<bool()> busy;
        std::function<CTranscriptSaveChoice()> askSaveTranscript;
        // Save Bytes As: the entry's reply, as Save Reply As saves it.
        std::function<void(const CReply &reply)> saveBytes;
        std::function<void(const QByteArray &bytes, const QString &title)> showHex;
        std::function<void(const QString &text)> message;
    };

    CTranscriptPane(CTranscript &transcript, CActions actions, QWidget *parent = nullptr);
    ~CTranscriptPane() override;

    QListView *List() const { return m_list; }
    CTranscriptModel &Model() const { return *m_model; }
    QLineEdit *FindBox() const { return m_findText; }
    QComboBox *FilterBox() const { return m_filter; }
    QPushButton *NewButton() const { return m_newButton; }
    QLabel *DroppedLabel() const { return m_dropped; }

    // The entry's actions, on the row of the list.
    void ShowHex(int row);
    void CopyEntry(int row);
    void SaveBytes(int row);
    void SendAgain(int row);
    void CopyToCommandBox(int row);
    // The whole transcript's.
    void FindNext(bool forward);
    void Clear();
    void SaveAs();
    // Back to the newest entry, which the list follows again.
    void JumpToNewest();
    // The entries that came while the user looked further up.
    int NewCount() const { return m_newCount; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void ShowContextMenu(const QPoint &at);
    void PlaceNewButton();
    void OnRowsAboutToBeInserted();
    void OnRowsInserted(int count);

    CTranscript &m_transcript;
    CActions m_actions;
    CTranscriptModel *m_model = nullptr;
    CTranscriptDelegate *m_delegate = nullptr;
    QListView *m_list = nullptr;
    QLineEdit *m_findText = nullptr;
    QPushButton *m_previous = nullptr;
    QPushButton *m_next = nullptr;
    QComboBox *m_filter = nullptr;
    QPushButton *m_clear = nullptr;
    QPushButton *m_saveAs = nullptr;
    QLabel *m_dropped = nullptr;
    QLabel *m_findResult = nullptr;
    QPushButton *m_newButton = nullptr;
    bool m_follow = true;
    int m_newCount = 0;
};
