// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <cstdint>

struct CConsoleSettings;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QSpinBox;

// The Link Settings dialog, opened from the window's menu: the TCP/IP port,
// its two waits and whether each read asks for the reply, the GPIB I/O
// time-out, the most of a reply that is kept, and whether the response box
// shows control characters. The
// ranges of its boxes are the ranges of the settings, so a bad value cannot
// be entered.
class CLinkSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CLinkSettingsDlg(const CConsoleSettings &settings, QWidget *parent = nullptr);
    ~CLinkSettingsDlg() override;

    // What the boxes hold now.
    CConsoleSettings Settings() const;

    // The GPIB time-out codes as the dialog names them: the index of an
    // entry is the code, 0 (no limit) to 17 (1000 s).
    static QString TimeoutName(int code);

private:
    int m_storedConnectTimeoutMs;
    std::int64_t m_storedMaxReplyBytes;
    QSpinBox *m_port = nullptr;
    QSpinBox *m_connectTimeout = nullptr;
    QDoubleSpinBox *m_replyTimeout = nullptr;
    QCheckBox *m_askForReply = nullptr;
    QComboBox *m_gpibTimeout = nullptr;
    QSpinBox *m_maxReply = nullptr;
    QCheckBox *m_showControlCharacters = nullptr;
};
