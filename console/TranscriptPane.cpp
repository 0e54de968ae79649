// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/TranscriptPane.h"

#include "console/TranscriptDelegate.h"
#include "work/ResponseText.h"
#include "work/Transcript.h"
#include "work/TranscriptModel.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

CTranscriptPane::CTranscriptPane(CTranscript &transcript, CActions actions, QWidget *parent)
    : QWidget(parent), m_transcript(transcript), m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("TranscriptPane"));
    setAccessibleName(QStringLiteral("Transcript"));
    m_model = new CTranscriptModel(m_transcript, this);
    m_delegate = new CTranscriptDelegate(this);

    m_findText = new QLineEdit(this);
    m_findText->setObjectName(QStringLiteral("TranscriptFind"));
    m_findText->setPlaceholderText(QStringLiteral("Find"));
    m_findText->setAccessibleName(QStringLiteral("Find in transcript"));
    m_findText->setClearButtonEnabled(true);
    m_previous = new QPushButton(QStringLiteral("Pre&vious"), this);
    m_previous->setObjectName(QStringLiteral("TranscriptPrevious"));
    m_previous->setAccessibleName(QStringLiteral("Find previous"));
    m_next = new QPushButton(QStringLiteral("Ne&xt"), this);
    m_next->setObjectName(QStringLiteral("TranscriptNext"));
    m_next->setAccessibleName(QStringLiteral("Find next"));
    m_filter = new QComboBox(this);
    m_filter->setObjectName(QStringLiteral("TranscriptFilter"));
    m_filter->setAccessibleName(QStringLiteral("Show"));
    m_filter->addItems({QStringLiteral("Everything"), QStringLiteral("Commands and replies"),
                        QStringLiteral("Failures only")});
    m_clear = new QPushButton(QStringLiteral("C&lear"), this);
    m_clear->setObjectName(QStringLiteral("TranscriptClear"));
    m_clear->setAccessibleName(QStringLiteral("Clear transcript"));
    m_saveAs = new QPushButton(QStringLiteral("Save &As..."), this);
    m_saveAs->setObjectName(QStringLiteral("TranscriptSaveAs"));
    m_saveAs->setAccessibleName(QStringLiteral("Save transcript as"));
    m_dropped = new QLabel(this);
    m_dropped->setObjectName(QStringLiteral("TranscriptDropped"));
    m_dropped->hide();
    m_findResult = new QLabel(this);
    m_findResult->setObjectName(QStringLiteral("TranscriptFindResult"));

    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("TranscriptList"));
    m_list->setAccessibleName(QStringLiteral("Transcript entries"));
    // Every row as high as the next: a list of 100,000 entries is never
    // measured row by row.
    m_list->setUniformItemSizes(true);
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(1000);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setItemDelegate(m_delegate);
    m_list->setModel(m_model);
    m_list->installEventFilter(this);

    m_newButton = new QPushButton(m_list);
    m_newButton->setObjectName(QStringLiteral("TranscriptNew"));
    m_newButton->setAccessibleName(QStringLiteral("Jump to the newest entry"));
    m_newButton->hide();

    auto *findRow = new QHBoxLayout;
    findRow->addWidget(m_findText, 1);
    findRow->addWidget(m_previous);
    findRow->addWidget(m_next);
    auto *toolRow = new QHBoxLayout;
    toolRow->addWidget(m_filter, 1);
    toolRow->addWidget(m_clear);
    toolRow->addWidget(m_saveAs);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(findRow);
    layout->addWidget(m_findResult);
    layout->addLayout(toolRow);
    layout->addWidget(m_dropped);
    layout->addWidget(m_list, 1);
    m_findResult->hide();

    auto *find = new QShortcut(QKeySequence::Find, this, nullptr, nullptr, Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, [this]() {
        m_findText->setFocus(Qt::ShortcutFocusReason);
        m_findText->selectAll();
    });
    connect(m_findText, &QLineEdit::returnPressed, this, [this]() { FindNext(true); });
    connect(m_previous, &QPushButton::clicked, this, [this]() { FindNext(false); });
    connect(m_next, &QPushButton::clicked, this, [this]() { FindNext(true); });
    connect(m_filter, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_model->SetFilter(static_cast<TranscriptFilter>(index));
        JumpToNewest();
    });
    connect(m_clear, &QPushButton::clicked, this, [this]() { Clear(); });
    connect(m_saveAs, &QPushButton::clicked, this, [this]() { SaveAs(); });
    connect(m_newButton, &QPushButton::clicked, this, [this]() { JumpToNewest(); });
    connect(m_list, &QWidget::customContextMenuRequested, this, &CTranscriptPane::ShowContextMenu);
    connect(m_list, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { ShowHex(index.row()); });
    connect(m_model, &CTranscriptModel::droppedChanged, this, [this](const QString &text) {
        m_dropped->setText(text);
        m_dropped->setVisible(!text.isEmpty());
    });
    connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this]() { OnRowsAboutToBeInserted(); });
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { OnRowsInserted(last - first + 1); });
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value == m_list->verticalScrollBar()->maximum()) {
            m_follow = true;
            m_newCount = 0;
            m_newButton->hide();
        }
    });
    const QString dropped = m_model->DroppedText();
    m_dropped->setText(dropped);
    m_dropped->setVisible(!dropped.isEmpty());
    m_list->scrollToBottom();
}

