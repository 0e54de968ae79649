// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// tallix-vxi11-server as a child process that also answers the portmapper on
// port 111, with a trace of every call it served: for programs that run in a
// network of their own (PrivateNetwork.h).
class CVxi11ServerProcess
{
public:
    ~CVxi11ServerProcess() { Stop(); }

    // Starts it with `arguments` besides --portmapper and (unless a benchmark
    // asks for none) the trace; false when it did not come up (Errors()
    // tells why).
    bool Start(const QStringList &arguments, bool trace = true)
    {
        QStringList all{QStringLiteral("--portmapper")};
        if (trace)
            all << QStringLiteral("--trace") << TracePath();
        m_process.setProgram(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-vxi11-server"));
        m_process.setArguments(all + arguments);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        QByteArray output;
        const QDeadlineTimer deadline(10000);
        while (!output.contains('\n') && m_process.state() == QProcess::Running && !deadline.hasExpired())
            if (m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                output += m_process.readAllStandardOutput();
        return output.startsWith("listening on ");
    }

    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString Errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }
    QString TracePath() const { return m_folder.filePath(QStringLiteral("trace.txt")); }
    // The calls served so far, one line each.
    QStringList Trace() const
    {
        QFile file(TracePath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_folder;
    QProcess m_process;
};
