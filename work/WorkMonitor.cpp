// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "work/WorkMonitor.h"

CWorkMonitor::CWorkMonitor(CWindowSide window) : m_window(std::move(window)) {}

void CWorkMonitor::Begin()
{
    if (m_depth++ > 0)
        return;
    m_start = m_now();
    m_shown = false;
    m_stopped = false;
    m_batch = false;
}

void CWorkMonitor::End()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    if (m_shown && m_window.hide)
        m_window.hide();
    m_shown = false;
    m_stopped = false;
}

bool CWorkMonitor::Pulse(const CProgress &progress)
{
    if (m_depth == 0)
        return true;
    if (progress.kind == CProgress::Kind::Batch) {
        m_batch = true;
        m_batchProgress = progress;
    }
    if (m_stopped && !InLineGrace(progress))
        return false;
    const Clock::time_point t = m_now();
    if (t - m_start < SHOW_AFTER)
        return true;
    if (m_shown && t - m_lastEvents < EVENTS_EVERY)
        return true;
    m_lastEvents = t;
    m_shown = true;
    if (m_window.show)
        m_window.show(m_batch ? m_batchProgress : progress);
    if (m_window.processEvents)
        m_window.processEvents();
    return !m_stopped || InLineGrace(progress);
}

void CWorkMonitor::Stop()
{
    if (m_depth == 0 || m_stopped)
        return;
    m_stopped = true;
    m_stoppedAt = m_now();
}

bool CWorkMonitor::InLineGrace(const CProgress &progress) const
{
    return m_batch && progress.kind != CProgress::Kind::Batch && m_now() - m_stoppedAt < LINE_GRACE;
}
