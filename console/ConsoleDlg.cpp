// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/ConsoleDlg.h"

#include "common/Settings.h"
#include "console/AboutDlg.h"
#include "console/DialogUnitsWidget.h"
#include "console/FileDialogEx.h"
#include "console/FindDlg.h"
#include "console/IpAddressCtrl.h"
#include "console/LinkSettingsDlg.h"
#include "console/WarningDialog.h"
#include "links/LinkTable.h"
#include "timing/Delay.h"
#include "work/ResponseText.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTextCursor>

#include <cstdio>
#include <exception>
#include <limits>
#include <utility>

namespace {

// Where each link's radio stands, in dialog units (each 10 high), by the
// link's place in the table: the first five where they have always been,
// the sixth at the start of the row below them, beside its resource box.
struct CRadioSlot
{
    int id;
    const char *name;
    int x, y, width;
};
constexpr CRadioSlot RADIO_SLOTS[] = {
    {IDC_LINK_AUTOMATION, "IDC_LINK_AUTOMATION", 7, 169, 75},
    {IDC_LINK_ORDAL, "IDC_LINK_ORDAL", 7, 188, 42},
    {IDC_LINK_GPIB, "IDC_LINK_GPIB", 7, 207, 59},
    {IDC_LINK_LUMEC, "IDC_LINK_LUMEC", 95, 169, 40},
    {IDC_LINK_TCPIP, "IDC_LINK_TCPIP", 95, 188, 40},
    {IDC_LINK_VISA, "IDC_LINK_VISA", 7, 226, 62},
};
// The window: its size of old, one row of 19 units taller.
constexpr int WINDOW_WIDTH = 320;
constexpr int WINDOW_HEIGHT = 244;

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

QString IdName(int id)
{
    switch (id) {
    case IDC_COMMAND:
        return QStringLiteral("IDC_COMMAND");
    case IDC_SEND:
        return QStringLiteral("IDC_SEND");
    case IDC_READ:
        return QStringLiteral("IDC_READ");
    case IDC_GPIB_ADDRESS:
        return QStringLiteral("IDC_GPIB_ADDRESS");
    case IDC_READ_AFTER_SEND:
        return QStringLiteral("IDC_READ_AFTER_SEND");
    case IDC_STATUS:
        return QStringLiteral("IDC_STATUS");
    case IDC_SERIAL_POLL:
        return QStringLiteral("IDC_SERIAL_POLL");
    case IDC_OPEN_FILE:
        return QStringLiteral("IDC_OPEN_FILE");
    case IDC_INPUT_PATH:
        return QStringLiteral("IDC_INPUT_PATH");
    case IDC_OUTPUT_PATH:
        return QStringLiteral("IDC_OUTPUT_PATH");
    case IDC_RESPONSE:
        return QStringLiteral("IDC_RESPONSE");
    case IDC_SEND_FILE:
        return QStringLiteral("IDC_SEND_FILE");
    case IDC_DELAY:
        return QStringLiteral("IDC_DELAY");
    case IDC_IP_ADDRESS:
        return QStringLiteral("IDC_IP_ADDRESS");
    case IDC_RESOURCE:
        return QStringLiteral("IDC_RESOURCE");
    case IDC_FIND:
        return QStringLiteral("IDC_FIND");
    case IDC_RESOURCE_LABEL:
        return QStringLiteral("IDC_RESOURCE_LABEL");
    case IDC_PROGRESS:
        return QStringLiteral("IDC_PROGRESS");
    case IDC_STOP:
        return QStringLiteral("IDC_STOP");
    case IDCANCEL:
        return QStringLiteral("IDCANCEL");
    default:
        for (const CRadioSlot &slot : RADIO_SLOTS)
            if (slot.id == id)
                return QString::fromLatin1(slot.name);
        return QStringLiteral("IDC_STATIC_%1").arg(id);
    }
}

} // namespace

