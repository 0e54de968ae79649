// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// tallix-instrument-server in its SCPI mode as a child process, on 127.0.0.1
// and a port that the system picks, so that it never meets the demo's server
// on 5025 nor a test program running beside it.
class CScpiServerProcess
{
public:
    ~CScpiServerProcess()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Returns the port it listens on, 0 when it did not come up; `more`
    // are misbehaviours (--pieces, --close-after-bytes ...).
    int Start(const QStringList &more = {})
    {
        m_process.setProgram(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-instrument-server"));
        m_process.setArguments(QStringList{QStringLiteral("--scpi"), QStringLiteral("--address"),
                                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                           QStringLiteral("0")} +
                               more);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return 0;
        const QByteArray prefix("listening on 127.0.0.1:");
        QByteArray output;
        while (!output.contains('\n') && m_process.waitForReadyRead(10000))
            output += m_process.readAllStandardOutput();
        if (!output.startsWith(prefix))
            return 0;
        return output.mid(prefix.size()).trimmed().toInt();
    }

    QString Errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

    // The bytes the server sends for `query` (in its SCPI mode unless told
    // otherwise), as its --dump writes them; empty when it gave none.
    static QByteArray Dump(const QString &query, bool scpi = true)
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("reply.bin"));
        QStringList arguments{QStringLiteral("--dump"), query, path};
        if (scpi)
            arguments.prepend(QStringLiteral("--scpi"));
        QProcess dump;
        dump.start(QStringLiteral(TALLIX_SIM_BINDIR "/tallix-instrument-server"), arguments);
        if (!dump.waitForFinished(30000) || dump.exitCode() != 0)
            return {};
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QProcess m_process;
};
