// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>

#include <cstdint>

class QLineEdit;

// An IPv4 address field: four fields of 0 to 255 that act as one tab stop.
// Tab enters the first field and leaves the control from any field; inside,
// '.' and the arrow keys move between the fields. A blank field reads as 0.
class CIpAddressCtrl : public QFrame
{
    Q_OBJECT

public:
    explicit CIpAddressCtrl(QWidget *parent = nullptr);

    // First octet in bits 24 to 31.
    std::uint32_t GetAddress() const;
    void SetAddress(std::uint32_t address);
    // Dotted decimal, e.g. "127.0.0.1".
    QString Text() const;
    QLineEdit *Field(int index) const { return m_fields[index]; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int IndexOf(QObject *field) const;
    void FocusField(int index, bool atStart);

    QLineEdit *m_fields[4] = {};
};