CConsoleDlg::CConsoleDlg(QWidget *parent)
    : QDialog(parent), m_links(&m_hooks), m_files(&m_hooks), m_sender(m_links, m_files, &m_hooks)
{
    setObjectName(QStringLiteral("IDD_CONSOLE"));
    setWindowTitle(QStringLiteral("Tallix"));
    // A window of its own in the task bar, fixed frame, no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    m_messageBox = [this](const QString &text) { ShowWarningDialog(this, text); };
    m_askConfirm = [this](const QString &text) { return AskOkCancel(this, text); };
    m_askOpenFile = [this]() { return RunOpenFileDialog(this); };
    m_askSaveFile = [this](const QString &title) { return RunSaveFileDialog(this, title); };
    m_askSaveReply = [this](const QString &suggestedName) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save Reply As"), suggestedName);
    };
    m_runAboutBox = []() {
        CAboutDlg about;
        about.exec();
    };
    m_runFind = [this]() {
        CFindDlg dialog(m_links.m_context.options, this);
        return dialog.exec() == QDialog::Accepted ? dialog.ChosenResource() : QString();
    };
    m_runLinkSettings = [this](CConsoleSettings &settings) {
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
    m_work.show = [this](const CProgress &progress) { ShowProgress(progress); };
    m_work.hide = [this]() { HideProgress(); };
    // Input reaches only Stop and Exit meanwhile: every other control that
    // could start work is disabled.
    m_work.processEvents = []() { QCoreApplication::processEvents(QEventLoop::AllEvents); };

    m_links.m_refreshMembers = [this]() { UpdateData(true); };
    m_links.m_context.ipAddressText = [this]() { return m_ipAddressCtrl->Text(); };
    m_links.m_context.resourceText = [this]() { return m_resourceCombo->currentText(); };
    m_sender.m_logWriteFailed = [this]() { m_outputPath->setText(QString()); };

    m_links.m_linkKind =
        LinkKind{GetProfileInt(QStringLiteral("GPIB"), QStringLiteral("Connect"), ToInt(LINK_LUMEC))};
    ApplySettings(CConsoleSettings::Load());
    m_icon = CAboutDlg::ProgramIcon();

    CreateControls();
    qApp->installEventFilter(this);
    OnInitDialog();
}

CConsoleDlg::~CConsoleDlg()
{
    qApp->removeEventFilter(this);
}

QWidget *CConsoleDlg::Control(int id) const
{
    return findChild<QWidget *>(IdName(id));
}

