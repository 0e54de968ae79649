// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's menu: its commands (Link Settings, Save Reply As, About,
// minimise and close) and where it opens.
#include "console/ConsoleDlg.h"

#include "work/ReplyFile.h"
#include "work/ResponseText.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>

void CConsoleDlg::OnSysCommand(int id, int /*param*/)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        if (m_prompts.runAboutBox)
            m_prompts.runAboutBox();
    } else if ((id & 0xFFF0) == IDM_LINKSETTINGS) {
        OnLinkSettings();
    } else if ((id & 0xFFF0) == IDM_SAVEREPLY) {
        OnSaveReply();
    } else if ((id & 0xFFF0) == IDM_TRANSCRIPT) {
        ShowTranscript(!TranscriptShown());
    } else if ((id & 0xFFF0) == SC_MINIMIZE) {
        showMinimized();
    } else if ((id & 0xFFF0) == SC_CLOSE) {
        close(); // ends in OnCancel
    }
}

void CConsoleDlg::OnLinkSettings()
{
    CConsoleSettings settings = Settings();
    if (!m_prompts.runLinkSettings || !m_prompts.runLinkSettings(settings))
        return;
    settings.Save();
    ApplySettings(CConsoleSettings::Load());
}

void CConsoleDlg::OnSaveReply()
{
    SaveReplyAs(m_lastReply);
}

void CConsoleDlg::SaveReplyAs(const CReply &reply)
{
    if (reply.IsEmpty() || !m_prompts.askSaveReply)
        return;
    const QString path =
        m_prompts.askSaveReply(QStringLiteral("reply.") + PayloadSuffix(reply.PayloadView()));
    if (path.isEmpty())
        return;
    // A file that holds less than the instrument sent is made only when
    // the user has been told so.
    const QString cut = CutSaveQuestion(reply);
    if (!cut.isEmpty() && !(m_prompts.askConfirm && m_prompts.askConfirm(cut)))
        return;
    QString error;
    if (!SaveReplyToFile(reply, path, error))
        ShowMessage(error);
}

CConsoleSettings CConsoleDlg::Settings() const
{
    return {m_links.Context().options, m_showControlCharacters, m_sender.TimeStamps()};
}

void CConsoleDlg::ApplySettings(const CConsoleSettings &settings)
{
    m_links.SetOptions(settings.links);
    m_showControlCharacters = settings.showControlCharacters;
    m_sender.SetTimeStamps(settings.logTimeStamps);
}

void CConsoleDlg::ShowSystemMenu(const QPoint &globalPos)
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("SystemMenu"));
    QAction *minimise = menu.addAction(QStringLiteral("Mi&nimise"));
    QAction *closeAction = menu.addAction(QStringLiteral("&Close"));
    closeAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    menu.addSeparator();
    QAction *linkSettings = menu.addAction(QStringLiteral("Link &Settings..."));
    QAction *saveReply = menu.addAction(QStringLiteral("Save &Reply As..."));
    saveReply->setEnabled(!m_lastReply.IsEmpty());
    QAction *transcript = menu.addAction(QStringLiteral("Show &Transcript"));
    transcript->setCheckable(true);
    transcript->setChecked(TranscriptShown());
    transcript->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    QAction *about = menu.addAction(QStringLiteral("&About Tallix..."));
    QAction *chosen = menu.exec(globalPos);
    if (chosen == minimise)
        RunHandler([this]() { OnSysCommand(SC_MINIMIZE); });
    else if (chosen == closeAction)
        RunHandler([this]() { OnSysCommand(SC_CLOSE); });
    else if (chosen == linkSettings)
        RunHandler([this]() { OnSysCommand(IDM_LINKSETTINGS); });
    else if (chosen == saveReply)
        RunHandler([this]() { OnSysCommand(IDM_SAVEREPLY); });
    else if (chosen == transcript)
        RunHandler([this]() { OnSysCommand(IDM_TRANSCRIPT); });
    else if (chosen == about)
        RunHandler([this]() { OnSysCommand(IDM_ABOUTBOX); });
}

void CConsoleDlg::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_work.Busy())
        return;
    // The window background, labels included (they take no clicks of their
    // own); controls keep their own menus.
    QWidget *under = childAt(event->pos());
    if (under == nullptr || qobject_cast<QLabel *>(under) != nullptr)
        ShowSystemMenu(event->globalPos());
}
