// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/AboutDlg.h"

#include "console/DialogUnitsWidget.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

QIcon CAboutDlg::ProgramIcon()
{
    // The image is compiled into a static library: without this call the
    // linker leaves its registration out, and the icon comes out empty. Once
    // a run is enough.
    static const bool registered = [] {
        Q_INIT_RESOURCE(tallix);
        return true;
    }();
    Q_UNUSED(registered);
    return QIcon(QStringLiteral(":/tallix.png"));
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
