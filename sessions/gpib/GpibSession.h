// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/Resource.h"
#include "sessions/Session.h"
#include "sessions/gpib/GpibCaller.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

// An instrument on a GPIB board (GPIB[n]::primary[::secondary]::INSTR)
// through the NI-488.2 library "gpib-32", loaded through CGpibCaller,
// with a device descriptor of its own: ibdev, ibwrt, ibrd to END, ibrsp,
// ibclr. The library's status is process-wide, so its calls go one at a
// time.
//
// A call of the library cannot be cut short: each runs on a thread of the
// session's own while the window waits for it in slices, alive (CGpibCaller),
// and Stop gives the window back at once. The next call waits for one that
// was stopped; a transfer that was stopped is followed, on that thread, by a
// device clear, so that nothing of it answers the next command.
class CGpibSession : public CSession
{
public:
    // `libraryName` as the loader is asked for it; tests pass a full path.
    CGpibSession(const CResource &resource, const CSessionOptions &options,
                 QString libraryName = QStringLiteral("gpib-32"));
    ~CGpibSession() override;

    static std::unique_ptr<CSession> Make(const CResource &resource, const CSessionOptions &options);

    bool Open(QString &error) override;
    bool IsOpen() const override { return m_ud > 0; }
    bool Write(std::string_view data, QString &error) override;
    bool Read(CReply &reply, QString &error) override;
    bool ReadStatusByte(std::uint8_t &status, QString &error) override;
    bool Clear(QString &error) override;
    void Close() override;

    // The NI-488.2 time-out code that lasts at least `ms` (T1000s at most).
    static int TimeoutCode(int ms);

    // What one ibrd asks for.
    static constexpr long READ_CHUNK = 64 * 1024;

private:
    struct Calls;

    bool Load(QString &error);
    // A call of the library through m_caller, waited for with `progress`.
    bool Run(const std::function<void()> &call, const std::function<CProgress()> &progress,
             const std::function<void(const CGpibCaller::CStatus &)> &after = {});
    // The device clear that follows a stopped transfer, once it has ended.
    void QueueClear();
    // Before any call: a call the user stopped ends first, the window alive;
    // false, with `error`, when that wait is stopped too.
    bool Settle(QString &error);
    // "GPIB0::14::INSTR" and the library's word for what went wrong.
    QString Failure(const QString &what) const;
    QString Stopped(const QString &what) const;
    bool Failed() const;

    CResource m_resource;
    QString m_libraryName;
    std::shared_ptr<const Calls> m_calls;
    CGpibCaller m_caller;
    // Where ibrd reads to; a stopped read keeps it as long as it runs.
    std::shared_ptr<std::vector<char>> m_buffer;
    int m_ud = 0;
    int m_timeoutCode = -1;
};
