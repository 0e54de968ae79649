// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <stdexcept>

class QDBusConnection;
class QDBusMessage;
class QVariant;

// A failed call on the automation server. It ends the command at that call
// and is reported by the window's top-level handler.
class CAutomationError : public std::runtime_error
{
public:
    explicit CAutomationError(const QString &text) : std::runtime_error(text.toStdString()) {}
    QString Text() const { return QString::fromStdString(what()); }
};

// The thin client of the four calls of the Zemra application object on the
// session bus: name Zemra.Application2, path /Zemra/Application, interface
// Zemra.Application.
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

    // Each throws CAutomationError when the call fails.
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

// The automation link: up while m_automation holds a server object.
class CAutomationLink
{
public:
    void UpdateAutomationLink(LinkKind current);
    // Send branch: SendText(line) when up; nothing otherwise.
    void Send(const char *line);
    // Display read: the whole text when up.
    void ReceiveForDisplay(QByteArray &text);
    // Log read: at most RESPONSE_BUFFER_SIZE bytes and a NUL into `buffer`.
    void ReceiveForLog(char *buffer);
    void Release() { m_automation.ReleaseDispatch(); }
    bool IsUp() const { return !m_automation.IsEmpty(); }

    AutomationServer m_automation;
};
