// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The resource box: the resources opened, most recent first, Find's choice,
// and the start with a resource of the command line.
#include "console/ConsoleDlg.h"

#include <QComboBox>
#include <QRadioButton>

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
    const QString resource = m_prompts.runFind ? m_prompts.runFind() : QString();
    if (!resource.isEmpty())
        m_resourceCombo->setEditText(resource);
}

void CConsoleDlg::StartWithResource(const QString &resource)
{
    m_linkRadios[static_cast<std::size_t>(ToInt(LINK_VISA))]->setChecked(true);
    m_links.Choose(LINK_VISA);
    m_resourceCombo->setEditText(resource);
}
