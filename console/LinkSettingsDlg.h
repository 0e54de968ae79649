// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "work/ConsoleSettings.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QWidget;

// The Link Settings dialog, opened from the window's menu: a group of boxes
// for each link that has settings, built from the settings the link lists
// (links/), then the bound of a reply and the view of the response box. The
// ranges of its boxes are the ranges of the settings, so a bad value cannot
// be entered. Each box is named by its setting's "Section/Key".
class CLinkSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CLinkSettingsDlg(const CConsoleSettings &settings, QWidget *parent = nullptr);
    ~CLinkSettingsDlg() override;

    // What the boxes hold now.
    CConsoleSettings Settings() const;

private:
    struct Box
    {
        const CLinkSetting *setting;
        QWidget *widget;
        QVariant stored; // as it came in: kept where the box shows it rounded and was not changed
    };

    static QWidget *MakeBox(const CLinkSetting &setting, const QVariant &value);
    static QVariant BoxValue(const Box &box);

    CConsoleSettings m_settings;
    std::vector<Box> m_boxes;
    QCheckBox *m_showControlCharacters = nullptr;
    QCheckBox *m_logTimeStamps = nullptr;
};
