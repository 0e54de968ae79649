// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// tallix-automation-server: the Zemra application object on the session bus,
// answering with the simulated instrument.
//
//   name       Zemra.Application2 (or --name NAME)
//   object     /Zemra/Application, interface Zemra.Application
//   Setup(s name, n code) -> o      starts a session; answers the object's path
//   property SetupProperty n        read-write, 0 until set
//   SendText(s line) -> i           hands the line to the instrument; answers
//                                   the length of the reply it drew (0: none)
//   ReceiveText() -> s              the reply to the latest SendText
//
// ReceiveText does not consume the reply: like the application's own reply
// window, it shows the answer to the last command sent, as often as it is
// asked, until the next SendText replaces it. A command that draws no reply
// leaves an empty one, so a stale answer never passes for a new one.
//
// Misbehaviour for the tests:
//   --error-on CMD        an error reply to SendText of CMD (compared without
//                         surrounding blanks, CR and LF, ignoring case); the
//                         instrument never sees it
//   --error-on-call M     an error reply to every call of method M (Setup,
//                         SetupProperty, SendText or ReceiveText)
//   --exit-in-call CMD    exits during SendText of CMD, without a reply
//   --wrong-type          ReceiveText answers an int instead of a string
//   --log FILE            appends one line per call received, in order
//   --notify-ready        prints "ready" on standard output once it owns its
//                         name
//
// It ends when the bus goes away.

#include "sim/model/InstrumentModel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

const QString OBJECT_PATH = QStringLiteral("/Zemra/Application");
const QString INTERFACE = QStringLiteral("Zemra.Application");
const QString PROPERTIES = QStringLiteral("org.freedesktop.DBus.Properties");
const QString INTROSPECTABLE = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString INVALID_ARGS = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");

struct Options
{
    QString errorOn;
    QString errorOnCall;
    QString exitInCall;
    bool wrongType = false;
    QString logPath;
};

// Blanks, CR and LF around the command do not count, nor does case.
QString Normalised(const QString &command)
{
    return command.trimmed().toUpper();
}

// Printable ASCII as it is, everything else escaped, so that a log line shows
// exactly what arrived (the tests look for the CR LF).
QByteArray Quoted(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\' || c == '"')
            out += QByteArray("\\") + c;
        else if (u < 0x20 || u >= 0x7f)
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out + "\"";
}

class CZemraApplication : public QDBusVirtualObject
{
public:
    explicit CZemraApplication(Options options) : m_options(std::move(options))
    {
        if (!m_options.logPath.isEmpty()) {
            m_log.setFileName(m_options.logPath);
            if (!m_log.open(QIODevice::Append | QIODevice::Unbuffered))
                std::fprintf(stderr, "cannot open log %s\n", qPrintable(m_options.logPath));
        }
    }

