// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/TranscriptModel.h"

#include "work/ResponseText.h"

#include <QDateTime>

#include <algorithm>

CTranscriptModel::CTranscriptModel(CTranscript &transcript, QObject *parent)
    : QAbstractListModel(parent), m_transcript(transcript)
{
    m_transcript.SetChanged([this]() { ScheduleSync(); });
    Rebuild();
}

CTranscriptModel::~CTranscriptModel()
{
    m_transcript.SetChanged({});
}

int CTranscriptModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

const CTranscriptEntry *CTranscriptModel::Entry(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return nullptr;
    return m_transcript.BySerial(m_rows[static_cast<std::size_t>(row)]);
}

qsizetype CTranscriptModel::IndexOf(int row) const
{
    const CTranscriptEntry *entry = Entry(row);
    return entry ? static_cast<qsizetype>(entry->serial - m_transcript.FirstSerial()) : -1;
}

int CTranscriptModel::RowOf(qsizetype index) const
{
    if (index < 0 || index >= m_transcript.Size())
        return -1;
    const std::uint64_t serial = m_transcript.At(index).serial;
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), serial);
    return at != m_rows.end() && *at == serial ? static_cast<int>(at - m_rows.begin()) : -1;
}

QString CTranscriptModel::HeaderText(const CTranscriptEntry &entry)
{
    const QString time =
        QDateTime::fromMSecsSinceEpoch(entry.timeMs).toString(QStringLiteral("HH:mm:ss.zzz"));
    QString what;
    switch (entry.kind) {
    case CTranscriptEntry::Kind::Command:
        what = QStringLiteral("sent %1 bytes").arg(CountText(entry.data.total));
        break;
    case CTranscriptEntry::Kind::Reply:
        what = QStringLiteral("received %1 bytes").arg(CountText(entry.data.total));
        if (entry.durationMs >= 0)
            what += QStringLiteral(" in %1 ms").arg(entry.durationMs, 0, 'f', 1);
        break;
    case CTranscriptEntry::Kind::Failure:
        what = QStringLiteral("failure");
        break;
    case CTranscriptEntry::Kind::Stop:
        what = QStringLiteral("stopped");
        break;
    }
    QStringList parts{time, entry.link};
    if (!entry.target.isEmpty())
        parts << entry.target;
    parts << what;
    return parts.join(QStringLiteral("  "));
}

QString CTranscriptModel::SpokenText(const CTranscriptEntry &entry)
{
    return TranscriptKindName(entry.kind) + QStringLiteral(", ") + HeaderText(entry) + QStringLiteral(": ") +
           TranscriptEntryText(entry, 1024);
}

QVariant CTranscriptModel::data(const QModelIndex &index, int role) const
{
    const CTranscriptEntry *entry = Entry(index.row());
    if (entry == nullptr || index.column() != 0)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return TranscriptEntryText(*entry, 512);
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole:
        return SpokenText(*entry);
    case HeaderRole:
        return HeaderText(*entry);
    case KindRole:
        return static_cast<int>(entry->kind);
    case SerialRole:
        return QVariant::fromValue<qulonglong>(entry->serial);
    case PictureRole:
        if (entry->kind == CTranscriptEntry::Kind::Reply && entry->BytesKept() &&
            PayloadKind(entry->data.PayloadView()).endsWith(QStringLiteral("image")))
            return entry->data.Payload();
        return QVariant();
    default:
        return QVariant();
    }
}

void CTranscriptModel::SetFilter(TranscriptFilter filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    beginResetModel();
    Rebuild();
    endResetModel();
}

void CTranscriptModel::Rebuild()
{
    m_rows.clear();
    for (qsizetype i = 0; i < m_transcript.Size(); ++i)
        if (Passes(m_transcript.At(i), m_filter))
            m_rows.push_back(m_transcript.At(i).serial);
    m_seen = m_transcript.NextSerial();
    m_generation = m_transcript.Generation();
}

void CTranscriptModel::ScheduleSync()
{
    if (m_syncPending)
        return;
    m_syncPending = true;
    QMetaObject::invokeMethod(
        this, [this]() { Sync(); }, Qt::QueuedConnection);
}

void CTranscriptModel::Sync()
{
    m_syncPending = false;
    if (m_generation != m_transcript.Generation()) {
        beginResetModel();
        Rebuild();
        endResetModel();
    } else {
        // Those that went first, so that the rows a view shows always name
        // entries that are there.
        const std::uint64_t first = m_transcript.FirstSerial();
        const auto gone = std::lower_bound(m_rows.begin(), m_rows.end(), first) - m_rows.begin();
        if (gone > 0) {
            beginRemoveRows(QModelIndex(), 0, static_cast<int>(gone - 1));
            m_rows.erase(m_rows.begin(), m_rows.begin() + gone);
            endRemoveRows();
        }
        std::vector<std::uint64_t> added;
        for (std::uint64_t serial = std::max(m_seen, first); serial < m_transcript.NextSerial(); ++serial)
            if (Passes(*m_transcript.BySerial(serial), m_filter))
                added.push_back(serial);
        m_seen = m_transcript.NextSerial();
        if (!added.empty()) {
            const int at = static_cast<int>(m_rows.size());
            beginInsertRows(QModelIndex(), at, at + static_cast<int>(added.size()) - 1);
            m_rows.insert(m_rows.end(), added.begin(), added.end());
            endInsertRows();
        }
    }
    if (m_dropped != m_transcript.Dropped()) {
        m_dropped = m_transcript.Dropped();
        emit droppedChanged(DroppedText());
    }
}

QString CTranscriptModel::DroppedText() const
{
    const std::int64_t dropped = m_transcript.Dropped();
    if (dropped == 0)
        return QString();
    return dropped == 1 ? QStringLiteral("1 older entry was dropped.")
                        : QStringLiteral("%1 older entries were dropped.").arg(CountText(dropped));
}
