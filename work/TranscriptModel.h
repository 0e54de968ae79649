// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "work/Transcript.h"

#include <QAbstractListModel>

#include <cstdint>
#include <vector>

// The transcript as a list a view shows: the entries the filter lets
// through, oldest first. It catches up with the transcript once per turn of
// the event loop, however many entries came meanwhile, so that a batch of
// thousands of lines costs the view one insertion a turn.
class CTranscriptModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        // "13:52:15.123  TCP/IP  192.168.1.5  sent 7 bytes".
        HeaderRole = Qt::UserRole + 1,
        KindRole,
        SerialRole,
        // A reply's payload, when it is a picture (for its thumbnail).
        PictureRole,
    };

    explicit CTranscriptModel(CTranscript &transcript, QObject *parent = nullptr);
    ~CTranscriptModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    TranscriptFilter Filter() const { return m_filter; }
    void SetFilter(TranscriptFilter filter);
    // The entry a row shows; nullptr for a row out of range.
    const CTranscriptEntry *Entry(int row) const;
    // The row that shows the entry at `index` of the transcript; -1 when
    // the filter hides it.
    int RowOf(qsizetype index) const;
    qsizetype IndexOf(int row) const;
    // "1,204 older entries were dropped."; empty when none were.
    QString DroppedText() const;
    // Brings the rows up to the transcript now (tests, and before a search).
    void Sync();

    // What a screen reader says of an entry.
    static QString SpokenText(const CTranscriptEntry &entry);
    static QString HeaderText(const CTranscriptEntry &entry);

signals:
    void droppedChanged(const QString &text);

private:
    void ScheduleSync();
    void Rebuild();

    CTranscript &m_transcript;
    TranscriptFilter m_filter = TranscriptFilter::Everything;
    // The serials of the entries shown, ascending.
    std::vector<std::uint64_t> m_rows;
    // The first serial not yet looked at, and the transcript's generation
    // the rows belong to.
    std::uint64_t m_seen = 0;
    int m_generation = 0;
    std::int64_t m_dropped = 0;
    bool m_syncPending = false;
};