    QString introspect(const QString &) const override
    {
        return QStringLiteral(R"(<interface name="Zemra.Application">
  <method name="Setup"><arg name="name" type="s" direction="in"/><arg name="code" type="n" direction="in"/><arg type="o" direction="out"/></method>
  <method name="SendText"><arg name="text" type="s" direction="in"/><arg type="i" direction="out"/></method>
  <method name="ReceiveText"><arg type="s" direction="out"/></method>
  <property name="SetupProperty" type="n" access="readwrite"/>
</interface>
)");
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString interface = message.interface();
        const QString member = message.member();
        if (interface == PROPERTIES)
            return HandleProperties(message, connection);
        if (interface == INTROSPECTABLE && member == QLatin1String("Introspect")) {
            Log("Introspect");
            connection.send(message.createReply(
                QStringLiteral(
                    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
                    "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n%1</node>\n")
                    .arg(introspect(message.path()))));
            return true;
        }
        if (!interface.isEmpty() && interface != INTERFACE)
            return Unknown(message, connection);
        if (member == QLatin1String("Setup"))
            return Setup(message, connection);
        if (member == QLatin1String("SendText"))
            return SendText(message, connection);
        if (member == QLatin1String("ReceiveText"))
            return ReceiveText(message, connection);
        return Unknown(message, connection);
    }

private:
    bool Unknown(const QDBusMessage &message, const QDBusConnection &connection)
    {
        Log("Call " + message.interface().toUtf8() + "." + message.member().toUtf8());
        connection.send(
            message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                     QStringLiteral("No method %1.%2 (%3)")
                                         .arg(message.interface(), message.member(), message.signature())));
        return true;
    }

    void Log(const QByteArray &line)
    {
        if (m_log.isOpen())
            m_log.write(line + '\n');
    }

    // The error asked for on the command line, when it applies to `method`.
    bool RefuseCall(const QString &method, const QDBusMessage &message, const QDBusConnection &connection)
    {
        if (m_options.errorOnCall.compare(method, Qt::CaseInsensitive) != 0)
            return false;
        connection.send(message.createErrorReply(QStringLiteral("Zemra.Application.Error.Failed"),
                                                 QStringLiteral("%1 failed").arg(method)));
        return true;
    }

    bool Setup(const QDBusMessage &message, const QDBusConnection &connection)
    {
        const QList<QVariant> args = message.arguments();
        if (message.signature() != QLatin1String("sn")) {
            Log("Setup with signature " + message.signature().toUtf8());
            connection.send(message.createErrorReply(
                INVALID_ARGS, QStringLiteral("Setup takes (sn), not (%1)").arg(message.signature())));
            return true;
        }
        Log("Setup " + Quoted(args[0].toString()) + " " + QByteArray::number(args[1].value<qint16>()));
        if (RefuseCall(QStringLiteral("Setup"), message, connection))
            return true;
        ++m_sessions;
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(OBJECT_PATH))));
        return true;
    }

    bool SendText(const QDBusMessage &message, const QDBusConnection &connection)
    {
        if (message.signature() != QLatin1String("s")) {
            Log("SendText with signature " + message.signature().toUtf8());
            connection.send(message.createErrorReply(
                INVALID_ARGS, QStringLiteral("SendText takes (s), not (%1)").arg(message.signature())));
            return true;
        }
        const QString text = message.arguments().value(0).toString();
        Log("SendText " + Quoted(text));
        const QString command = Normalised(text);
        if (!m_options.exitInCall.isEmpty() && command == Normalised(m_options.exitInCall)) {
            // Gone in the middle of the call: the caller gets no reply at all.
            ::_exit(3);
        }
        if (RefuseCall(QStringLiteral("SendText"), message, connection))
            return true;
        if (!m_options.errorOn.isEmpty() && command == Normalised(m_options.errorOn)) {
            connection.send(message.createErrorReply(
                QStringLiteral("Zemra.Application.Error.CommandFailed"),
                QStringLiteral("The instrument refused the command %1").arg(command)));
            return true;
        }
        if (m_instrument.command(text.toStdString()))
            m_reply = m_instrument.take();
        else
            m_reply.clear();
        connection.send(message.createReply(static_cast<int>(m_reply.size())));
        return true;
    }

    bool ReceiveText(const QDBusMessage &message, const QDBusConnection &connection)
    {
        Log("ReceiveText");
        if (RefuseCall(QStringLiteral("ReceiveText"), message, connection))
            return true;
        if (m_options.wrongType)
            connection.send(message.createReply(static_cast<int>(m_reply.size())));
        else
            connection.send(message.createReply(QString::fromStdString(m_reply)));
        return true;
    }

    bool HandleProperties(const QDBusMessage &message, const QDBusConnection &connection)
    {
        const QList<QVariant> args = message.arguments();
        const QString member = message.member();
        const bool ours = args.value(0).toString() == INTERFACE;
        if (member == QLatin1String("Set") && message.signature() == QLatin1String("ssv")) {
            const QVariant value = args[2].value<QDBusVariant>().variant();
            Log("Set " + args[1].toString().toUtf8() + " " + value.toString().toUtf8());
            if (!ours || args[1].toString() != QLatin1String("SetupProperty")) {
                connection.send(
                    message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                                             QStringLiteral("No such property")));
                return true;
            }
            if (value.metaType() != QMetaType::fromType<qint16>()) {
                connection.send(message.createErrorReply(
                    INVALID_ARGS,
                    QStringLiteral("SetupProperty is of type n, not %1").arg(value.typeName())));
                return true;
            }
            if (RefuseCall(QStringLiteral("SetupProperty"), message, connection))
                return true;
            m_setupProperty = value.value<qint16>();
            connection.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("Get") && message.signature() == QLatin1String("ss")) {
            Log("Get " + args[1].toString().toUtf8());
            if (!ours || args[1].toString() != QLatin1String("SetupProperty")) {
                connection.send(
                    message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                                             QStringLiteral("No such property")));
                return true;
            }
            connection.send(
                message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(m_setupProperty)))));
            return true;
        }
        if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
            Log("GetAll");
            QVariantMap all;
            if (ours)
                all.insert(QStringLiteral("SetupProperty"), QVariant::fromValue(m_setupProperty));
            connection.send(message.createReply(all));
            return true;
        }
        Log("Call " + PROPERTIES.toUtf8() + "." + member.toUtf8());
        connection.send(message.createErrorReply(INVALID_ARGS, QStringLiteral("Bad properties call")));
        return true;
    }

    Options m_options;
    QFile m_log;
    tallixsim::InstrumentModel m_instrument;
    std::string m_reply;
    qint16 m_setupProperty = 0;
    int m_sessions = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallix-automation-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The simulated Zemra application object on the session bus."));
    parser.addHelpOption();
    const QCommandLineOption nameOption(QStringLiteral("name"), QStringLiteral("Bus name to own."),
                                        QStringLiteral("NAME"), QStringLiteral("Zemra.Application2"));
    const QCommandLineOption errorOnOption(QStringLiteral("error-on"),
                                           QStringLiteral("Answer SendText of CMD with an error."),
                                           QStringLiteral("CMD"));
    const QCommandLineOption errorOnCallOption(QStringLiteral("error-on-call"),
                                               QStringLiteral("Answer every call of METHOD with an error."),
                                               QStringLiteral("METHOD"));
    const QCommandLineOption exitOption(QStringLiteral("exit-in-call"),
                                        QStringLiteral("Exit without a reply during SendText of CMD."),
                                        QStringLiteral("CMD"));
    const QCommandLineOption wrongTypeOption(QStringLiteral("wrong-type"),
                                             QStringLiteral("ReceiveText answers an int."));
    const QCommandLineOption readyOption(QStringLiteral("notify-ready"),
                                         QStringLiteral("Print \"ready\" once the name is owned."));
    const QCommandLineOption logOption(QStringLiteral("log"), QStringLiteral("Append every call to FILE."),
                                       QStringLiteral("FILE"));
    parser.addOptions(
        {nameOption, errorOnOption, errorOnCallOption, exitOption, wrongTypeOption, logOption, readyOption});
    parser.process(app);

    Options options;
    options.errorOn = parser.value(errorOnOption);
    options.errorOnCall = parser.value(errorOnCallOption);
    options.exitInCall = parser.value(exitOption);
    options.wrongType = parser.isSet(wrongTypeOption);
    options.logPath = parser.value(logOption);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "no session bus: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    CZemraApplication object(options);
    if (!bus.registerVirtualObject(OBJECT_PATH, &object, QDBusConnection::SingleNode)) {
        std::fprintf(stderr, "cannot register %s\n", qPrintable(OBJECT_PATH));
        return 1;
    }
    const QString name = parser.value(nameOption);
    if (!bus.registerService(name)) {
        std::fprintf(stderr, "cannot own %s: %s\n", qPrintable(name), qPrintable(bus.lastError().message()));
        return 1;
    }
    if (parser.isSet(readyOption)) {
        std::printf("ready\n");
        std::fflush(stdout);
    }

    // Started by the bus, the server would otherwise outlive it.
    QTimer busWatch;
    QObject::connect(&busWatch, &QTimer::timeout, &app, [&bus]() {
        if (!bus.isConnected())
            QCoreApplication::exit(0);
    });
    busWatch.start(500);
    const int result = QCoreApplication::exec();
    bus.unregisterObject(OBJECT_PATH);
    return result;
}
