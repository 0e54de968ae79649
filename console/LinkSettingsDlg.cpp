// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/LinkSettingsDlg.h"

#include "console/ConsoleSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace {

// NI-488.2's time-out codes, from TNONE to T1000s.
const char *const TIMEOUT_NAMES[] = {
    "No limit", "10 \u00B5s", "30 \u00B5s", "100 \u00B5s", "300 \u00B5s", "1 ms", "3 ms",  "10 ms", "30 ms",
    "100 ms",   "300 ms",     "1 s",        "3 s",         "10 s",        "30 s", "100 s", "300 s", "1000 s",
};
static_assert(std::size(TIMEOUT_NAMES) == CConsoleSettings::MAX_GPIB_TIMEOUT + 1);

template <typename T> T *Named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

QString CLinkSettingsDlg::TimeoutName(int code)
{
    if (code < 0 || code > CConsoleSettings::MAX_GPIB_TIMEOUT)
        return QStringLiteral("Library default");
    return QString::fromUtf8(TIMEOUT_NAMES[code]);
}

CLinkSettingsDlg::CLinkSettingsDlg(const CConsoleSettings &settings, QWidget *parent)
    : QDialog(parent), m_storedConnectTimeoutMs(settings.links.connectTimeoutMs),
      m_storedMaxReplyBytes(settings.links.maxReplyBytes)
{
    setObjectName(QStringLiteral("IDD_LINKSETTINGS"));
    setWindowTitle(QStringLiteral("Link Settings"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    m_port = Named(new QSpinBox, "tcpPort");
    m_port->setRange(CConsoleSettings::MIN_PORT, CConsoleSettings::MAX_PORT);
    m_port->setValue(settings.links.tcpPort);

    m_connectTimeout = Named(new QSpinBox, "connectTimeout");
    m_connectTimeout->setRange(CConsoleSettings::MIN_CONNECT_TIMEOUT_MS / 1000,
                               CConsoleSettings::MAX_CONNECT_TIMEOUT_MS / 1000);
    m_connectTimeout->setSuffix(QStringLiteral(" s"));
    m_connectTimeout->setValue(static_cast<int>(std::lround(settings.links.connectTimeoutMs / 1000.0)));

    // Milliseconds, so that any stored value comes back as it was.
    m_replyTimeout = Named(new QDoubleSpinBox, "replyTimeout");
    m_replyTimeout->setDecimals(3);
    m_replyTimeout->setRange(CConsoleSettings::MIN_REPLY_TIMEOUT_MS / 1000.0,
                             CConsoleSettings::MAX_REPLY_TIMEOUT_MS / 1000.0);
    m_replyTimeout->setSingleStep(0.5);
    m_replyTimeout->setSuffix(QStringLiteral(" s"));
    m_replyTimeout->setValue(settings.links.replyTimeoutMs / 1000.0);

    m_askForReply = Named(new QCheckBox(QStringLiteral("As&k for each reply")), "askForReply");
    m_askForReply->setChecked(settings.links.askForReply);
    m_askForReply->setToolTip(QStringLiteral("Send \"Please respond\" before each read. Turn it off for an "
                                             "instrument that answers its queries by itself (SCPI over a "
                                             "raw socket): a read then waits for the reply's line end."));

    auto *tcp = new QGroupBox(QStringLiteral("TCP/IP"));
    auto *tcpForm = new QFormLayout(tcp);
    tcpForm->addRow(QStringLiteral("&Port:"), m_port);
    tcpForm->addRow(QStringLiteral("&Connect time-out:"), m_connectTimeout);
    tcpForm->addRow(QStringLiteral("&Reply time-out:"), m_replyTimeout);
    tcpForm->addRow(m_askForReply);

    m_gpibTimeout = Named(new QComboBox, "gpibTimeout");
    m_gpibTimeout->addItem(TimeoutName(GPIB_LIBRARY_TIMEOUT), GPIB_LIBRARY_TIMEOUT);
    for (int code = 0; code <= CConsoleSettings::MAX_GPIB_TIMEOUT; ++code)
        m_gpibTimeout->addItem(TimeoutName(code), code);
    m_gpibTimeout->setCurrentIndex(m_gpibTimeout->findData(settings.links.gpibTimeout));
    auto *gpib = new QGroupBox(QStringLiteral("GPIB"));
    auto *gpibForm = new QFormLayout(gpib);
    gpibForm->addRow(QStringLiteral("&I/O time-out:"), m_gpibTimeout);

    // Whole MiB in the box; a stored value that is not one stays as it was
    // unless the box is changed.
    m_maxReply = Named(new QSpinBox, "maxReply");
    m_maxReply->setRange(CConsoleSettings::MIN_MAX_REPLY_BYTES >> 20,
                         CConsoleSettings::MAX_MAX_REPLY_BYTES >> 20);
    m_maxReply->setSuffix(QStringLiteral(" MiB"));
    m_maxReply->setValue(static_cast<int>((settings.links.maxReplyBytes + (1 << 19)) >> 20));
    m_maxReply->setToolTip(QStringLiteral("A longer reply is still read to its end, but only its start is "
                                          "kept, shown, logged and saved."));
    auto *replies = new QGroupBox(QStringLiteral("Replies"));
    auto *repliesForm = new QFormLayout(replies);
    repliesForm->addRow(QStringLiteral("&Largest reply kept:"), m_maxReply);

    m_showControlCharacters =
        Named(new QCheckBox(QStringLiteral("Show control &characters")), "showControlCharacters");
    m_showControlCharacters->setChecked(settings.showControlCharacters);
    m_showControlCharacters->setToolTip(QStringLiteral(
        "Show every byte of a response: line ends as \\r and \\n, NUL and other control bytes as \\xNN."));
    auto *view = new QGroupBox(QStringLiteral("Response box"));
    auto *viewLayout = new QVBoxLayout(view);
    viewLayout->addWidget(m_showControlCharacters);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tcp);
    layout->addWidget(gpib);
    layout->addWidget(replies);
    layout->addWidget(view);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

CLinkSettingsDlg::~CLinkSettingsDlg() = default;

CConsoleSettings CLinkSettingsDlg::Settings() const
{
    CConsoleSettings settings;
    settings.links.tcpPort = m_port->value();
    // Whole seconds in the box; a stored value that is not one stays as it
    // was unless the box was changed.
    const int seconds = m_connectTimeout->value();
    settings.links.connectTimeoutMs =
        seconds == std::lround(m_storedConnectTimeoutMs / 1000.0) ? m_storedConnectTimeoutMs : seconds * 1000;
    settings.links.replyTimeoutMs = static_cast<int>(std::lround(m_replyTimeout->value() * 1000.0));
    settings.links.askForReply = m_askForReply->isChecked();
    settings.links.gpibTimeout = m_gpibTimeout->currentData().toInt();
    const int mib = m_maxReply->value();
    settings.links.maxReplyBytes = mib == static_cast<int>((m_storedMaxReplyBytes + (1 << 19)) >> 20)
                                       ? m_storedMaxReplyBytes
                                       : static_cast<std::int64_t>(mib) << 20;
    settings.showControlCharacters = m_showControlCharacters->isChecked();
    return settings;
}
