// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/ConsoleDlg.h"

#include "common/Settings.h"
#include "console/AboutDlg.h"
#include "console/FileDialogEx.h"
#include "console/FindDlg.h"
#include "console/IpAddressCtrl.h"
#include "console/LinkSettingsDlg.h"
#include "console/WarningDialog.h"
#include "timing/Delay.h"
#include "work/ResponseText.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>

#include <cstdio>
#include <exception>
#include <utility>

namespace {

// Case is ignored for ASCII letters only, as the history has always done.
bool EqualsIgnoringAsciiCase(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y - u'A' + u'a');
        if (x != y)
            return false;
    }
    return true;
}

// An unsigned decimal number with blanks before and after it allowed.
bool ParseUnsigned(const QString &text, std::uint32_t *value)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    quint64 v = 0;
    for (QChar c : t) {
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + static_cast<quint64>(c.unicode() - u'0');
        if (v > 0xFFFFFFFFull)
            return false;
    }
    *value = static_cast<std::uint32_t>(v);
    return true;
}

} // namespace

CConsoleDlg::CConsoleDlg(QWidget *parent)
    : QDialog(parent), m_links(&m_hooks), m_files(&m_hooks),
      m_sender(m_links, m_files, &m_hooks, [this]() { m_outputPath->setText(QString()); }),
      // Input reaches only Stop and Exit meanwhile: every other control that
      // could start work is disabled.
      m_work({.show = [this](const CProgress &progress) { ShowProgress(progress); },
              .hide = [this]() { HideProgress(); },
              .processEvents = []() { QCoreApplication::processEvents(QEventLoop::AllEvents); }})
{
    setObjectName(QStringLiteral("IDD_CONSOLE"));
    setWindowTitle(QStringLiteral("Tallix"));
    // A window of its own in the task bar, fixed frame, no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    m_prompts.messageBox = [this](const QString &text) { ShowWarningDialog(this, text); };
    m_prompts.askConfirm = [this](const QString &text) { return AskOkCancel(this, text); };
    m_prompts.askOpenFile = [this]() { return RunOpenFileDialog(this); };
    m_prompts.askSaveFile = [this](const QString &title) { return RunSaveFileDialog(this, title); };
    m_prompts.askSaveReply = [this](const QString &suggestedName) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save Reply As"), suggestedName);
    };
    m_prompts.runAboutBox = []() {
        CAboutDlg about;
        about.exec();
    };
    m_prompts.runFind = [this]() {
        CFindDlg dialog(m_links.Context().options, this);
        return dialog.exec() == QDialog::Accepted ? dialog.ChosenResource() : QString();
    };
    m_prompts.runLinkSettings = [this](CConsoleSettings &settings) {
        CLinkSettingsDlg dialog(settings, this);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        settings = dialog.Settings();
        return true;
    };

    m_hooks.showMessage = [this](const QString &text) { ShowMessage(text); };
    m_hooks.showNote = [this](const QString &text) { m_notes << text; };
    m_hooks.beginWait = []() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); };
    m_hooks.endWait = []() { QGuiApplication::restoreOverrideCursor(); };
    m_hooks.pulse = [this](const CProgress &progress) { return m_work.Pulse(progress); };

    m_links.SetRefreshMembers([this]() { UpdateData(true); });
    m_links.SetIpAddressText([this]() { return m_ipAddressCtrl->Text(); });
    m_links.SetResourceText([this]() { return m_resourceCombo->currentText(); });

    m_links.Choose(
        LinkKind{GetProfileInt(QStringLiteral("GPIB"), QStringLiteral("Connect"), ToInt(LINK_LUMEC))});
    ApplySettings(CConsoleSettings::Load());
    m_icon = CAboutDlg::ProgramIcon();

    CreateControls();
    SetUpTranscript();
    qApp->installEventFilter(this);
    OnInitDialog();
}

CConsoleDlg::~CConsoleDlg()
{
    qApp->removeEventFilter(this);
}

