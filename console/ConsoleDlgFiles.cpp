// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of the command files: asking the user, and the controls
// that show whether a file is selected. CCommandFiles does the work.
#include "console/ConsoleDlg.h"

#include "timing/Delay.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

void CConsoleDlg::CloseCommandFiles()
{
    m_files.CloseCommandFiles();
}

// The controls of the states No file (false) and File open (true). Send and the
// Read box are left alone on the way in: every way into No file enabled them.
void CConsoleDlg::SetFileControls(bool fileSelected)
{
    EnableControl(m_sendFileButton, fileSelected);
    m_openFile->setText(fileSelected ? QStringLiteral("Close File") : QStringLiteral("Open File"));
    EnableControl(m_commandCombo, !fileSelected);
    if (!fileSelected) {
        EnableControl(m_send, true);
        EnableControl(m_readAfterSend, true);
        setWindowTitle(QStringLiteral("Tallix"));
        m_commandCombo->setEditText(QString());
    }
}

void CConsoleDlg::OnOpenFile()
{
    // Send File is enabled exactly while a file is selected: then this button
    // is Close File.
    if (m_sendFileButton->isEnabled()) {
        CloseCommandFiles();
        m_inputPath->clear();
        m_outputPath->clear();
        m_files.SetCommandFilePath(QString());
        m_files.SetLogFilePath(QString());
        SetFileControls(false);
        return;
    }

    const COpenFileChoice choice = m_prompts.askOpenFile ? m_prompts.askOpenFile() : COpenFileChoice();
    if (!choice.accepted)
        return;
    m_response->clear();

    QByteArray line;
    if (m_files.OpenCommandFile(choice.path, line) == 0)
        return;

    m_files.SetLogFilePath(QString());
    if (choice.logResponses) {
        const QString title = QStringLiteral("Save/Append responses to \"%1\"").arg(choice.name);
        const QString logPath = m_prompts.askSaveFile ? m_prompts.askSaveFile(title) : QString();
        if (!logPath.isEmpty() && m_files.OpenLogFile(logPath))
            m_outputPath->setText(logPath);
    }

    m_commandCombo->setEditText(QString::fromLatin1(line));
    m_files.SetCommandFilePath(choice.path);
    SetFileControls(true);
    m_inputPath->setText(choice.path);
    setWindowTitle(QStringLiteral("Tallix [%1]").arg(choice.name));
}

void CConsoleDlg::StepCommandFile(char *buffer)
{
    QByteArray line;
    if (m_files.StepToNextLine(line, buffer)) {
        m_commandCombo->setEditText(QString::fromLatin1(line));
        return;
    }
    // Used up: the last line sent stays in the box; Send File runs the file
    // again from its start.
    EnableControl(m_send, false);
    EnableControl(m_readAfterSend, false);
}

void CConsoleDlg::OnSendFile()
{
    // The run goes on with the delay of the last exchange that worked.
    if (!UpdateData(true))
        m_hooks.Message(QStringLiteral("Couldn't read delay number."));

    CWaitScope wait(m_hooks);
    if (ConnectLinks() == 0)
        return;
    const bool usedUp = m_files.RunBatch([this](const char *line) { return SendBatchLine(line); },
                                         [](std::uint32_t us) { DelayMicroseconds(us); });
    if (usedUp) {
        EnableControl(m_send, false);
        EnableControl(m_readAfterSend, false);
    }
}
