// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's controls: where each stands, its name, the tab order and the
// handler each button runs.
#include "console/ConsoleDlg.h"

#include "console/DialogUnitsWidget.h"
#include "console/IpAddressCtrl.h"
#include "links/LinkTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

#include <initializer_list>
#include <limits>

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
// A control's object name is its id's own name, which the tests look for.
#define CONTROL_ID(id) id, #id
constexpr CRadioSlot RADIO_SLOTS[] = {
    {CONTROL_ID(IDC_LINK_AUTOMATION), 7, 169, 75}, {CONTROL_ID(IDC_LINK_ORDAL), 7, 188, 42},
    {CONTROL_ID(IDC_LINK_GPIB), 7, 207, 59},       {CONTROL_ID(IDC_LINK_LUMEC), 95, 169, 40},
    {CONTROL_ID(IDC_LINK_TCPIP), 95, 188, 40},     {CONTROL_ID(IDC_LINK_VISA), 7, 226, 62},
};
// The window: its size of old, one row of 19 units taller.
constexpr int WINDOW_WIDTH = 320;
constexpr int WINDOW_HEIGHT = 244;

// The names of the other controls that have an id of their own.
struct CControlName
{
    int id;
    const char *name;
};
constexpr CControlName CONTROL_NAMES[] = {
    {CONTROL_ID(IDC_COMMAND)},
    {CONTROL_ID(IDC_SEND)},
    {CONTROL_ID(IDC_READ)},
    {CONTROL_ID(IDC_GPIB_ADDRESS)},
    {CONTROL_ID(IDC_READ_AFTER_SEND)},
    {CONTROL_ID(IDC_STATUS)},
    {CONTROL_ID(IDC_SERIAL_POLL)},
    {CONTROL_ID(IDC_OPEN_FILE)},
    {CONTROL_ID(IDC_INPUT_PATH)},
    {CONTROL_ID(IDC_OUTPUT_PATH)},
    {CONTROL_ID(IDC_RESPONSE)},
    {CONTROL_ID(IDC_SEND_FILE)},
    {CONTROL_ID(IDC_DELAY)},
    {CONTROL_ID(IDC_IP_ADDRESS)},
    {CONTROL_ID(IDC_RESOURCE)},
    {CONTROL_ID(IDC_FIND)},
    {CONTROL_ID(IDC_RESOURCE_LABEL)},
    {CONTROL_ID(IDC_PROGRESS)},
    {CONTROL_ID(IDC_STOP)},
    {CONTROL_ID(IDCANCEL)},
};
#undef CONTROL_ID

// A control without a name of its own (a label) is named by its number.
QString IdName(int id)
{
    for (const CControlName &control : CONTROL_NAMES)
        if (control.id == id)
            return QString::fromLatin1(control.name);
    for (const CRadioSlot &slot : RADIO_SLOTS)
        if (slot.id == id)
            return QString::fromLatin1(slot.name);
    return QStringLiteral("IDC_STATIC_%1").arg(id);
}

} // namespace

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
    connect(m_stop, &QPushButton::clicked, this, [this]() { StopWork(); });
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
