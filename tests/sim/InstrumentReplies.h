// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// What the simulated instrument answers to "DATA? n": n bytes that count 0 to
// 9 over and over, the last two of them CR LF.
inline QByteArray DataReply(qsizetype n)
{
    QByteArray data(n, '0');
    for (qsizetype i = 0; i < n; ++i)
        data[i] = static_cast<char>('0' + i % 10);
    if (n >= 2) {
        data[n - 2] = '\r';
        data[n - 1] = '\n';
    }
    return data;
}
