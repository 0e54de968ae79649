// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/FileDialogEx.h"

#include "cmdfile/CommandFiles.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>

namespace {

constexpr int LOG_RESPONSES_ID = 1026;
const char *const DEFAULT_EXTENSION = "*.txt";

// What both dialogs share: Qt's own dialog, any name taken (a command file
// that is not there is the window's to report, "Could not open file"), the
// suffix for a name typed without one, and a size that shows the size and
// date columns whole.
void SetUpDialog(QFileDialog *dialog, QFileDialog::AcceptMode mode, const QString &defaultExtension)
{
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(CFileDialogEx::SuffixOf(defaultExtension));
    dialog->resize(dialog->size().expandedTo(QSize(760, 460)));
}

} // namespace

CFileDialogEx::CFileDialogEx(bool openMode, const QString &defaultExtension, QWidget *parent)
    : QFileDialog(parent)
{
    SetUpDialog(this, openMode ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave, defaultExtension);

    m_logResponsesCheck = new QCheckBox(QStringLiteral("Log responses"), this);
    m_logResponsesCheck->setObjectName(QStringLiteral("IDC_LOG_RESPONSES"));
    m_logResponsesCheck->setProperty("controlId", LOG_RESPONSES_ID);
    // Below the file type box, where the dialog keeps its choices about the
    // file; the grid is Qt's own layout of the dialog.
    if (auto *grid = qobject_cast<QGridLayout *>(layout()))
        grid->addWidget(m_logResponsesCheck, grid->rowCount(), 1);
}

QString CFileDialogEx::SuffixOf(const QString &defaultExtension)
{
    QString suffix = defaultExtension;
    if (suffix.startsWith(u'*'))
        suffix.remove(0, 1);
    if (suffix.startsWith(u'.'))
        suffix.remove(0, 1);
    return suffix;
}

void CFileDialogEx::setVisible(bool visible)
{
    if (visible)
        m_logResponsesCheck->setChecked(false);
    QFileDialog::setVisible(visible);
}

void CFileDialogEx::accept()
{
    // Qt adds the default suffix to any name typed without one, and selects
    // that file as the name is typed: a typed "cmds" would open "cmds.txt"
    // even where "cmds" itself is there. A name that is a file as typed is
    // that file.
    const auto *edit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    const QString typed = edit ? edit->text() : QString();
    if (!typed.isEmpty() && !typed.contains(u'"')) {
        const QString asTyped = directory().absoluteFilePath(typed);
        if (QFileInfo(asTyped).isFile()) {
            m_chosenFiles = QStringList{asTyped};
            QDialog::accept();
            return;
        }
    }
    m_chosenFiles = selectedFiles();
    QFileDialog::accept();
}

void CFileDialogEx::done(int result)
{
    // Kept past the dialog's end, cancelled or not: the caller reads it after.
    m_logResponses = m_logResponsesCheck->isChecked();
    QFileDialog::done(result);
}

COpenFileChoice RunOpenFileDialog(QWidget *parent)
{
    COpenFileChoice choice;
    CFileDialogEx dialog(true, QString::fromLatin1(DEFAULT_EXTENSION), parent);
    dialog.setWindowTitle(QStringLiteral("Open"));
    if (dialog.exec() != QDialog::Accepted || dialog.ChosenFiles().isEmpty())
        return choice;
    choice.accepted = true;
    choice.path = QFileInfo(dialog.ChosenFiles().constFirst()).absoluteFilePath();
    choice.name = QFileInfo(choice.path).fileName();
    choice.logResponses = dialog.m_logResponses;
    return choice;
}

QString RunSaveFileDialog(QWidget *parent, const QString &title)
{
    QFileDialog dialog(parent, title);
    SetUpDialog(&dialog, QFileDialog::AcceptSave, QString::fromLatin1(DEFAULT_EXTENSION));
    // The log is appended to, so choosing an existing file needs no warning.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
}
