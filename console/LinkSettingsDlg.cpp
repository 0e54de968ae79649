// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/LinkSettingsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace {

using Shown = CLinkSetting::Shown;

// The unit a box shows a value in, where it is not the stored one.
constexpr qint64 MIB = qint64{1} << 20;

qint64 Rounded(qint64 value, qint64 unit)
{
    return (value + unit / 2) / unit;
}

} // namespace

QWidget *CLinkSettingsDlg::MakeBox(const CLinkSetting &setting, const QVariant &value)
{
    QWidget *box = nullptr;
    switch (setting.shown) {
    case Shown::Number: {
        auto *spin = new QSpinBox;
        spin->setRange(static_cast<int>(setting.least), static_cast<int>(setting.most));
        spin->setValue(value.toInt());
        box = spin;
        break;
    }
    case Shown::Check: {
        auto *check = new QCheckBox(setting.label);
        check->setChecked(value.toInt() != 0);
        box = check;
        break;
    }
    case Shown::Choice: {
        auto *combo = new QComboBox;
        for (qsizetype i = 0; i < setting.choices.size(); ++i)
            combo->addItem(setting.choices[i], static_cast<qlonglong>(setting.least + i));
        combo->setCurrentIndex(combo->findData(value.toLongLong()));
        box = combo;
        break;
    }
    case Shown::Seconds: {
        // Milliseconds, so that any stored value comes back as it was.
        auto *spin = new QDoubleSpinBox;
        spin->setDecimals(3);
        spin->setRange(setting.least / 1000.0, setting.most / 1000.0);
        spin->setSingleStep(0.5);
        spin->setSuffix(QStringLiteral(" s"));
        spin->setValue(value.toLongLong() / 1000.0);
        box = spin;
        break;
    }
    case Shown::WholeSeconds:
    case Shown::Mebibytes: {
        const qint64 unit = setting.shown == Shown::Mebibytes ? MIB : 1000;
        auto *spin = new QSpinBox;
        spin->setRange(static_cast<int>(Rounded(setting.least, unit)), static_cast<int>(setting.most / unit));
        spin->setSuffix(setting.shown == Shown::Mebibytes ? QStringLiteral(" MiB") : QStringLiteral(" s"));
        spin->setValue(static_cast<int>(Rounded(value.toLongLong(), unit)));
        box = spin;
        break;
    }
    case Shown::NumberList: {
        auto *combo = new QComboBox;
        combo->setEditable(true);
        combo->addItems(setting.choices);
        combo->setValidator(
            new QIntValidator(static_cast<int>(setting.least), static_cast<int>(setting.most), combo));
        combo->setEditText(QString::number(value.toLongLong()));
        box = combo;
        break;
    }
    case Shown::Library: {
        // The first entry stands for the empty value; a typed path is taken
        // as it is.
        auto *combo = new QComboBox;
        combo->setEditable(true);
        combo->addItem(setting.choices.value(0), QString());
        const QStringList found = setting.suggestions ? setting.suggestions() : QStringList();
        for (const QString &path : found)
            combo->addItem(path, path);
        const QString current = value.toString();
        if (current.isEmpty()) {
            combo->setCurrentIndex(0);
        } else {
            const int at = combo->findData(current);
            if (at >= 0)
                combo->setCurrentIndex(at);
            else
                combo->setEditText(current);
        }
        box = combo;
        break;
    }
    }
    box->setObjectName(setting.Name());
    if (!setting.toolTip.isEmpty())
        box->setToolTip(setting.toolTip);
    return box;
}

