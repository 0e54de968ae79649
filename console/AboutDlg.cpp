// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/AboutDlg.h"

#include "console/DialogUnitsWidget.h"
#include "console/ProgramIconData.h"

#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

QIcon CAboutDlg::ProgramIcon()
{
    // Built from its pixels rather than read from an image file: reading
    // one makes Qt scan its image plugins, a cost at every start of the
    // window that the picture does not need.
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(QImage(PROGRAM_ICON_32, 32, 32, QImage::Format_RGBA8888)));
    icon.addPixmap(QPixmap::fromImage(QImage(PROGRAM_ICON_16, 16, 16, QImage::Format_RGBA8888)));
    return icon;
}

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    setWindowTitle(QStringLiteral("About Tallix"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    const CDialogUnits units(font());

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("IDR_MAINFRAME"));
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    icon->setGeometry(units.Rect(11, 17, 21, 20));

    // Shown literally: no mnemonic, no rich text.
    auto *label = new QLabel(this);
    label->setObjectName(QStringLiteral("IDC_ABOUT_TEXT"));
    label->setTextFormat(Qt::PlainText);
    label->setText(QStringLiteral("Tallix Version 1.0"));
    label->setGeometry(units.Rect(40, 10, 119, 8));
    units.FitText(label);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    ok->setAutoDefault(true);
    ok->setGeometry(units.Rect(178, 7, 50, 14));
    units.FitText(ok);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(units.Size(235, 55));
}

CAboutDlg::~CAboutDlg() = default;
