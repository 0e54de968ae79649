// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/Link.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

#include <stdexcept>

class QDBusConnection;
class QDBusMessage;
class QVariant;

// The thin client of the four calls of the Zemra application object on the
// session bus: name Zemra.Application2, path /Zemra/Application, interface
// Zemra.Application.
// A call to the server that failed, as the server's client raises it; it
// goes no further than the link, which hands it up as the command's result.
class CLinkError : public std::runtime_error
{
public:
    explicit CLinkError(const QString &text);
    QString Text() const;
};

class AutomationServer
{
public:
    AutomationServer();
    ~AutomationServer();

    // Connects to the server, asking the bus to start it when it has no owner.
    // Returns false (and stays empty) when there is no session bus, the name is
    // unknown or the start fails.
    bool CreateDispatch();
    void ReleaseDispatch();
    bool IsEmpty() const { return !m_bus; }

    // Each throws CLinkError when the call fails: the command ends there.
    void Setup(const QString &name, short code);
    void SetSetupProperty(short value);
    int SendText(const QByteArray &text);
    QByteArray ReceiveText();

    // Tests point the client at another service name.
    static void SetServiceName(const QString &name);
    static QString ServiceName();

private:
    // One blocking call on the server object; throws unless it returns a reply
    // whose signature is `replySignature`. Never runs the event loop.
    QDBusMessage Call(const QString &interface, const QString &method, const QList<QVariant> &arguments,
                      const char *replySignature);

    // The session bus while a server is held; empty otherwise.
    std::unique_ptr<QDBusConnection> m_bus;
    // The unique bus name of the server held.
    QString m_service;
};

// The automation link: up while m_automation holds a server object. With no
// server it is silent: nothing is sent and the responses are empty.
class CAutomationLink : public CLink
{
public:
    explicit CAutomationLink(const CLinkContext &context) : CLink(context) {}

    // A failed call of the server ends the command at that call: its result
    // is a failure still to be told.
    CResult Update(bool chosen) override;
    // SendText(line) when up; nothing otherwise.
    CResult Send(std::string_view line) override;
    // At most RESPONSE_BUFFER_SIZE bytes of the text; a longer one keeps its
    // beginning.
    CResult ReadForLog(CReply &reply) override;
    // The whole text, however long.
    CResult ReadForDisplay(CReply &reply) override;
    void Release() override { m_automation.ReleaseDispatch(); }

    void UpdateAutomationLink(bool chosen);
    bool IsUp() const { return !m_automation.IsEmpty(); }

private:
    // Runs the server's calls; the first that fails ends them, and its
    // description is the result.
    static CResult Calling(const std::function<void()> &calls);

    AutomationServer m_automation;
};