void CConsoleDlg::SetPrompts(CConsolePrompts prompts)
{
    const auto take = [](auto &mine, auto &given) {
        if (given)
            mine = std::move(given);
    };
    take(m_prompts.messageBox, prompts.messageBox);
    take(m_prompts.askConfirm, prompts.askConfirm);
    take(m_prompts.askOpenFile, prompts.askOpenFile);
    take(m_prompts.askSaveFile, prompts.askSaveFile);
    take(m_prompts.askSaveReply, prompts.askSaveReply);
    take(m_prompts.runAboutBox, prompts.runAboutBox);
    take(m_prompts.runLinkSettings, prompts.runLinkSettings);
    take(m_prompts.runFind, prompts.runFind);
    take(m_prompts.askSaveTranscript, prompts.askSaveTranscript);
    take(m_prompts.runHexView, prompts.runHexView);
}

bool CConsoleDlg::OnInitDialog()
{
    bool ok = true;
    DoDataExchange(false, &ok);
    // The window menu with its About entry is built when it is opened
    // (ShowSystemMenu); there is nothing to append here.
    setWindowIcon(m_icon);
    m_gpibAddressEdit->setText(
        QString::number(GetProfileInt(QStringLiteral("GPIB"), QStringLiteral("Address"), 14)));
    const auto ipAddress =
        static_cast<std::uint32_t>(GetProfileInt(QStringLiteral("TCPIP"), QStringLiteral("IPAddress"), 0));
    if (CHostAddressUser *host = m_links.HostAddressUser())
        host->SetHostAddress(ipAddress);
    m_ipAddressCtrl->SetAddress(ipAddress);
    const CProfileReader store;
    m_resourceCombo->addItems(
        store.StringList(QStringLiteral("VISA"), QStringLiteral("Resources")).mid(0, RESOURCE_HISTORY_SIZE));
    m_resourceCombo->setEditText(store.String(QStringLiteral("VISA"), QStringLiteral("Resource")));
    // The first delay of the run, which needs the calibration, follows the
    // first paint (paintEvent), so that the window never waits for it.
    m_send->setFocus(Qt::OtherFocusReason);
    return true;
}

void CConsoleDlg::DoDataExchange(bool fromControls, bool *ok)
{
    *ok = true;
    // The link group.
    if (fromControls) {
        LinkKind chosen = LINK_NONE;
        for (std::size_t i = 0; i < m_linkRadios.size(); ++i)
            if (m_linkRadios[i]->isChecked())
                chosen = LinkKind{static_cast<std::int32_t>(i)};
        m_links.Choose(chosen);
    } else {
        for (std::size_t i = 0; i < m_linkRadios.size(); ++i) {
            // Auto-exclusive radios refuse to uncheck the last checked one; a
            // stored kind that names no link leaves them all unchecked.
            m_linkRadios[i]->setAutoExclusive(false);
            m_linkRadios[i]->setChecked(static_cast<std::int32_t>(i) == ToInt(m_links.ChosenKind()));
        }
        for (QRadioButton *radio : m_linkRadios)
            radio->setAutoExclusive(true);
    }

    // The delay box.
    if (fromControls) {
        std::uint32_t delay = 0;
        if (!ParseUnsigned(m_delayEdit->text(), &delay)) {
            ShowMessage(QStringLiteral("Enter a whole number of microseconds (0 or more)."));
            m_delayEdit->setFocus(Qt::OtherFocusReason);
            m_delayEdit->selectAll();
            *ok = false;
            return;
        }
        m_files.SetDelay(delay);
    } else {
        m_delayEdit->setText(QString::number(m_files.Delay()));
    }

    // The address check: a changed address drops an open connection, so the
    // next command connects to the new one.
    if (fromControls)
        if (CHostAddressUser *host = m_links.HostAddressUser())
            host->CheckAddress(m_ipAddressCtrl->GetAddress());
}

bool CConsoleDlg::UpdateData(bool saveAndValidate)
{
    bool ok = true;
    DoDataExchange(saveAndValidate, &ok);
    return ok;
}

void CConsoleDlg::ShowMessage(const QString &text)
{
    // The wait cursor must not hide the arrow over the box.
    const bool busy = QGuiApplication::overrideCursor() != nullptr;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    NoteFailure(text);
    if (m_prompts.messageBox)
        m_prompts.messageBox(text);
    if (busy)
        QGuiApplication::restoreOverrideCursor();
}

