// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/ConsoleSettings.h"

#include "common/Settings.h"

#include <QString>

namespace {

int Read(const char *section, const char *key, int defaultValue, int least, int most)
{
    const int value = GetProfileInt(QString::fromLatin1(section), QString::fromLatin1(key), defaultValue);
    return value >= least && value <= most ? value : defaultValue;
}

} // namespace

CConsoleSettings CConsoleSettings::Load()
{
    CConsoleSettings settings;
    CLinkOptions &links = settings.links;
    links.tcpPort = Read("TCPIP", "Port", TCPIP_PORT, MIN_PORT, MAX_PORT);
    links.connectTimeoutMs =
        Read("TCPIP", "ConnectTimeoutMs", CONNECT_TIMEOUT_MS, MIN_CONNECT_TIMEOUT_MS, MAX_CONNECT_TIMEOUT_MS);
    links.replyTimeoutMs =
        Read("TCPIP", "ReplyTimeoutMs", RESPONSE_TIMEOUT_MS, MIN_REPLY_TIMEOUT_MS, MAX_REPLY_TIMEOUT_MS);
    links.askForReply = Read("TCPIP", "RequestLine", 1, 0, 1) == 1;
    links.gpibTimeout = Read("GPIB", "Timeout", GPIB_LIBRARY_TIMEOUT, GPIB_LIBRARY_TIMEOUT, MAX_GPIB_TIMEOUT);
    links.maxReplyBytes = Read("Replies", "MaxBytes", static_cast<int>(DEFAULT_MAX_REPLY_BYTES),
                               MIN_MAX_REPLY_BYTES, MAX_MAX_REPLY_BYTES);
    settings.showControlCharacters = Read("Console", "ShowControlCharacters", 0, 0, 1) == 1;
    return settings;
}

void CConsoleSettings::Save() const
{
    WriteProfileInts({
        {"TCPIP", "Port", links.tcpPort},
        {"TCPIP", "ConnectTimeoutMs", links.connectTimeoutMs},
        {"TCPIP", "ReplyTimeoutMs", links.replyTimeoutMs},
        {"TCPIP", "RequestLine", links.askForReply ? 1 : 0},
        {"GPIB", "Timeout", links.gpibTimeout},
        {"Replies", "MaxBytes", static_cast<std::int32_t>(links.maxReplyBytes)},
        {"Console", "ShowControlCharacters", showControlCharacters ? 1 : 0},
    });
}
