// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The window during long work: the progress indication with Stop, and the
// controls that wait meanwhile.
#include "console/ConsoleDlg.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

void CConsoleDlg::ShowProgress(const CProgress &progress)
{
    if (m_progress->isHidden()) {
        // Everything that would start other work waits; Exit stays, and
        // stops the work before it closes.
        for (QWidget *w : findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (w == m_exit || w == m_response || w == m_progress || w == m_stop || !w->isEnabled() ||
                qobject_cast<QLabel *>(w))
                continue;
            w->setEnabled(false);
            m_disabledForWork.emplace_back(w, true);
        }
        m_inputPath->hide();
        m_outputPath->hide();
        m_progress->show();
        m_stop->show();
        m_stop->setFocus(Qt::OtherFocusReason);
    }
    QString text;
    switch (progress.kind) {
    case CProgress::Kind::Batch:
        text = progress.total >= 0
                   ? QStringLiteral("Line %L1 of %L2 sent").arg(progress.done).arg(progress.total)
                   : QStringLiteral("Line %L1 sent").arg(progress.done);
        break;
    case CProgress::Kind::Reply:
        text = progress.total >= 0
                   ? QStringLiteral("%L1 of %L2 bytes received").arg(progress.done).arg(progress.total)
                   : QStringLiteral("%L1 bytes received").arg(progress.done);
        break;
    case CProgress::Kind::Wait:
        // A wait whose bound the work does not know (a library's own
        // time-out) shows the time alone.
        text = progress.total >= 0 ? QStringLiteral("Waited %L1 s of %L2 s")
                                         .arg(progress.done / 1000.0, 0, 'f', 1)
                                         .arg(progress.total / 1000.0, 0, 'f', 1)
                                   : QStringLiteral("Waited %L1 s").arg(progress.done / 1000.0, 0, 'f', 1);
        break;
    }
    // Large counts in a range the bar can hold.
    if (progress.total > 0) {
        m_progress->setRange(0, 1000);
        m_progress->setValue(
            static_cast<int>(std::min<std::int64_t>(1000, progress.done * 1000 / progress.total)));
    } else {
        m_progress->setRange(0, 0);
    }
    m_progress->setFormat(text);
    m_progress->setAccessibleDescription(text);
}

void CConsoleDlg::HideProgress()
{
    m_progress->hide();
    m_stop->hide();
    m_inputPath->show();
    m_outputPath->show();
    for (const auto &[w, enabled] : m_disabledForWork)
        w->setEnabled(enabled);
    m_disabledForWork.clear();
}

void CConsoleDlg::EnableControl(QWidget *control, bool enabled)
{
    for (auto &[w, state] : m_disabledForWork)
        if (w == control) {
            state = enabled;
            return;
        }
    control->setEnabled(enabled);
}