void CConsoleDlg::Report(const CResult &result)
{
    if (result.ToTell())
        ShowMessage(result.Text());
}

void CConsoleDlg::RunHandler(const std::function<void()> &handler)
{
    m_work.Begin();
    try {
        handler();
    } catch (const std::exception &error) {
        // Nothing of ours throws; what the system does (memory gone) ends
        // the command, not the program.
        ShowMessage(QString::fromLocal8Bit(error.what()));
    }
    m_work.End();
    // Notes of a command that showed no response: above what the box holds.
    if (!m_work.Busy() && !m_notes.isEmpty()) {
        QTextCursor start(m_response->document());
        start.insertText(TakeNotesText());
    }
    // A close asked for while the work ran: now that it has stopped.
    if (m_closeAfterWork && !m_work.Busy()) {
        m_closeAfterWork = false;
        reject();
    }
}

int CConsoleDlg::ConnectLinks()
{
    const CResult result = Connect();
    Report(result);
    return result ? 1 : 0;
}

CResult CConsoleDlg::Connect()
{
    CResult result = m_links.ConnectLinks();
    // The resource box offers what was opened, most recent first.
    if (result && m_links.ChosenKind() == LINK_VISA)
        RememberResource(m_resourceCombo->currentText().trimmed());
    return result;
}

int CConsoleDlg::SendCommand(const char *line)
{
    const CResult result = m_sender.SendCommand(line);
    Report(result);
    return result ? 1 : 0;
}

int CConsoleDlg::SendBatchLine(const char *line)
{
    const CResult result = m_sender.SendCommand(line);
    if (result.ToTell()) {
        Report(result);
        return -1;
    }
    return result ? 1 : 0;
}

// A failed read of a link of the window's own protocols leaves the text
// empty and is no failure of the command; one still to be told ends it.
int CConsoleDlg::ReadResponse(QByteArray &text)
{
    const CResult result = m_links.ReadResponse(text);
    Report(result);
    return result.ToTell() ? 0 : 1;
}

void CConsoleDlg::ShowResponse()
{
    static_cast<void>(ShowReply(false));
}

bool CConsoleDlg::ShowReply(bool afterSend)
{
    CWaitScope wait(m_hooks);
    // Links that did not come up leave the command to go on without a reply;
    // a failure still to be told ends it.
    if (const CResult connected = Connect(); !connected) {
        Report(connected);
        return !connected.ToTell();
    }
    // The reply shown until now goes before the next comes: a long one need
    // not be held twice.
    m_lastReply = CReply();
    CReply reply;
    if (afterSend && m_sender.TakeLoggedReply(reply)) {
        // The instrument sent it once, and the log has it.
    } else if (afterSend && !m_links.ChosenExpectsReply()) {
        // Nothing was asked: there is nothing to wait for.
    } else {
        const CResult read = m_links.ReadResponse(reply);
        // A read that failed is a reply only as far as one came.
        if (read.Ok() || reply.total > 0)
            m_sender.NoteReply(reply);
        // A failure still to be told ended the command: the box keeps what
        // it showed.
        if (read.ToTell()) {
            Report(read);
            return false;
        }
    }
    m_lastReply = std::move(reply);
    m_response->setPlainText(TakeNotesText() + ReplyDisplayText(m_lastReply, m_showControlCharacters));
    return true;
}

QString CConsoleDlg::TakeNotesText()
{
    QString text;
    for (const QString &note : std::exchange(m_notes, {}))
        text += note + u'\n';
    return text;
}

