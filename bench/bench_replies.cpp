// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// A 16 MiB block from the simulated SCPI instrument, read and saved to a file
// through the console window as a user does it (Send with Read ticked, then
// Save Reply As), against a minimal client of our own that reads the same
// block from the same server and writes its payload, and against
// pyvisa-py's read_raw; and the window's peak memory for it.
#include "BenchResult.h"
#include "BenchSupport.h"
#include "console/ConsoleDlg.h"
#include "console/IpAddressCtrl.h"
#include "tests/links/LinkAccess.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int BLOCK_BYTES = 16 * 1024 * 1024;
constexpr int ROUNDS = 5;
const QString QUERY = QStringLiteral("WAV:DATA? %1").arg(BLOCK_BYTES);

// The largest resident size so far, in MiB.
double PeakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

bool RecvAll(int fd, char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The least a client can do: connect, send the query, read the header, the
// payload and the LF, write the payload to a file. Seconds, or -1.
double MinimalClient(int port, const QString &path)
{
    QElapsedTimer clock;
    clock.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0) {
        ::close(fd);
        return -1;
    }
    const QByteArray line = QUERY.toLatin1() + "\r\n";
    ::send(fd, line.constData(), static_cast<std::size_t>(line.size()), MSG_NOSIGNAL);
    char header[2];
    std::vector<char> payload;
    bool ok = RecvAll(fd, header, 2) && header[0] == '#' && header[1] >= '1' && header[1] <= '9';
    if (ok) {
        const int digits = header[1] - '0';
        char length[10] = {};
        ok = RecvAll(fd, length, static_cast<std::size_t>(digits));
        payload.resize(static_cast<std::size_t>(std::atol(length)));
        char lf = 0;
        ok = ok && RecvAll(fd, payload.data(), payload.size()) && RecvAll(fd, &lf, 1) && lf == '\n';
    }
    ::close(fd);
    QFile file(path);
    ok = ok && file.open(QIODevice::WriteOnly) &&
         file.write(payload.data(), static_cast<qint64>(payload.size())) ==
             static_cast<qint64>(payload.size());
    file.close();
    return ok ? static_cast<double>(clock.nsecsElapsed()) / 1e9 : -1;
}

