// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// What the simulators share besides the instrument: the environment they are
// tuned by, their trace files, their waits and their text handling.
namespace tallixsim {

// The number in the environment variable `name` (decimal, or 0x... hex), or
// `fallback` when it is unset, empty or not a number.
long EnvNumber(const char *name, long fallback);

// A forced failure "<iberr>[:<ibcnt>]" from the environment variable `name`
// (each number decimal or 0x... hex): false when it is unset or not of that
// form; `count` is 0 when it is not given.
bool EnvGpibFailure(const char *name, int &error, long &count);

// The primary address of the simulated GPIB instrument: TALLIX_SIM_GPIB_ADDRESS,
// 0 to 30, default 14.
int GpibInstrumentAddress();

// Appends one line to the file that the environment variable `variable`
// names; nothing when it is unset.
void TraceLine(const char *variable, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The whole of the file at `path` into `data`; false when it cannot be opened
// (or `path` is null).
bool ReadWholeFile(const char *path, std::string &data);

// The whole of `text` as a decimal number from `low` to `high` into `value`;
// false, with `value` untouched, for anything else (command-line options and
// adapter settings are read this way).
bool ParseDecimal(const char *text, long low, long high, long &value);

// Sleeps `ms` milliseconds (none for 0 or less), through signals.
void SleepMs(long ms);

// `bytes` as one printable trace line: CR, LF and backslash escaped, other
// control and non-ASCII bytes as \xNN.
std::string Escaped(const std::string &bytes);
// Without the blanks, CR and LF at either end.
std::string Trimmed(const std::string &text);
// With a to z made A to Z, whatever the locale.
std::string Upper(std::string text);

} // namespace tallixsim
