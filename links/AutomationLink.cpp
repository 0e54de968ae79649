// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/AutomationLink.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariant>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

const QString DEFAULT_SERVICE = QStringLiteral("Zemra.Application2");
const QString OBJECT_PATH = QStringLiteral("/Zemra/Application");
const QString INTERFACE = QStringLiteral("Zemra.Application");
const QString PROPERTIES_INTERFACE = QStringLiteral("org.freedesktop.DBus.Properties");

QString &ServiceNameStore()
{
    static QString name = DEFAULT_SERVICE;
    return name;
}

// A call to the bus itself; an invalid message when it failed.
QDBusMessage CallBus(const QDBusConnection &bus, const QString &method, const QList<QVariant> &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                       QStringLiteral("/org/freedesktop/DBus"),
                                                       QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(arguments);
    QDBusMessage reply = bus.call(call, QDBus::Block);
    return reply.type() == QDBusMessage::ReplyMessage ? reply : QDBusMessage();
}

} // namespace

CLinkError::CLinkError(const QString &text) : std::runtime_error(text.toStdString()) {}

QString CLinkError::Text() const
{
    return QString::fromStdString(what());
}

AutomationServer::AutomationServer() = default;

AutomationServer::~AutomationServer() = default;

void AutomationServer::SetServiceName(const QString &name)
{
    ServiceNameStore() = name;
}

QString AutomationServer::ServiceName()
{
    return ServiceNameStore();
}

bool AutomationServer::CreateDispatch()
{
    if (m_bus)
        return true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QString service = ServiceName();

    const QDBusMessage hasOwner = CallBus(bus, QStringLiteral("NameHasOwner"), {service});
    const bool running = hasOwner.signature() == QLatin1String("b") && hasOwner.arguments().value(0).toBool();
    if (!running) {
        // The bus starts the server from its service file and answers once
        // the server owns its name (1 started, 2 it was running after all);
        // an unknown name or a server that fails to come up is an error.
        const QDBusMessage started = CallBus(bus, QStringLiteral("StartServiceByName"), {service, 0u});
        const uint result = started.arguments().value(0).toUInt();
        if (started.signature() != QLatin1String("u") || (result != 1 && result != 2))
            return false;
    }
    // Hold the server that answers now by its unique name, as a client holds
    // one object: should it go away, later calls fail instead of reaching a
    // successor that was never set up.
    const QDBusMessage owner = CallBus(bus, QStringLiteral("GetNameOwner"), {service});
    const QString unique = owner.arguments().value(0).toString();
    if (owner.signature() != QLatin1String("s") || unique.isEmpty())
        return false;
    m_bus = std::make_unique<QDBusConnection>(bus);
    m_service = unique;
    return true;
}

void AutomationServer::ReleaseDispatch()
{
    m_bus.reset();
    m_service.clear();
}

QDBusMessage AutomationServer::Call(const QString &interface, const QString &method,
                                    const QList<QVariant> &arguments, const char *replySignature)
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, OBJECT_PATH, interface, method);
    call.setArguments(arguments);
    // Block, not BlockWithGui: the window must not handle a single event while
    // a command waits for the server.
    const QDBusMessage reply = m_bus->call(call, QDBus::Block);
    if (reply.type() == QDBusMessage::ErrorMessage)
        throw CLinkError(QStringLiteral("%1: %2").arg(reply.errorName(), reply.errorMessage()));
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw CLinkError(QStringLiteral("%1: no reply from %2").arg(method, m_service));
    if (reply.signature() != QLatin1String(replySignature))
        throw CLinkError(QStringLiteral("org.freedesktop.DBus.Error.InvalidSignature: %1 of %2 returned "
                                        "\"%3\" where \"%4\" was expected")
                             .arg(method, m_service, reply.signature(), QLatin1String(replySignature)));
    return reply;
}

void AutomationServer::Setup(const QString &name, short code)
{
    if (!m_bus)
        return;
    // A null text goes out as an empty one; the object path that comes back
    // is not used.
    Call(INTERFACE, QStringLiteral("Setup"),
         {name.isNull() ? QString(QLatin1String("")) : name, QVariant::fromValue(qint16(code))}, "o");
}

void AutomationServer::SetSetupProperty(short value)
{
    if (!m_bus)
        return;
    Call(PROPERTIES_INTERFACE, QStringLiteral("Set"),
         {INTERFACE, QStringLiteral("SetupProperty"),
          QVariant::fromValue(QDBusVariant(QVariant::fromValue(qint16(value))))},
         "");
}

int AutomationServer::SendText(const QByteArray &text)
{
    if (!m_bus)
        return 0;
    return Call(INTERFACE, QStringLiteral("SendText"), {QString::fromUtf8(text)}, "i")
        .arguments()
        .value(0)
        .toInt();
}

QByteArray AutomationServer::ReceiveText()
{
    if (!m_bus)
        return QByteArray();
    return Call(INTERFACE, QStringLiteral("ReceiveText"), {}, "s")
        .arguments()
        .value(0)
        .toString()
        .toLocal8Bit();
}

void CAutomationLink::UpdateAutomationLink(bool chosen)
{
    if (!chosen) {
        m_automation.ReleaseDispatch();
        return;
    }
    if (!m_automation.IsEmpty())
        return;
    // No server: the link stays down without a word and the next command
    // tries again.
    if (!m_automation.CreateDispatch())
        return;
    // Once per new connection, in this order, before the first send. A
    // failure here ends the command and leaves the link up without the rest.
    m_automation.Setup(QString(), 4);
    m_automation.SetSetupProperty(1);
}

CResult CAutomationLink::Update(bool chosen)
{
    return Calling([&] { UpdateAutomationLink(chosen); });
}

CResult CAutomationLink::Send(std::string_view line)
{
    return Calling([&] {
        if (!m_automation.IsEmpty())
            m_automation.SendText(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
    });
}

CResult CAutomationLink::ReadForDisplay(CReply &reply)
{
    reply.Reset();
    return Calling([&] {
        if (m_automation.IsEmpty())
            return;
        QByteArray text = m_automation.ReceiveText();
        const qsizetype nul = text.indexOf('\0');
        if (nul >= 0)
            text.truncate(nul);
        reply.bytes = text;
        reply.total = text.size();
    });
}

CResult CAutomationLink::ReadForLog(CReply &reply)
{
    reply.Reset();
    return Calling([&] {
        if (m_automation.IsEmpty())
            return;
        QByteArray text = m_automation.ReceiveText();
        text.truncate(std::min<qsizetype>(text.size(), RESPONSE_BUFFER_SIZE));
        const qsizetype nul = text.indexOf('\0');
        if (nul >= 0)
            text.truncate(nul);
        reply.bytes = text;
        reply.total = text.size();
    });
}

CResult CAutomationLink::Calling(const std::function<void()> &calls)
{
    try {
        calls();
    } catch (const CLinkError &error) {
        return CResult::Failure(error.Text());
    }
    return CResult();
}
