// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/Reply.h"
#include "common/Result.h"
#include "links/LinkOptions.h"
#include "links/LinkSetting.h"
#include "links/LinkTypes.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

class CUiHooks;
class QByteArray;

// What the links read of the window's state. The dispatch owns it; every link
// holds a reference, so an option of the window is one field here.
struct CLinkContext
{
    // The window's message box and wait cursor.
    const CUiHooks *hooks = nullptr;
    // The IP control's dotted-decimal text, which the TCP/IP connect uses.
    std::function<QString()> ipAddressText;
    // The address box's value as last read (0 when it holds no number); the
    // GPIB link takes it when it comes online.
    std::int32_t gpibAddress = 0;
    // The resource box's text, which the VISA Resource link opens.
    std::function<QString()> resourceText;
    // The settings of the links; each link takes them at the next command.
    CLinkOptions options;
};

// A failure that ends the command at the call that met it: nothing after that
// call runs, and the window shows the text once the command has unwound.

// A response buffer for the log: RESPONSE_BUFFER_SIZE bytes and a NUL.
using LogBuffer = std::span<char, RESPONSE_BUFFER_SIZE + 1>;

// What the window's extras ask of a link that has them: the GPIB address
// box, the IP address box and Serial Poll. A link that has one gives it
// through CLink; the window never needs to know which link it is.
class CDeviceAddressUser
{
public:
    // The address box took a positive value.
    virtual int SetAddress(int address) = 0;

protected:
    ~CDeviceAddressUser() = default;
};

class CHostAddressUser
{
public:
    // The address the IP control showed when last read (the settings keep it).
    virtual std::uint32_t HostAddress() const = 0;
    virtual void SetHostAddress(std::uint32_t address) = 0;
    // The check of the data exchange: take the control's address, and let a
    // connection to another one go.
    virtual void CheckAddress(std::uint32_t controlAddress) = 0;

protected:
    ~CHostAddressUser() = default;
};

class CStatusByteSource
{
public:
    // The device's status byte into `result` (left alone when there is no
    // device to ask); a failed poll says why.
    virtual CResult PollStatusByte(short &result) = 0;
    // Whether it answers Serial Poll whatever link is chosen (the GPIB
    // board), or only while its own link is.
    virtual bool PollsForEveryLink() const { return false; }

protected:
    ~CStatusByteSource() = default;
};

// One of the links to the instrument. The dispatch calls these and never
// looks at the kind of link behind them.
class CLink
{
public:
    explicit CLink(const CLinkContext &context) : m_context(context) {}
    virtual ~CLink();
    CLink(const CLink &) = delete;
    CLink &operator=(const CLink &) = delete;

    // Each operation says what it came to. A failure the link has told the
    // user of itself (CResult::Told) lets the command go as the link's
    // protocol says: a failed Update or Send abandons it, a failed read leaves
    // the reply as far as it came and the command goes on. A failure still to
    // be told ends the command at that call: nothing after it runs, and the
    // window tells it.
    //
    // Before every command, told whether it is the one the window has
    // chosen: the link comes up, goes down or stays as it is.
    virtual CResult Update(bool chosen) = 0;
    // Sends one command line, CR LF included. Done also when the link is down
    // and sends nothing.
    virtual CResult Send(std::string_view line) = 0;
    // One response for the log. A link of the original protocols gives at
    // most RESPONSE_BUFFER_SIZE bytes of text, ended at its first NUL; a link
    // that reads whole replies gives every byte of the reply.
    virtual CResult ReadForLog(CReply &reply) = 0;
    // One response for the window: every byte the link counted (a link that
    // counts none gives its text).
    virtual CResult ReadForDisplay(CReply &reply) = 0;
    // The instrument sends each reply once, whoever reads it: a reply that
    // the log read took is the one the window shows, and it is not read a
    // second time. Links whose peer answers every read say false.
    virtual bool AnswersOnce() const { return false; }
    // Whether the line last sent asks for a reply at all: an instrument that
    // answers only its queries sends nothing after any other line.
    virtual bool ExpectsReply() const { return true; }
    // Gives back what the link holds when the window closes.
    virtual void Release() = 0;
    // The longest command, in characters, that it sends whole; a longer one
    // is not sent at all.
    virtual std::int64_t LongestCommand() const { return COMMAND_MAX_CHARS; }
    // Where its commands go, as the transcript names it (an address, a
    // resource); empty where the link has nothing to name.
    virtual QString Target() const { return QString(); }

    // Its settings, as the store keeps them and Link Settings shows them, in
    // one group or more; none by default.
    virtual std::vector<CLinkSettingsGroup> SettingsGroups() const { return {}; }
    // Its extras, where it has them.
    virtual CDeviceAddressUser *DeviceAddressUser() { return nullptr; }
    virtual CHostAddressUser *HostAddressUser() { return nullptr; }
    virtual CStatusByteSource *StatusByteSource() { return nullptr; }

protected:
    // The links of the window's own protocols tell a failure where it
    // happens, because what they do next must wait for the user to have read
    // it (the TCP/IP link drops its connection only after its message): told
    // here, kept as the failure of the operation under way.
    void ReportFailure(const QString &text) const;
    // The same, handed up as told.
    CResult Fail(const QString &text) const;
    // Something the user is told that is no failure of the operation (a
    // reply cut at the bound, a library that lacks some names).
    void Inform(const QString &text) const;
    // The operation under way starts with no failure told...
    void BeginOperation() const { m_failure.reset(); }
    // ... and comes to the last one told since, or to done.
    CResult Outcome() const;
    // The same when the operation says itself whether it worked.
    CResult Outcome(bool worked) const;
    // A reply longer than the bound is no failure, but the user must know
    // that what is shown and logged is only its start.
    void ReportIfCut(const CReply &reply) const;
    // The window's hooks; empty ones where the link runs without a window.
    const CUiHooks &Hooks() const;
    // For links that fill a C buffer: a writable buffer of
    // RESPONSE_BUFFER_SIZE bytes and a NUL, empty on entry, so that a link
    // that writes nothing leaves the reply empty; the text ends at its first
    // NUL.
    static void ReadIntoReply(CReply &reply, const std::function<void(LogBuffer)> &read);

    const CLinkContext &m_context;

private:
    mutable std::optional<QString> m_failure;
};
