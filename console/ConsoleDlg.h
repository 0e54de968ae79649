// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cmdfile/CommandFiles.h"
#include "common/UiHooks.h"
#include "console/ConsolePrompts.h"
#include "links/LinkDispatch.h"
#include "links/LinkTable.h"
#include "work/CommandSender.h"
#include "work/ConsoleSettings.h"
#include "work/Transcript.h"
#include "work/WorkMonitor.h"

#include <QDialog>
#include <QIcon>
#include <QStringList>

#include <functional>
#include <vector>

class CIpAddressCtrl;
class CTranscriptPane;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

// Control ids, kept as the object names of the controls.
constexpr int IDC_COMMAND = 1001;
constexpr int IDC_SEND = 1002;
constexpr int IDC_READ = 1003;
constexpr int IDC_GPIB_ADDRESS = 1006;
constexpr int IDC_READ_AFTER_SEND = 1007;
constexpr int IDC_STATUS = 1008;
constexpr int IDC_SERIAL_POLL = 1009;
constexpr int IDC_OPEN_FILE = 1010;
constexpr int IDC_INPUT_PATH = 1011;
constexpr int IDC_OUTPUT_PATH = 1012;
constexpr int IDC_RESPONSE = 1013;
constexpr int IDC_SEND_FILE = 1015;
constexpr int IDC_DELAY = 1025;
constexpr int IDC_LOG_RESPONSES = 1026;
constexpr int IDC_IP_ADDRESS = 1028;
// The link radios, one a row of the link table, in its order.
constexpr int IDC_LINK_AUTOMATION = 1020;
constexpr int IDC_LINK_ORDAL = 1021;
constexpr int IDC_LINK_GPIB = 1022;
constexpr int IDC_LINK_LUMEC = 1023;
constexpr int IDC_LINK_TCPIP = 1027;
constexpr int IDC_LINK_VISA = 1030;
// The row of the VISA Resource link.
constexpr int IDC_RESOURCE = 1031;
constexpr int IDC_FIND = 1032;
constexpr int IDC_RESOURCE_LABEL = 1033;
// The progress of long work and its Stop, over the two path labels while
// work runs.
constexpr int IDC_PROGRESS = 1034;
constexpr int IDC_STOP = 1035;
// The resources the box offers, most recent first.
constexpr int RESOURCE_HISTORY_SIZE = 20;
constexpr int IDCANCEL = 2;
constexpr int IDD_CONSOLE = 102;
constexpr int IDM_ABOUTBOX = 0x0010;
constexpr int IDM_LINKSETTINGS = 0x0020;
constexpr int IDM_SAVEREPLY = 0x0030;
constexpr int IDM_TRANSCRIPT = 0x0040;
// Commands of the window menu that are not ours.
constexpr int SC_MINIMIZE = 0xF020;
constexpr int SC_CLOSE = 0xF060;

// The console window: a thin view and event router over the link dispatch and
// the command files, which hold the state and do the work.
class CConsoleDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CConsoleDlg(QWidget *parent = nullptr);
    ~CConsoleDlg() override;

    // The boxes and dialogs the window asks with: each that `prompts` gives
    // replaces the window's own, the others stay as they are (tests give
    // those they read and answer).
    void SetPrompts(CConsolePrompts prompts);

    // Commands (handlers of the buttons and the Enter key).
    void ShowResponse();
    void OnSend();
    void OnStatus();
    void OnSerialPoll();
    void OnOpenFile();
    void OnSendFile();
    void OnChangeAddress();
    // The Find button: a resource found goes into the resource box.
    void OnFind();
    void OnSysCommand(int id, int param = 0);
    // The window menu's Link Settings: OK stores the settings, which apply
    // from the next command.
    void OnLinkSettings();
    // The window menu's Save Reply As: the last reply to a file.
    void OnSaveReply();
    void OnCancel();

    int ConnectLinks();
    int SendCommand(const char *line);
    int ReadResponse(QByteArray &text);
    bool UpdateData(bool saveAndValidate);
    void CloseCommandFiles();

    // The state, in widget-free classes, for the program and its tests.
    CLinkDispatch &Links() { return m_links; }
    CCommandFiles &Files() { return m_files; }
    // What the Link Settings dialog sets, as the links and the window use it.
    CConsoleSettings Settings() const;
    // The reply the response box shows, whole (Save Reply As writes it).
    const CReply &LastReply() const { return m_lastReply; }
    // Long work: its progress, Stop, and whether it runs.
    CWorkMonitor &Work() { return m_work; }

    QWidget *Control(int id) const;

    // The session's commands, replies, failures and Stops, kept whether the
    // pane shows them or not.
    CTranscript &Transcript() { return m_transcript; }
    // Show Transcript: the pane to the right of the controls, which keep
    // their places, and the window resizable; hidden, the window is as it
    // always was. `store`: kept for the next run ("Window"/"Transcript").
    void ShowTranscript(bool shown, bool store = true);
    bool TranscriptShown() const;
    // The pane, once it has been shown.
    CTranscriptPane *TranscriptPane() const { return m_transcriptPane; }

    // `tallix --resource RESOURCE`: the VISA Resource link chosen, with the
    // resource in its box (kept, as any choice, at the close).
    void StartWithResource(const QString &resource);

