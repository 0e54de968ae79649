// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/IpAddressCtrl.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

CIpAddressCtrl::CIpAddressCtrl(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAttribute(Qt::WA_StyledBackground, true);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto *dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        auto *field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(3);
        field->setValidator(new QIntValidator(0, 255, field));
        // The first field is the control's one tab stop; the others are reached
        // by mouse, '.' and the arrows.
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        field->installEventFilter(this);
        // While typing, the validator lets "256" through as a number on its
        // way; an address field clamps it at once, as such fields do.
        connect(field, &QLineEdit::textEdited, field, [field]() {
            if (field->text().toInt() > 255)
                field->setText(QStringLiteral("255"));
        });
        layout->addWidget(field, 1);
        m_fields[i] = field;
    }
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(m_fields[0]);
}

std::uint32_t CIpAddressCtrl::GetAddress() const
{
    std::uint32_t address = 0;
    for (QLineEdit *field : m_fields) {
        const int value = qBound(0, field->text().toInt(), 255); // blank reads as 0
        address = (address << 8) | static_cast<std::uint32_t>(value);
    }
    return address;
}

void CIpAddressCtrl::SetAddress(std::uint32_t address)
{
    for (int i = 0; i < 4; ++i)
        m_fields[i]->setText(QString::number((address >> (24 - 8 * i)) & 0xFFu));
}

QString CIpAddressCtrl::Text() const
{
    const std::uint32_t a = GetAddress();
    return QStringLiteral("%1.%2.%3.%4")
        .arg(a >> 24)
        .arg((a >> 16) & 0xFF)
        .arg((a >> 8) & 0xFF)
        .arg(a & 0xFF);
}

int CIpAddressCtrl::IndexOf(QObject *field) const
{
    for (int i = 0; i < 4; ++i)
        if (m_fields[i] == field)
            return i;
    return -1;
}

void CIpAddressCtrl::FocusField(int index, bool atStart)
{
    QLineEdit *field = m_fields[index];
    field->setFocus(Qt::OtherFocusReason);
    if (atStart)
        field->selectAll();
    else
        field->setCursorPosition(field->text().size());
}

bool CIpAddressCtrl::eventFilter(QObject *watched, QEvent *event)
{
    const int index = IndexOf(watched);
    if (index < 0 || event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);

    auto *key = static_cast<QKeyEvent *>(event);
    QLineEdit *field = m_fields[index];
    switch (key->key()) {
    case Qt::Key_Period:
        // Only from a field that holds something typed or kept: a field that
        // was just entered (its old text all selected, as after a third digit
        // moved on) keeps the caret, so that an address typed whole with its
        // dots fills the fields in turn.
        if (index < 3 && !field->text().isEmpty() && !field->hasSelectedText())
            FocusField(index + 1, true);
        return true;
    case Qt::Key_Right:
        if (index < 3 && field->cursorPosition() == field->text().size() && !field->hasSelectedText()) {
            FocusField(index + 1, true);
            return true;
        }
        break;
    case Qt::Key_Left:
    case Qt::Key_Backspace:
        if (index > 0 && field->cursorPosition() == 0 && !field->hasSelectedText()) {
            FocusField(index - 1, false);
            return key->key() == Qt::Key_Left;
        }
        break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
        // Leave the control from any field, as one tab stop: walk the window's
        // focus chain from the first field, which holds the control's place in
        // it, past the control's own fields.
        const bool forward = key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
        auto step = [forward](QWidget *w) {
            return forward ? w->nextInFocusChain() : w->previousInFocusChain();
        };
        for (QWidget *w = step(m_fields[0]); w && w != m_fields[0]; w = step(w)) {
            if (w != this && !isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
                w->isVisibleTo(window()) && !w->focusProxy()) {
                w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
                break;
            }
        }
        return true;
    }
    default:
        break;
    }
    if (key->text().size() == 1 && key->text().at(0).isDigit()) {
        // A lone 0 is what a field of a blank address shows: the first digit
        // typed takes its place. Typed after it, "127" would give "012", and
        // the address another host.
        if (field->text() == QLatin1String("0") && !field->hasSelectedText())
            field->selectAll();
        // A third digit moves on to the next field, as address fields do.
        const bool wasFull = field->text().size() == 3 && !field->hasSelectedText();
        if (!wasFull && index < 3) {
            field->event(event);
            if (field->text().size() == 3)
                FocusField(index + 1, true);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}