CTranscriptPane::~CTranscriptPane() = default;

void CTranscriptPane::OnRowsAboutToBeInserted()
{
    const QScrollBar *bar = m_list->verticalScrollBar();
    m_follow = m_newCount == 0 && bar->value() >= bar->maximum();
}

void CTranscriptPane::OnRowsInserted(int count)
{
    if (m_follow) {
        m_list->scrollToBottom();
        return;
    }
    m_newCount += count;
    m_newButton->setText(QStringLiteral("\u2193 %1 new").arg(CountText(m_newCount)));
    m_newButton->adjustSize();
    PlaceNewButton();
    m_newButton->show();
    m_newButton->raise();
}

void CTranscriptPane::JumpToNewest()
{
    m_newCount = 0;
    m_follow = true;
    m_newButton->hide();
    m_list->scrollToBottom();
}

void CTranscriptPane::PlaceNewButton()
{
    const QRect area = m_list->viewport()->geometry();
    m_newButton->move(area.right() - m_newButton->width() - 8, area.bottom() - m_newButton->height() - 8);
}

void CTranscriptPane::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    PlaceNewButton();
}

bool CTranscriptPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            ShowHex(m_list->currentIndex().row());
            return true;
        }
        if (key->matches(QKeySequence::Copy)) {
            CopyEntry(m_list->currentIndex().row());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CTranscriptPane::FindNext(bool forward)
{
    m_model->Sync();
    const QString needle = m_findText->text();
    if (needle.isEmpty())
        return;
    const qsizetype from = m_model->IndexOf(m_list->currentIndex().row());
    const qsizetype at = m_transcript.Find(needle, from, forward, m_model->Filter());
    const int row = m_model->RowOf(at);
    if (row < 0) {
        m_findResult->setText(QStringLiteral("\u201C%1\u201D is not in the transcript.").arg(needle));
        m_findResult->show();
        return;
    }
    m_findResult->hide();
    const QModelIndex index = m_model->index(row);
    m_list->setCurrentIndex(index);
    m_list->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void CTranscriptPane::Clear()
{
    m_transcript.Clear();
    m_model->Sync();
    JumpToNewest();
}

void CTranscriptPane::SaveAs()
{
    if (!m_actions.askSaveTranscript)
        return;
    m_model->Sync();
    const CTranscriptSaveChoice choice = m_actions.askSaveTranscript();
    if (choice.path.isEmpty())
        return;
    if (const CResult saved = SaveTranscript(m_transcript, choice.form, choice.path);
        !saved && m_actions.message)
        m_actions.message(saved.Text());
}

void CTranscriptPane::ShowHex(int row)
{
    const CTranscriptEntry *entry = m_model->Entry(row);
    if (entry == nullptr || !m_actions.showHex)
        return;
    const QByteArray bytes =
        entry->kind == CTranscriptEntry::Kind::Command || entry->kind == CTranscriptEntry::Kind::Reply
            ? entry->data.bytes
            : entry->text.toUtf8();
    m_actions.showHex(bytes, QStringLiteral("%1 of %2 bytes, %3")
                                 .arg(TranscriptKindName(entry->kind), CountText(bytes.size()),
                                      TranscriptTimeText(entry->timeMs)));
}

void CTranscriptPane::CopyEntry(int row)
{
    const CTranscriptEntry *entry = m_model->Entry(row);
    if (entry == nullptr)
        return;
    QString text;
    if (entry->kind == CTranscriptEntry::Kind::Command) {
        QByteArray line = entry->data.bytes;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        text = ResponseDisplayText(line);
    } else if (entry->kind == CTranscriptEntry::Kind::Reply && entry->BytesKept() && !entry->data.block &&
               IsText(entry->data.bytes)) {
        // The text as it came, not as the list escapes it.
        text = ResponseDisplayText(entry->data.bytes);
    } else {
        text = TranscriptEntryText(*entry, std::numeric_limits<qsizetype>::max());
    }
    QApplication::clipboard()->setText(text);
}

void CTranscriptPane::SaveBytes(int row)
{
    const CTranscriptEntry *entry = m_model->Entry(row);
    if (entry != nullptr && entry->BytesKept() && m_actions.saveBytes)
        m_actions.saveBytes(entry->data);
}

void CTranscriptPane::SendAgain(int row)
{
    const CTranscriptEntry *entry = m_model->Entry(row);
    if (entry == nullptr || entry->kind != CTranscriptEntry::Kind::Command || !m_actions.sendAgain ||
        (m_actions.busy && m_actions.busy()))
        return;
    // A copy: the send adds entries, which may drop this one.
    const QByteArray line = entry->data.bytes;
    m_actions.sendAgain(line);
}

void CTranscriptPane::CopyToCommandBox(int row)
{
    const CTranscriptEntry *entry = m_model->Entry(row);
    if (entry == nullptr || entry->kind != CTranscriptEntry::Kind::Command || !m_actions.copyToCommandBox)
        return;
    QByteArray line = entry->data.bytes;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    m_actions.copyToCommandBox(QString::fromLocal8Bit(line));
}

void CTranscriptPane::ShowContextMenu(const QPoint &at)
{
    const QModelIndex index = m_list->indexAt(at);
    const CTranscriptEntry *entry = m_model->Entry(index.row());
    if (entry == nullptr)
        return;
    const int row = index.row();
    const bool command = entry->kind == CTranscriptEntry::Kind::Command;
    const bool busy = m_actions.busy && m_actions.busy();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("TranscriptMenu"));
    QAction *hex = menu.addAction(QStringLiteral("&Hex View"));
    QAction *copy = menu.addAction(QStringLiteral("&Copy"));
    QAction *save = menu.addAction(QStringLiteral("Save &Bytes As..."));
    save->setEnabled(entry->kind == CTranscriptEntry::Kind::Reply && entry->BytesKept() &&
                     !entry->data.IsEmpty() && !busy);
    QAction *again = nullptr;
    QAction *toBox = nullptr;
    if (command) {
        menu.addSeparator();
        again = menu.addAction(QStringLiteral("Send &Again"));
        again->setEnabled(!busy);
        toBox = menu.addAction(QStringLiteral("Copy to Command &Box"));
    }
    QAction *chosen = menu.exec(m_list->viewport()->mapToGlobal(at));
    if (chosen == nullptr)
        return;
    if (chosen == hex)
        ShowHex(row);
    else if (chosen == copy)
        CopyEntry(row);
    else if (chosen == save)
        SaveBytes(row);
    else if (chosen == again)
        SendAgain(row);
    else if (chosen == toBox)
        CopyToCommandBox(row);
}