QVariant CLinkSettingsDlg::BoxValue(const Box &box)
{
    const CLinkSetting &setting = *box.setting;
    switch (setting.shown) {
    case Shown::Number:
        return static_cast<qlonglong>(static_cast<QSpinBox *>(box.widget)->value());
    case Shown::Check:
        return static_cast<qlonglong>(static_cast<QCheckBox *>(box.widget)->isChecked() ? 1 : 0);
    case Shown::Choice:
        return static_cast<QComboBox *>(box.widget)->currentData();
    case Shown::Seconds:
        return static_cast<qlonglong>(
            std::llround(static_cast<QDoubleSpinBox *>(box.widget)->value() * 1000.0));
    case Shown::WholeSeconds:
    case Shown::Mebibytes: {
        // A stored value that the box shows rounded stays as it was unless
        // the box was changed.
        const qint64 unit = setting.shown == Shown::Mebibytes ? MIB : 1000;
        const qint64 shown = static_cast<QSpinBox *>(box.widget)->value();
        return shown == Rounded(box.stored.toLongLong(), unit) ? box.stored : QVariant(shown * unit);
    }
    case Shown::Library: {
        auto *combo = static_cast<QComboBox *>(box.widget);
        const QString text = combo->currentText().trimmed();
        return text == setting.choices.value(0) ? QString() : text;
    }
    case Shown::NumberList: {
        bool ok = false;
        const qlonglong typed = static_cast<QComboBox *>(box.widget)->currentText().trimmed().toLongLong(&ok);
        return ok && typed >= setting.least && typed <= setting.most ? QVariant(typed) : box.stored;
    }
    }
    return box.stored;
}

CLinkSettingsDlg::CLinkSettingsDlg(const CConsoleSettings &settings, QWidget *parent)
    : QDialog(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("IDD_LINKSETTINGS"));
    setWindowTitle(QStringLiteral("Link Settings"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    // Two columns, filled in the order of the groups so that each holds
    // about half of the rows: the dialog stays within a small screen.
    std::size_t rows = 1; // the response box's
    for (const CLinkSettingsGroup &group : CConsoleSettings::Groups())
        rows += group.settings.size() + 1;
    auto *columns = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    auto *right = new QVBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right);
    std::size_t placed = 0;
    for (const CLinkSettingsGroup &group : CConsoleSettings::Groups()) {
        auto *frame = new QGroupBox(group.title);
        auto *form = new QFormLayout(frame);
        for (const CLinkSetting &setting : group.settings) {
            const QVariant value = setting.get(settings.links);
            QWidget *box = MakeBox(setting, value);
            if (setting.shown == Shown::Check)
                form->addRow(box);
            else
                form->addRow(setting.label, box);
            m_boxes.push_back({&setting, box, value});
        }
        (placed < rows / 2 ? left : right)->addWidget(frame);
        placed += group.settings.size() + 1;
    }

    m_showControlCharacters = new QCheckBox(QStringLiteral("Sho&w control characters"));
    m_showControlCharacters->setObjectName(QStringLiteral("Console/ShowControlCharacters"));
    m_showControlCharacters->setChecked(settings.showControlCharacters);
    m_showControlCharacters->setToolTip(QStringLiteral(
        "Show every byte of a response: line ends as \\r and \\n, NUL and other control bytes as \\xNN."));
    auto *view = new QGroupBox(QStringLiteral("Response box"));
    auto *viewLayout = new QVBoxLayout(view);
    viewLayout->addWidget(m_showControlCharacters);
    right->addWidget(view);

    m_logTimeStamps = new QCheckBox(QStringLiteral("Tim&e stamps in the log"));
    m_logTimeStamps->setObjectName(QStringLiteral("Log/TimeStamps"));
    m_logTimeStamps->setChecked(settings.logTimeStamps);
    m_logTimeStamps->setToolTip(
        QStringLiteral("Before each record of the log, a line with the moment the command "
                       "went and how long its reply took."));
    auto *log = new QGroupBox(QStringLiteral("Response log"));
    auto *logLayout = new QVBoxLayout(log);
    logLayout->addWidget(m_logTimeStamps);
    right->addWidget(log);
    left->addStretch();
    right->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

CLinkSettingsDlg::~CLinkSettingsDlg() = default;

CConsoleSettings CLinkSettingsDlg::Settings() const
{
    CConsoleSettings settings = m_settings;
    for (const Box &box : m_boxes)
        box.setting->set(settings.links, BoxValue(box));
    settings.showControlCharacters = m_showControlCharacters->isChecked();
    settings.logTimeStamps = m_logTimeStamps->isChecked();
    return settings;
}
