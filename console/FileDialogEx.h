// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFileDialog>

class QCheckBox;
struct COpenFileChoice;

// The open-file dialog with the added check box "Log responses". Qt's own
// dialog, never the desktop's, because only that one can carry the box.
class CFileDialogEx : public QFileDialog
{
public:
    // `defaultExtension` as the callers name it ("*.txt"); a name typed
    // without any suffix gets it, unless a file of that very name exists.
    CFileDialogEx(bool openMode, const QString &defaultExtension, QWidget *parent = nullptr);

    // Whether "Log responses" was ticked when the dialog last closed.
    bool m_logResponses = false;

    QCheckBox *LogResponsesCheck() const { return m_logResponsesCheck; }

    // "*.txt" and ".txt" name the suffix "txt": the pattern form would make
    // Qt append ".*.txt" to a typed "cmds".
    static QString SuffixOf(const QString &defaultExtension);

    // What was chosen at the last accept, the default suffix applied.
    QStringList ChosenFiles() const { return m_chosenFiles; }

    void setVisible(bool visible) override;
    void done(int result) override;
    void accept() override;

private:
    QCheckBox *m_logResponsesCheck = nullptr;
    QStringList m_chosenFiles;
};

// The open dialog of Open File. Not accepted when cancelled.
COpenFileChoice RunOpenFileDialog(QWidget *parent);
// The save dialog for the log, with `title` (formatted by the caller). An
// existing file is chosen without a question: the log is appended to. Returns
// the full path, or an empty text when cancelled.
QString RunSaveFileDialog(QWidget *parent, const QString &title);
