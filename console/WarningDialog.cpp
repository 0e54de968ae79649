// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/WarningDialog.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace {

int RunBox(QWidget *parent, const QString &text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Tallix"), text, buttons, parent);
    // The texts come from servers and the system too: "<b>overload</b>" is
    // what they said, not markup.
    box.setTextFormat(Qt::PlainText);
    // QMessageBox sizes itself to its text alone; a short text ("Blank file")
    // left the title bar too narrow for "Tallix". The box keeps its own
    // sizing and takes no minimum width, but it respects its layout's.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(
            new QSpacerItem(WARNING_DIALOG_MIN_WIDTH, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
            grid->rowCount(), 0, 1, grid->columnCount());
    return box.exec();
}

} // namespace

void ShowWarningDialog(QWidget *parent, const QString &text)
{
    RunBox(parent, text, QMessageBox::Ok);
}

bool AskOkCancel(QWidget *parent, const QString &text)
{
    return RunBox(parent, text, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}
