// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/FindDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

namespace {

// A row of the list: an instrument, or a line about the search. The lines
// stay below the instruments whichever way the list is sorted, and cannot
// be chosen.
class CFindRow : public QTreeWidgetItem
{
public:
    enum Kind
    {
        Instrument,
        Note,
        More,
    };

    CFindRow(QTreeWidget *list, Kind kind) : QTreeWidgetItem(list, QTreeWidgetItem::UserType), m_kind(kind)
    {
        if (kind != Instrument) {
            setFlags(Qt::ItemIsEnabled);
            setFirstColumnSpanned(true);
        }
    }

    static Kind KindOf(const QTreeWidgetItem *item)
    {
        return item && item->type() == QTreeWidgetItem::UserType ? static_cast<const CFindRow *>(item)->m_kind
                                                                 : Instrument;
    }

    bool operator<(const QTreeWidgetItem &other) const override
    {
        const Kind theirs = KindOf(&other);
        if (m_kind == theirs)
            return QTreeWidgetItem::operator<(other);
        // Sorted the other way, the list puts A before B when B < A.
        const bool ascending =
            !treeWidget() || treeWidget()->header()->sortIndicatorOrder() == Qt::AscendingOrder;
        return ascending ? m_kind < theirs : m_kind > theirs;
    }

private:
    Kind m_kind;
};

} // namespace

CFindDlg::CFindDlg(const CLinkOptions &options, QWidget *parent, CSearchParts parts)
    : QDialog(parent), m_options(options), m_parts(std::move(parts))
{
    setObjectName(QStringLiteral("IDD_FIND"));
    setWindowTitle(QStringLiteral("Find Instruments"));

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("instruments"));
    m_list->setAccessibleName(QStringLiteral("Instruments found"));
    m_list->setHeaderLabels(
        {QStringLiteral("Resource"), QStringLiteral("*IDN?"), QStringLiteral("Found by")});
    m_list->setRootIsDecorated(false);
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(RESOURCE, Qt::AscendingOrder);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->setMinimumSize(560, 220);

    m_askSerialPorts = new QCheckBox(QStringLiteral("Ask &serial ports"), this);
    m_askSerialPorts->setObjectName(QStringLiteral("askSerialPorts"));
    m_askSerialPorts->setToolTip(
        QStringLiteral("Send \"*IDN?\" to serial ports too: a query can upset a device "
                       "that speaks no SCPI."));

    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("state"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setAccessibleName(QStringLiteral("Search progress"));
    m_progress->setTextVisible(false);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &CFindDlg::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &CFindDlg::reject);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this]() {
        m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!m_list->selectedItems().isEmpty());
    });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *row) {
        if (CFindRow::KindOf(row) == CFindRow::Instrument)
            accept();
    });
    connect(m_askSerialPorts, &QCheckBox::toggled, this, [this]() {
        // Asking serial ports changes what a search does: it starts again.
        StopSearch();
        m_list->clear();
        m_more = nullptr;
        StartSearch();
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(m_askSerialPorts);
    auto *status = new QHBoxLayout;
    status->addWidget(m_state, 1);
    status->addWidget(m_progress);
    layout->addLayout(status);
    layout->addWidget(m_buttons);

    StartSearch();
}

CFindDlg::~CFindDlg()
{
    StopSearch();
}

void CFindDlg::StartSearch()
{
    m_instruments = m_asked = m_answered = 0;
    m_search = std::make_unique<CInstrumentSearch>(m_parts);
    // Each callback comes from a thread of the search: the widgets are
    // touched on this one, and not at all once the dialog is gone.
    const int generation = ++m_generation;
    const auto post = [this, generation](auto news) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, news]() {
                if (generation == m_generation)
                    news();
            },
            Qt::QueuedConnection);
    };
    m_progress->setRange(0, 0); // busy
    m_progress->show();
    m_state->setText(QStringLiteral("Searching..."));
    CSearchEvents events;
    events.found = [this, post](const CFoundResource &resource) {
        post([this, resource]() { AddFound(resource); });
    };
    events.identified = [this, post](const QString &resource, const QString &identity) {
        post([this, resource, identity]() { SetIdentity(resource, identity); });
    };
    events.overflowed = [this, post](std::int64_t more) { post([this, more]() { SetMore(more); }); };
    events.failed = [this, post](const QString &line) { post([this, line]() { AddNote(line); }); };
    events.finished = [this, post]() { post([this]() { SearchFinished(); }); };
    m_search->Start(m_options, m_askSerialPorts->isChecked(), std::move(events));
}

void CFindDlg::StopSearch()
{
    // The search's threads end on their own; none is waited for here.
    if (!m_search)
        return;
    m_search->Cancel();
    m_search.reset();
}

QTreeWidgetItem *CFindDlg::Row(const QString &resource) const
{
    for (QTreeWidgetItem *row : m_list->findItems(resource, Qt::MatchExactly, RESOURCE))
        if (CFindRow::KindOf(row) == CFindRow::Instrument)
            return row;
    return nullptr;
}

void CFindDlg::AddFound(const CFoundResource &resource)
{
    if (!m_search || Row(resource.resource))
        return;
    auto *row = new CFindRow(m_list, CFindRow::Instrument);
    ++m_instruments;
    row->setText(RESOURCE, resource.resource);
    const bool asked = resource.mayAskIdentity || m_askSerialPorts->isChecked();
    row->setText(IDENTITY, asked ? QStringLiteral("asking...") : QString());
    row->setText(DESCRIPTION, resource.description);
    if (asked)
        ++m_asked;
    if (m_instruments == 1)
        m_list->setCurrentItem(row);
}

void CFindDlg::SetMore(std::int64_t more)
{
    if (!m_search)
        return;
    if (!m_more)
        m_more = new CFindRow(m_list, CFindRow::More);
    m_more->setText(RESOURCE,
                    QStringLiteral("%1 and %2 more answered")
                        .arg(QChar(0x2026))
                        .arg(QLocale(QLocale::English, QLocale::UnitedStates).toString(qint64(more))));
}

void CFindDlg::AddNote(const QString &line)
{
    if (!m_search)
        return;
    auto *row = new CFindRow(m_list, CFindRow::Note);
    row->setText(RESOURCE, line);
}

void CFindDlg::SetIdentity(const QString &resource, const QString &identity)
{
    if (!m_search)
        return;
    if (QTreeWidgetItem *row = Row(resource))
        row->setText(IDENTITY, identity);
    ++m_answered;
    if (m_asked > 0) {
        m_progress->setRange(0, m_asked);
        m_progress->setValue(m_answered);
    }
}

void CFindDlg::SearchFinished()
{
    if (!m_search)
        return;
    m_progress->hide();
    const int n = m_instruments;
    m_state->setText(n == 0   ? QStringLiteral("No instrument found.")
                     : n == 1 ? QStringLiteral("1 instrument found.")
                              : QStringLiteral("%1 instruments found.").arg(n));
}

void CFindDlg::accept()
{
    QTreeWidgetItem *row = m_list->currentItem();
    if (row && CFindRow::KindOf(row) == CFindRow::Instrument)
        m_chosen = row->text(RESOURCE);
    if (m_chosen.isEmpty())
        return;
    StopSearch();
    QDialog::accept();
}

void CFindDlg::reject()
{
    StopSearch();
    QDialog::reject();
}
