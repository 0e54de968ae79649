// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's transcript: what it records, the pane beside the controls,
// its keys, and the dialogs it asks with.
#include "console/ConsoleDlg.h"

#include "common/Settings.h"
#include "console/HexViewDlg.h"
#include "console/TranscriptPane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QListView>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>

namespace {

const QString WINDOW = QStringLiteral("Window");
const QString TRANSCRIPT = QStringLiteral("Transcript");
const QString TRANSCRIPT_WIDTH = QStringLiteral("TranscriptWidth");
constexpr int DEFAULT_PANE_WIDTH = 420;
constexpr int MIN_PANE_WIDTH = 200;

CTranscriptSaveChoice AskSaveTranscript(QWidget *parent)
{
    const QString log = QStringLiteral("Response log (*.log)");
    const QString csv = QStringLiteral("CSV (*.csv)");
    const QString commands = QStringLiteral("Command file (*.txt)");
    QString chosen = log;
    CTranscriptSaveChoice choice;
    choice.path = QFileDialog::getSaveFileName(
        parent, QStringLiteral("Save Transcript As"), QStringLiteral("transcript.log"),
        QStringList{log, csv, commands}.join(QStringLiteral(";;")), &chosen);
    choice.form = chosen == csv        ? TranscriptForm::Csv
                  : chosen == commands ? TranscriptForm::CommandFile
                                       : TranscriptForm::Log;
    return choice;
}

} // namespace

void CConsoleDlg::SetUpTranscript()
{
    m_controlsSize = size();
    const CProfileReader store;
    const std::int64_t entries = store.Int(TRANSCRIPT, QStringLiteral("MaxEntries"),
                                           static_cast<std::int32_t>(CTranscript::DEFAULT_MAX_ENTRIES));
    const std::int64_t bytes = store.Int(TRANSCRIPT, QStringLiteral("MaxBytes"),
                                         static_cast<std::int32_t>(CTranscript::DEFAULT_MAX_BYTES));
    // Bounds that make sense whatever the store holds: at least a screenful
    // of entries, at least a megabyte, at most what memory may give.
    m_transcript.SetBounds(std::clamp<std::int64_t>(entries, 100, 10'000'000),
                           std::clamp<std::int64_t>(bytes, MIN_MAX_REPLY_BYTES, MAX_MAX_REPLY_BYTES));
    m_sender.SetTranscript(&m_transcript);

    m_prompts.askSaveTranscript = [this]() { return AskSaveTranscript(this); };
    m_prompts.runHexView = [this](const QByteArray &bytes, const QString &title) {
        CHexViewDlg dialog(bytes, title, this);
        dialog.exec();
    };

    auto *toggle = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(toggle, &QShortcut::activated, this, [this]() { ShowTranscript(!TranscriptShown()); });
    auto *pane = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(pane, &QShortcut::activated, this, [this]() { SwitchPane(); });

    if (store.Int(WINDOW, TRANSCRIPT, 0) != 0)
        ShowTranscript(true, false);
}

bool CConsoleDlg::TranscriptShown() const
{
    return m_transcriptPane != nullptr && !m_transcriptPane->isHidden();
}

void CConsoleDlg::MakeTranscriptPane()
{
    CTranscriptPane::CActions actions;
    actions.sendAgain = [this](const QByteArray &line) {
        RunHandler([this, line]() {
            CWaitScope wait(m_hooks);
            if (ConnectLinks() == 0 || SendCommand(line.constData()) == 0)
                return;
            if (m_readAfterSend->isChecked())
                static_cast<void>(ShowReply(true));
        });
    };
    actions.copyToCommandBox = [this](const QString &command) {
        m_commandCombo->setEditText(command);
        m_commandCombo->setFocus(Qt::OtherFocusReason);
    };
    actions.busy = [this]() { return m_work.Busy(); };
    actions.askSaveTranscript = [this]() {
        return m_prompts.askSaveTranscript ? m_prompts.askSaveTranscript() : CTranscriptSaveChoice();
    };
    actions.saveBytes = [this](const CReply &reply) { RunHandler([this, reply]() { SaveReplyAs(reply); }); };
    actions.showHex = [this](const QByteArray &bytes, const QString &title) {
        if (m_prompts.runHexView)
            m_prompts.runHexView(bytes, title);
    };
    actions.message = [this](const QString &text) { ShowMessage(text); };
    m_transcriptPane = new CTranscriptPane(m_transcript, std::move(actions), this);
    m_transcriptPane->hide();
}

void CConsoleDlg::ShowTranscript(bool shown, bool store)
{
    if (shown == TranscriptShown())
        return;
    if (shown) {
        if (m_transcriptPane == nullptr)
            MakeTranscriptPane();
        const int width =
            std::clamp(GetProfileInt(WINDOW, TRANSCRIPT_WIDTH, DEFAULT_PANE_WIDTH), MIN_PANE_WIDTH, 8000);
        setMinimumSize(m_controlsSize.width() + MIN_PANE_WIDTH, m_controlsSize.height());
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(m_controlsSize.width() + width, std::max(height(), m_controlsSize.height()));
        m_transcriptPane->show();
        PlaceTranscript();
    } else {
        StoreTranscriptWidth();
        m_transcriptPane->hide();
        setFixedSize(m_controlsSize);
    }
    if (store)
        WriteProfileInt(WINDOW, TRANSCRIPT, shown ? 1 : 0);
}

void CConsoleDlg::StoreTranscriptWidth()
{
    if (TranscriptShown())
        WriteProfileInt(WINDOW, TRANSCRIPT_WIDTH, width() - m_controlsSize.width());
}

void CConsoleDlg::PlaceTranscript()
{
    if (TranscriptShown())
        m_transcriptPane->setGeometry(m_controlsSize.width(), 0, width() - m_controlsSize.width(), height());
}

void CConsoleDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    PlaceTranscript();
}

void CConsoleDlg::SwitchPane()
{
    if (!TranscriptShown())
        return;
    if (m_transcriptPane->isAncestorOf(focusWidget()))
        m_send->setFocus(Qt::ShortcutFocusReason);
    else
        m_transcriptPane->List()->setFocus(Qt::ShortcutFocusReason);
}

void CConsoleDlg::NoteFailure(const QString &text)
{
    m_sender.NoteEvent(CTranscriptEntry::Kind::Failure, text);
}

void CConsoleDlg::StopWork()
{
    if (m_work.Busy())
        m_sender.NoteEvent(CTranscriptEntry::Kind::Stop, QStringLiteral("Stopped by the user."));
    m_work.Stop();
}

bool CConsoleDlg::InTranscript(const QWidget *widget) const
{
    return m_transcriptPane != nullptr && m_transcriptPane->isAncestorOf(widget);
}
