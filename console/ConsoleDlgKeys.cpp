// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's keys: Enter sends, Escape stops long work and closes nothing
// else, Alt+Space opens the window menu; the command box's open list sends
// the entry Enter takes.
#include "console/ConsoleDlg.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>

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
            StopWork();
            return true;
        }
        // The transcript may be read and scrolled while work fills it.
        return widget != m_stop && !InTranscript(widget);
    }
    // The pane's keys are its own (Enter opens an entry's bytes); Escape
    // closes nothing there either.
    if (InTranscript(widget))
        return key->key() == Qt::Key_Escape;
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

bool CConsoleDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (PreTranslateMessage(watched, event))
        return true;
    return QDialog::eventFilter(watched, event);
}