void CConsoleDlg::CreateControls()
{
    const CDialogUnits units(font());
    auto place = [&](QWidget *w, int id, int x, int y, int width, int height) {
        w->setObjectName(IdName(id));
        w->setGeometry(units.Rect(x, y, width, height));
    };
    auto button = [&](int id, const char *text, int x, int y) {
        auto *b = new QPushButton(QString::fromLatin1(text), this);
        place(b, id, x, y, 50, 14);
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::StrongFocus);
        return b;
    };

    // Creation order is the tab order.
    m_send = button(IDC_SEND, "Send", 7, 7);
    m_send->setDefault(true);

    m_commandCombo = new QComboBox(this);
    m_commandCombo->setEditable(true);
    // The box takes what is typed, as typed: Qt's completer would fill in the
    // rest of a matching history entry, and Send would send text nobody typed.
    m_commandCombo->setCompleter(nullptr);
    m_commandCombo->setInsertPolicy(QComboBox::NoInsert);
    m_commandCombo->setDuplicatesEnabled(true);
    // The box holds a command of any length: how long a command may be is
    // the chosen link's to say, when it is sent.
    m_commandCombo->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    m_commandCombo->setMaxVisibleItems(8);
    place(m_commandCombo, IDC_COMMAND, 72, 7, 240, 14);
    m_commandCombo->resize(m_commandCombo->width(), qMax(units.Y(12), m_commandCombo->sizeHint().height()));

    m_readAfterSend = new QCheckBox(QStringLiteral("Read"), this);
    place(m_readAfterSend, IDC_READ_AFTER_SEND, 9, 28, 33, 10);

    m_read = button(IDC_READ, "Read", 7, 44);
    m_status = button(IDC_STATUS, "Status", 7, 65);
    m_serialPoll = button(IDC_SERIAL_POLL, "Serial Poll", 7, 86);
    m_openFile = button(IDC_OPEN_FILE, "Open File", 7, 107);

    m_gpibAddressEdit = new QLineEdit(this);
    place(m_gpibAddressEdit, IDC_GPIB_ADDRESS, 139, 204, 40, 14);

    m_exit = button(IDCANCEL, "Exit", 262, 171);

    auto *addressLabel = new QLabel(QStringLiteral("GPIB Address:"), this);
    place(addressLabel, 1005, 85, 207, 47, 8);

    m_inputPath = new QLabel(this);
    m_inputPath->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_inputPath->setTextFormat(Qt::PlainText);
    place(m_inputPath, IDC_INPUT_PATH, 7, 146, 305, 8);

    m_response = new QPlainTextEdit(this);
    m_response->setReadOnly(true);
    m_response->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_response->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_response->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_response->setTabChangesFocus(true);
    m_response->setFocusPolicy(Qt::StrongFocus);
    place(m_response, IDC_RESPONSE, 69, 30, 243, 111);

    m_sendFileButton = button(IDC_SEND_FILE, "Send File", 7, 128);
    m_sendFileButton->setEnabled(false);

    static_assert(std::size(RADIO_SLOTS) >= 6, "a place for every link's radio");
    for (const CLinkRow &row : LinkTable()) {
        auto *radio = new QRadioButton(QString::fromLatin1(row.label), this);
        const CRadioSlot &slot = RADIO_SLOTS[static_cast<std::size_t>(ToInt(row.kind))];
        place(radio, slot.id, slot.x, slot.y, slot.width, 10);
        radio->setFocusPolicy(Qt::ClickFocus); // no tab stops
        // Yet the keyboard reaches them: Alt with the radio's place in the
        // group.
        const int key = static_cast<int>(m_linkRadios.size()) + 1;
        if (key <= 9) {
            const QKeySequence keys(Qt::ALT | static_cast<Qt::Key>(Qt::Key_0 + key));
            auto *shortcut = new QShortcut(keys, this);
            connect(shortcut, &QShortcut::activated, radio, &QRadioButton::click);
            radio->setToolTip(keys.toString(QKeySequence::NativeText));
        }
        m_linkRadios.push_back(radio);
    }

    m_outputPath = new QLabel(this);
    m_outputPath->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_outputPath->setTextFormat(Qt::PlainText);
    place(m_outputPath, IDC_OUTPUT_PATH, 7, 157, 305, 8);

    auto *delayLabel = new QLabel(QStringLiteral("Delay:"), this);
    place(delayLabel, 1024, 217, 207, 22, 8);
    delayLabel->setObjectName(QStringLiteral("IDC_DELAY_LABEL"));

    m_delayEdit = new QLineEdit(this);
    place(m_delayEdit, IDC_DELAY, 244, 204, 40, 14);

    auto *unitLabel = new QLabel(QStringLiteral("us"), this);
    place(unitLabel, 1029, 290, 207, 8, 8);
    unitLabel->setObjectName(QStringLiteral("IDC_DELAY_UNIT"));

    m_ipAddressCtrl = new CIpAddressCtrl(this);
    place(m_ipAddressCtrl, IDC_IP_ADDRESS, 141, 185, 70, 12);

    // The row of the VISA Resource link, below all of the above.
    auto *resourceLabel = new QLabel(QStringLiteral("Resource:"), this);
    place(resourceLabel, IDC_RESOURCE_LABEL, 72, 229, 34, 8);
    m_resourceCombo = new QComboBox(this);
    m_resourceCombo->setEditable(true);
    m_resourceCombo->setCompleter(nullptr);
    m_resourceCombo->setInsertPolicy(QComboBox::NoInsert);
    m_resourceCombo->setMaxVisibleItems(RESOURCE_HISTORY_SIZE);
    place(m_resourceCombo, IDC_RESOURCE, 108, 226, 149, 14);
    m_resourceCombo->resize(m_resourceCombo->width(),
                            qMax(units.Y(12), m_resourceCombo->sizeHint().height()));
    m_resourceCombo->setAccessibleName(resourceLabel->text());
    resourceLabel->setBuddy(m_resourceCombo);
    m_find = button(IDC_FIND, "&Find...", 262, 226);

    // Long work: hidden until it has run for a while.
    m_progress = new QProgressBar(this);
    place(m_progress, IDC_PROGRESS, 7, 147, 248, 12);
    m_progress->setAccessibleName(QStringLiteral("Progress"));
    m_progress->setTextVisible(true);
    m_progress->hide();
    m_stop = button(IDC_STOP, "&Stop", 262, 146);
    m_stop->setAccessibleName(QStringLiteral("Stop"));
    m_stop->setToolTip(QStringLiteral("Stops the work that runs (Escape)"));
    m_stop->hide();

    // What a screen reader says for the boxes: the texts of their labels.
    m_gpibAddressEdit->setAccessibleName(addressLabel->text());
    m_delayEdit->setAccessibleName(delayLabel->text());
    m_ipAddressCtrl->setAccessibleName(QStringLiteral("IP Address:"));

    // Labels, radios and check box keep their places; only their width grows
    // where the font here needs more room than the template gave.
    for (QWidget *w : std::initializer_list<QWidget *>{m_readAfterSend, addressLabel, delayLabel, unitLabel,
                                                       m_send, m_read, m_status, m_serialPoll, m_openFile,
                                                       m_exit, m_sendFileButton})
        CDialogUnits::FitText(w);
    for (QRadioButton *radio : m_linkRadios)
        CDialogUnits::FitText(radio);

    QWidget *tabOrder[] = {m_send,           m_commandCombo, m_readAfterSend,   m_read,          m_status,
                           m_serialPoll,     m_openFile,     m_gpibAddressEdit, m_exit,          m_response,
                           m_sendFileButton, m_delayEdit,    m_ipAddressCtrl,   m_resourceCombo, m_find};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    setTabOrder(m_find, m_send); // and round again

    connect(m_send, &QPushButton::clicked, this, [this]() { RunHandler([this]() { OnSend(); }); });
    connect(m_read, &QPushButton::clicked, this, [this]() { RunHandler([this]() { ShowResponse(); }); });
    connect(m_status, &QPushButton::clicked, this, [this]() { RunHandler([this]() { OnStatus(); }); });
    connect(m_serialPoll, &QPushButton::clicked, this,
            [this]() { RunHandler([this]() { OnSerialPoll(); }); });
    connect(m_openFile, &QPushButton::clicked, this, [this]() { RunHandler([this]() { OnOpenFile(); }); });
    connect(m_sendFileButton, &QPushButton::clicked, this,
            [this]() { RunHandler([this]() { OnSendFile(); }); });
    connect(m_gpibAddressEdit, &QLineEdit::textChanged, this,
            [this]() { RunHandler([this]() { OnChangeAddress(); }); });
    connect(m_exit, &QPushButton::clicked, this, [this]() { reject(); });
    connect(m_find, &QPushButton::clicked, this, [this]() { RunHandler([this]() { OnFind(); }); });
    connect(m_stop, &QPushButton::clicked, this, [this]() { m_work.Stop(); });
    // A long command's entry in the list shows its start only: taken from
    // the list, the box gets it whole.
    // The box alone: its list is emptied as the window goes.
    QComboBox *command = m_commandCombo;
    connect(command, &QComboBox::currentIndexChanged, command, [command](int index) {
        const QVariant whole = command->itemData(index);
        if (whole.isValid())
            command->setEditText(whole.toString());
    });

    setFixedSize(units.Size(WINDOW_WIDTH, WINDOW_HEIGHT));
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
        m_links.m_linkKind = LINK_NONE;
        for (std::size_t i = 0; i < m_linkRadios.size(); ++i)
            if (m_linkRadios[i]->isChecked())
                m_links.m_linkKind = LinkKind{static_cast<std::int32_t>(i)};
    } else {
        for (std::size_t i = 0; i < m_linkRadios.size(); ++i) {
            // Auto-exclusive radios refuse to uncheck the last checked one; a
            // stored kind that names no link leaves them all unchecked.
            m_linkRadios[i]->setAutoExclusive(false);
            m_linkRadios[i]->setChecked(static_cast<std::int32_t>(i) == ToInt(m_links.m_linkKind));
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
        m_files.m_delay = delay;
    } else {
        m_delayEdit->setText(QString::number(m_files.m_delay));
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
    if (m_messageBox)
        m_messageBox(text);
    if (busy)
        QGuiApplication::restoreOverrideCursor();
}

void CConsoleDlg::RunHandler(const std::function<void()> &handler)
{
    m_work.Begin();
    try {
        handler();
    } catch (const CLinkError &error) {
        ShowMessage(error.Text());
    } catch (const std::exception &error) {
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
    const int result = m_links.ConnectLinks();
    // The resource box offers what was opened, most recent first.
    if (result != 0 && m_links.m_linkKind == LINK_VISA)
        RememberResource(m_resourceCombo->currentText().trimmed());
    return result;
}

void CConsoleDlg::RememberResource(const QString &resource)
{
    if (resource.isEmpty())
        return;
    const int at = m_resourceCombo->findText(resource);
    if (at == 0)
        return;
    if (at > 0)
        m_resourceCombo->removeItem(at);
    m_resourceCombo->insertItem(0, resource);
    while (m_resourceCombo->count() > RESOURCE_HISTORY_SIZE)
        m_resourceCombo->removeItem(m_resourceCombo->count() - 1);
    m_resourceCombo->setEditText(resource);
}

void CConsoleDlg::OnFind()
{
    const QString resource = m_runFind ? m_runFind() : QString();
    if (!resource.isEmpty())
        m_resourceCombo->setEditText(resource);
}

void CConsoleDlg::StartWithResource(const QString &resource)
{
    m_linkRadios[static_cast<std::size_t>(ToInt(LINK_VISA))]->setChecked(true);
    m_links.m_linkKind = LINK_VISA;
    m_resourceCombo->setEditText(resource);
}

int CConsoleDlg::SendCommand(const char *line)
{
    return m_sender.SendCommand(line);
}

int CConsoleDlg::ReadResponse(QByteArray &text)
{
    return m_links.ReadResponse(text);
}

void CConsoleDlg::ShowResponse()
{
    ShowReply(false);
}

void CConsoleDlg::ShowReply(bool afterSend)
{
    CWaitScope wait(m_hooks);
    if (ConnectLinks() == 0)
        return;
    // The reply shown until now goes before the next comes: a long one need
    // not be held twice.
    m_lastReply = CReply();
    CReply reply;
    if (afterSend && m_sender.TakeLoggedReply(reply)) {
        // The instrument sent it once, and the log has it.
    } else if (afterSend && !m_links.ChosenExpectsReply()) {
        // Nothing was asked: there is nothing to wait for.
    } else {
        m_links.ReadResponse(reply);
    }
    m_lastReply = std::move(reply);
    m_response->setPlainText(TakeNotesText() + ReplyDisplayText(m_lastReply, m_showControlCharacters));
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
    if (m_readAfterSend->isChecked())
        ShowReply(true);
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
    ShowReply(true);
}

void CConsoleDlg::OnSerialPoll()
{
    short result = 0;
    QString error;
    if (!m_links.SerialPoll(result, error)) {
        // A poll that failed has no status byte to show.
        if (!error.isEmpty())
            ShowMessage(error);
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
    std::int32_t &address = m_links.m_context.gpibAddress;
    address = ok ? value : 0;
    if (address > 0) {
        m_links.SetDeviceAddress(address);
        WriteProfileInt(QStringLiteral("GPIB"), QStringLiteral("Address"), address);
    }
}

bool CConsoleDlg::PreTranslateMessage(QObject *watched, QEvent *event)
{
    const bool keyPress = event->type() == QEvent::KeyPress;
    if ((!keyPress && event->type() != QEvent::ShortcutOverride) || !isVisible())
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget)
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    // The command box's open list is a window of its own, yet the keys typed
    // there belong to the box: Enter takes the highlighted entry and sends it.
    // The list would take Enter already at its shortcut check, before the key
    // press; claiming that check for the key leaves the press to us.
    QAbstractItemView *list = m_commandCombo->view();
    if (list && list->isVisible() && widget->window() == list->window()) {
        if (!enter)
            return false;
        if (!keyPress) {
            event->accept();
            return true;
        }
        const int row = list->currentIndex().row();
        m_commandCombo->hidePopup();
        if (row >= 0)
            m_commandCombo->setCurrentIndex(row);
        RunHandler([this]() { OnSend(); });
        return true;
    }
    if (!keyPress)
        return false;
    if (widget != this && !isAncestorOf(widget))
        return false;
    // While work runs, Escape stops it and Stop takes its keys; nothing else
    // starts anything.
    if (m_work.Busy()) {
        if (key->key() == Qt::Key_Escape) {
            m_work.Stop();
            return true;
        }
        return widget != m_stop;
    }
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        RunHandler([this]() { OnSend(); });
        return true;
    case Qt::Key_Escape:
        return true;
    case Qt::Key_Space:
        if (key->modifiers() == Qt::AltModifier) {
            ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
            return true;
        }
        return false;
    default:
        return false;
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

bool CConsoleDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (PreTranslateMessage(watched, event))
        return true;
    return QDialog::eventFilter(watched, event);
}

void CConsoleDlg::reject()
{
    // During work, the close stops it first, and comes when it has ended.
    if (m_work.Busy()) {
        m_work.Stop();
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
    WriteProfileInt(QStringLiteral("GPIB"), QStringLiteral("Connect"), ToInt(m_links.m_linkKind));
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
    m_files.CloseCommandFiles();
    m_links.ReleaseLinks();
    QDialog::reject();
}
