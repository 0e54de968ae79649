// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/console/ConsoleTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

// The window on the GPIB link, with the simulated library found by its bare
// name on the loader's search path and a trace of every call it received.
class TestConsoleDlgGpib : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tracePath;

    QStringList trace() const
    {
        QFile file(m_tracePath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tracePath = m_dir.filePath(QStringLiteral("trace.txt"));
        qputenv("TALLIX_SIM_GPIB_TRACE", QFile::encodeName(m_tracePath));
        consoletest::UseTestSettings();
    }

    // The whole road through the window: commands reach the instrument, and
    // Serial Poll shows its byte.
    void throughTheWindow()
    {
        consoletest::ClearSettings();
        {
            consoletest::Window w;
            w.control<QRadioButton>(IDC_LINK_GPIB)->click();
            auto *combo = w.control<QComboBox>(IDC_COMMAND);
            auto *readAfter = w.control<QCheckBox>(IDC_READ_AFTER_SEND);
            auto *response = w.control<QPlainTextEdit>(IDC_RESPONSE);

            readAfter->setChecked(false);
            for (const char *command : {"SRQ", "*IDN?"}) {
                combo->setEditText(QString::fromLatin1(command));
                w.control<QPushButton>(IDC_SEND)->click();
            }
            w.control<QPushButton>(IDC_SERIAL_POLL)->click();
            QCOMPARE(response->toPlainText(), QStringLiteral("Serial poll status byte: 0x50"));

            readAfter->setChecked(true);
            combo->setEditText(QStringLiteral("MEAS:VOLT?"));
            w.control<QPushButton>(IDC_SEND)->click();
            QCOMPARE(response->toPlainText().trimmed(), QStringLiteral("1.250"));
            QCOMPARE(w.messages, QStringList());
            QCOMPARE(trace(), QStringList({"SendIFC 0", "EnableRemote 0 14", "EnableRemote 0 14",
                                           "Send 0 14 5 2", "Send 0 14 7 2", "ReadStatusByte 0 14",
                                           "Send 0 14 12 2", "Receive 0 14 4048 256"}));
        }
        consoletest::ClearSettings();
    }
};

QTEST_MAIN(TestConsoleDlgGpib)
#include "tst_consoledlg_gpib.moc"