// pyvisa-py reading the same block, timed inside Python from the query to
// the last byte. Its read_raw ends at the first LF, which a block may hold
// anywhere (and without a termination never returns on a socket), so the
// block is read as the byte count that its header declares: read_bytes.
// Seconds, or -1.
double PyVisa(int port)
{
    const QString script =
        QStringLiteral("import time, pyvisa\n"
                       "rm = pyvisa.ResourceManager('@py')\n"
                       "inst = rm.open_resource('TCPIP::127.0.0.1::%1::SOCKET', timeout=20000)\n"
                       "t = time.perf_counter()\n"
                       "inst.write('%2')\n"
                       "data = inst.read_bytes(%3, chunk_size=1 << 20)\n"
                       "print(time.perf_counter() - t, len(data))\n"
                       "inst.close()\n")
            .arg(port)
            .arg(QUERY)
            .arg(BLOCK_BYTES + 10);
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        return -1;
    const QList<QByteArray> fields = python.readAllStandardOutput().trimmed().split(' ');
    return fields.size() == 2 && fields[1].toLongLong() == BLOCK_BYTES + 10 ? fields[0].toDouble() : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Tallix"));

    int port = 0;
    QProcess server;
    if (!StartScpiServer(server, port))
        return 1;
    QTemporaryDir dir;
    const QString consoleFile = dir.filePath(QStringLiteral("console.bin"));
    const QString clientFile = dir.filePath(QStringLiteral("client.bin"));

    QSettings settings;
    settings.setValue(QStringLiteral("TCPIP/Port"), port);
    settings.setValue(QStringLiteral("TCPIP/RequestLine"), 0);
    settings.setValue(QStringLiteral("GPIB/Connect"), 4);
    settings.setValue(QStringLiteral("TCPIP/IPAddress"), static_cast<int>(0x7F000001));
    settings.sync();

    int wrong = 0;
    double baseline = 0;
    double peak = 0;
    std::vector<double> console, client, ratios, reads;
    {
        CConsoleDlg window;
        window.SetPrompts({.messageBox = [&wrong](const QString &text) {
            std::fprintf(stderr, "message: %s\n", qPrintable(text));
            ++wrong;
        }});
        window.SetPrompts({.askSaveReply = [&](const QString &) { return consoleFile; }});
        qobject_cast<QCheckBox *>(window.Control(IDC_READ_AFTER_SEND))->setChecked(true);
        window.ConnectLinks();
        baseline = PeakMiB();
        // Memory first, on a round of the console alone: the minimal
        // client's own buffer lives in this process too.
        qobject_cast<QComboBox *>(window.Control(IDC_COMMAND))->setEditText(QUERY);
        window.OnSend();
        window.OnSaveReply();
        Tcp(window.Links()).DropSocket();
        peak = PeakMiB();
        // The paths take turns, so that both see the same moments of a busy
        // host; the ratio is the median of the rounds' ratios.
        for (int round = 0; round < ROUNDS; ++round) {
            // Each path starts with the disk's writing done: the 16 MiB the
            // other wrote just before would otherwise hold up its own write
            // (the kernel makes a writer wait once too much is unwritten).
            ::sync();
            QElapsedTimer clock;
            clock.start();
            qobject_cast<QComboBox *>(window.Control(IDC_COMMAND))->setEditText(QUERY);
            window.OnSend();
            const double read = static_cast<double>(clock.nsecsElapsed()) / 1e9;
            window.OnSaveReply();
            const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
            reads.push_back(read);
            // The server serves one client at a time.
            Tcp(window.Links()).DropSocket();
            ::sync();
            const double own = MinimalClient(port, clientFile);
            if (own <= 0 || QFile(consoleFile).size() != BLOCK_BYTES) {
                std::fprintf(stderr, "round %d: a path failed\n", round);
                ++wrong;
                continue;
            }
            console.push_back(seconds);
            client.push_back(own);
            ratios.push_back(own / seconds);
        }
    }
    const double python = PyVisa(port);
    server.terminate();
    server.waitForFinished(5000);

    if (console.empty()) {
        std::fprintf(stderr, "no round completed\n");
        return 1;
    }
    QFile a(consoleFile), b(clientFile);
    a.open(QIODevice::ReadOnly);
    b.open(QIODevice::ReadOnly);
    const bool same = a.readAll() == b.readAll();
    const double mib = BLOCK_BYTES / 1048576.0;
    std::printf("16 MiB block, read and saved (median of %zu rounds):\n", console.size());
    std::printf("  console (Send with Read ticked, Save Reply As): %.3f s, %.1f MiB/s\n", Median(console),
                mib / Median(console));
    std::printf("    of which the read: %.3f s\n", Median(reads));
    std::printf("  minimal client (read, write the payload):       %.3f s, %.1f MiB/s\n", Median(client),
                mib / Median(client));
    if (python > 0)
        std::printf("  pyvisa-py read_bytes (no file):                  %.3f s, %.1f MiB/s\n", python,
                    mib / python);
    std::printf("  saved files identical: %s; messages or failed rounds: %d\n", same ? "yes" : "NO", wrong);
    std::printf("  peak resident: %.1f MiB with the window up, %.1f MiB after reading and saving the block "
                "(+%.1f MiB)\n",
                baseline, peak, peak - baseline);
    ReportRatio("16 MiB block through the console, rate / minimal client's", Median(ratios), 0.9, true);
    if (python > 0) {
        char figure[32];
        std::snprintf(figure, sizeof figure, "%.2f", python / Median(console));
        ReportResult("16 MiB block through the console, rate / pyvisa-py read_bytes'", figure, "(reported)",
                     true);
    }
    char growth[48];
    std::snprintf(growth, sizeof growth, "%.1f MiB", peak - baseline);
    ReportResult("peak memory for a 16 MiB block beyond the window's own", growth, "<= 40 MiB (2.5 x block)",
                 peak - baseline <= 2.5 * mib);
    return same && wrong == 0 ? 0 : 1;
}