void CConsoleDlg::OnSend()
{
    CWaitScope wait(m_hooks);
    if (ConnectLinks() == 0)
        return;
    QString typed = m_commandCombo->currentText();
    // The entry of a long command, taken from the list as it shows: the
    // command it stands for, whole.
    const int at = m_commandCombo->currentIndex();
    if (at >= 0 && typed == m_commandCombo->itemText(at) && m_commandCombo->itemData(at).isValid())
        typed = m_commandCombo->itemData(at).toString();
    const QString tooLong = CCommandSender::TooLongText(typed.size(), m_links.ChosenLongestCommand());
    if (!tooLong.isEmpty()) {
        ShowMessage(tooLong);
        return;
    }
    if (!m_files.IsCommandFileOpen()) {
        bool known = false;
        for (int i = 0; i < m_commandCombo->count() && !known; ++i) {
            const QVariant whole = m_commandCombo->itemData(i);
            known = EqualsIgnoringAsciiCase(whole.isValid() ? whole.toString() : m_commandCombo->itemText(i),
                                            typed);
        }
        if (!known) {
            const QString shown = CCommandSender::HistoryText(typed);
            m_commandCombo->addItem(shown, shown == typed ? QVariant() : QVariant(typed));
            m_commandCombo->setEditText(typed);
        }
    }
    QByteArray line = typed.toLocal8Bit();
    line.append("\r\n");
    if (SendCommand(line.constData()) == 0)
        return;
    if (m_readAfterSend->isChecked() && !ShowReply(true))
        return;
    if (m_files.IsCommandFileOpen()) {
        char buffer[COMMAND_LINE_BUFFER_SIZE];
        StepCommandFile(buffer);
    }
}

void CConsoleDlg::OnStatus()
{
    if (ConnectLinks() == 0)
        return;
    if (SendCommand("STATUS\r\n") == 0)
        return;
    static_cast<void>(ShowReply(true));
}

void CConsoleDlg::OnSerialPoll()
{
    short result = 0;
    if (const CResult polled = m_links.SerialPoll(result); !polled) {
        // A poll that failed has no status byte to show.
        Report(polled);
        return;
    }
    // C's alternate form: 64 shows as 0x40, zero as a plain 0 (Qt's own
    // formatting would write 0x0).
    char text[64];
    std::snprintf(text, sizeof text, "Serial poll status byte: %#x",
                  static_cast<unsigned>(static_cast<int>(result)));
    m_response->setPlainText(TakeNotesText() + QString::fromLatin1(text));
}

void CConsoleDlg::OnChangeAddress()
{
    bool ok = false;
    const int value = m_gpibAddressEdit->text().trimmed().toInt(&ok);
    const std::int32_t address = ok ? value : 0;
    m_links.SetGpibAddress(address);
    if (address > 0) {
        m_links.SetDeviceAddress(address);
        WriteProfileInt(QStringLiteral("GPIB"), QStringLiteral("Address"), address);
    }
}

void CConsoleDlg::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    if (m_setUpDelayPosted)
        return;
    // Its cost still falls in start-up, and every command comes after it
    // through the same event loop.
    m_setUpDelayPosted = true;
    QMetaObject::invokeMethod(
        this, []() { DelayMicroseconds(100); }, Qt::QueuedConnection);
}

void CConsoleDlg::reject()
{
    // During work, the close stops it first, and comes when it has ended.
    if (m_work.Busy()) {
        StopWork();
        m_closeAfterWork = true;
        return;
    }
    RunHandler([this]() { OnCancel(); });
}

void CConsoleDlg::OnCancel()
{
    if (m_closing)
        return;
    m_closing = true;
    UpdateData(true); // a bad delay shows its message; the close goes on
    WriteProfileInt(QStringLiteral("GPIB"), QStringLiteral("Connect"), ToInt(m_links.ChosenKind()));
    if (const CHostAddressUser *host = m_links.HostAddressUser())
        WriteProfileInt(QStringLiteral("TCPIP"), QStringLiteral("IPAddress"),
                        static_cast<std::int32_t>(host->HostAddress()));
    // The resource box, as the user left it; written only once there is
    // something to keep, so that a first run leaves the store as it was.
    QStringList resources;
    for (int i = 0; i < m_resourceCombo->count(); ++i)
        resources << m_resourceCombo->itemText(i);
    const QString resource = m_resourceCombo->currentText();
    if (!resources.isEmpty() || !resource.isEmpty())
        WriteProfileValues(
            {{QStringLiteral("VISA/Resource"), resource}, {QStringLiteral("VISA/Resources"), resources}});
    StoreTranscriptWidth();
    m_files.CloseCommandFiles();
    m_links.ReleaseLinks();
    QDialog::reject();
}