protected:
    bool OnInitDialog();
    void DoDataExchange(bool fromControls, bool *ok);
    bool PreTranslateMessage(QObject *watched, QEvent *event);

    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void CreateControls();
    void ShowMessage(const QString &text);
    // ConnectLinks, with what it came to.
    CResult Connect();
    // Where a failure that no one has told yet reaches the user.
    void Report(const CResult &result);
    // The batch's send of one line: 1 sent, 0 failed, -1 ended the command.
    int SendBatchLine(const char *line);
    void ShowSystemMenu(const QPoint &globalPos);
    // Runs a handler, and what must follow any handler: the notes it left,
    // a close asked for while it ran.
    void RunHandler(const std::function<void()> &handler);
    void StepCommandFile(char *buffer);
    // The progress indication of long work: shown (the controls that would
    // start other work disabled meanwhile), updated, taken down.
    void ShowProgress(const CProgress &progress);
    void HideProgress();
    // Enables or disables a control as a command leaves it: while long work
    // has every control disabled, the state waits for its end.
    void EnableControl(QWidget *control, bool enabled);
    // Reads and shows one reply. After a send, the reply that the log read
    // took is shown rather than read again, and an instrument that answers
    // only queries is not read after a line that asks nothing. false when
    // a failure ended the command there.
    bool ShowReply(bool afterSend);
    // The notes that came since the last response shown, a line each, to go
    // above the next (or, when none follows, above what the box holds).
    QString TakeNotesText();
    void SetFileControls(bool fileSelected);
    void ApplySettings(const CConsoleSettings &settings);
    // A resource that a command opened goes to the top of the box's list.
    void RememberResource(const QString &resource);
    // The transcript's bounds and keys, as the start-up sets them.
    void SetUpTranscript();
    void MakeTranscriptPane();
    // The pane's place: right of the controls, over the rest of the window.
    void PlaceTranscript();
    // F6: between the controls and the pane.
    void SwitchPane();
    // Noted in the transcript: a message box's text, a Stop.
    void NoteFailure(const QString &text);
    void StopWork();
    void StoreTranscriptWidth();
    // Whether the widget is the pane's: its keys are its own.
    bool InTranscript(const QWidget *widget) const;
    // Save Reply As of `reply`: the window's last, or a transcript entry's.
    void SaveReplyAs(const CReply &reply);

    CConsolePrompts m_prompts;
    CUiHooks m_hooks;
    CLinkDispatch m_links;
    CCommandFiles m_files;
    CCommandSender m_sender;
    bool m_showControlCharacters = false; // the links keep their own options
    CReply m_lastReply;
    CTranscript m_transcript;
    CTranscriptPane *m_transcriptPane = nullptr;
    // The size the controls take: the window's whole size while the pane is
    // hidden.
    QSize m_controlsSize;
    QStringList m_notes;
    CWorkMonitor m_work;
    bool m_closeAfterWork = false;
    // The controls that long work disabled, with the state each takes back.
    std::vector<std::pair<QWidget *, bool>> m_disabledForWork;
    QIcon m_icon;
    bool m_closing = false;
    bool m_setUpDelayPosted = false;

    QPushButton *m_send = nullptr;
    QComboBox *m_commandCombo = nullptr;
    QCheckBox *m_readAfterSend = nullptr;
    QPushButton *m_read = nullptr;
    QPushButton *m_status = nullptr;
    QPushButton *m_serialPoll = nullptr;
    QPushButton *m_openFile = nullptr;
    QLineEdit *m_gpibAddressEdit = nullptr;
    QPushButton *m_exit = nullptr;
    QLabel *m_inputPath = nullptr;
    QPlainTextEdit *m_response = nullptr;
    QPushButton *m_sendFileButton = nullptr;
    std::vector<QRadioButton *> m_linkRadios; // one a link, in the order of the link table
    QLabel *m_outputPath = nullptr;
    QLineEdit *m_delayEdit = nullptr;
    CIpAddressCtrl *m_ipAddressCtrl = nullptr;
    QComboBox *m_resourceCombo = nullptr;
    QPushButton *m_find = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_stop = nullptr;
};
