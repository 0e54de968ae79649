// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The response log on arbitrary responses. The input is cut at its NUL bytes
// into the responses of successive commands, each handed over in place so that
// the log has to stop at the NUL itself. Every record is checked against a
// reference of the log format and, separately, for what the format is for:
// every byte of a response, up to its trailing line ends, reaches the log in
// order, and nothing but markers and one closing CR LF is added.
#include "FuzzCheck.h"

#include "cmdfile/ResponseLog.h"

#include <QString>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t MAX_RECORDS = 16;
constexpr char EARLIER[] = "earlier session\r\n"; // an existing log is appended to

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

bool OnlyLineEnds(const std::string &s)
{
    for (const char c : s) {
        if (!IsLineEnd(c))
            return false;
    }
    return true;
}

// The format: pieces that run up to and including an LF, each behind ">";
// a last piece without one gets CR LF; closing pieces of nothing but CR and LF
// are left out.
std::string Reference(const std::string &response)
{
    std::vector<std::string> pieces;
    std::string piece;
    for (const char c : response) {
        piece += c;
        if (c == '\n') {
            pieces.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.empty())
        pieces.push_back(piece);
    while (!pieces.empty() && OnlyLineEnds(pieces.back()))
        pieces.pop_back();
    std::string out;
    for (const std::string &p : pieces) {
        out += '>';
        out += p;
        if (p.back() != '\n')
            out += "\r\n";
    }
    return out;
}

std::string Printable(const std::string &bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < 400; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= ' ' && c <= '~' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    if (bytes.size() > 400)
        out += "...";
    return out;
}

// What the log is for, judged without the reference: strip the record's
// markers and nothing may be missing or out of place.
void CheckNothingLost(const std::string &response, const std::string &record)
{
    std::string kept = response;
    while (!kept.empty() && IsLineEnd(kept.back()))
        kept.pop_back();
    if (kept.empty()) {
        FUZZ_CHECK(record.empty(), "line ends alone were logged as \"%s\"", Printable(record).c_str());
        return;
    }
    FUZZ_CHECK(!record.empty() && record.back() == '\n', "record \"%s\" does not end its line",
               Printable(record).c_str());

    // A marker opens the record and every line of it.
    std::string stripped;
    bool lineStart = true;
    for (const char c : record) {
        if (lineStart) {
            FUZZ_CHECK(c == '>', "a line of record \"%s\" lacks its marker", Printable(record).c_str());
            lineStart = false;
            continue;
        }
        stripped += c;
        lineStart = c == '\n';
    }

    // Either the response's own bytes up to one of its LFs, or up to some
    // point that is no LF followed by the CR LF the log adds.
    bool matches = stripped.size() <= response.size() && response.compare(0, stripped.size(), stripped) == 0;
    if (!matches && stripped.size() >= 2 && stripped.compare(stripped.size() - 2, 2, "\r\n") == 0) {
        const std::size_t own = stripped.size() - 2;
        matches = own > 0 && own <= response.size() && response.compare(0, own, stripped, 0, own) == 0 &&
                  response[own - 1] != '\n';
    }
    FUZZ_CHECK(matches, "record \"%s\" is not the response \"%s\" in order", Printable(record).c_str(),
               Printable(response).c_str());
    // All but the closing line ends are in it.
    FUZZ_CHECK(stripped.size() >= kept.size(), "record \"%s\" lost bytes of \"%s\"",
               Printable(record).c_str(), Printable(response).c_str());
}

std::string ReadAll(int fd, std::size_t from)
{
    std::string out;
    char chunk[8192];
    for (auto at = static_cast<off_t>(from);;) {
        const ssize_t n = pread(fd, chunk, sizeof chunk, at);
        FUZZ_CHECK(n >= 0, "pread failed");
        if (n == 0)
            return out;
        out.append(chunk, static_cast<std::size_t>(n));
        at += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The log file in memory, opened by path as the window opens it.
    static const int fd = memfd_create("responselog", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "memfd_create failed");
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    FUZZ_CHECK(ftruncate(fd, 0) == 0, "ftruncate failed");
    FUZZ_CHECK(pwrite(fd, EARLIER, sizeof EARLIER - 1, 0) == static_cast<ssize_t>(sizeof EARLIER - 1),
               "pwrite failed");

    // The responses in place, ended only by the input's own NULs and one after
    // its end; no room beyond that, so AddressSanitizer sees a read past it.
    const auto bytes = std::make_unique<char[]>(size + 1);
    if (size > 0)
        std::memcpy(bytes.get(), data, size);
    bytes[size] = '\0';

    CResponseLog log;
    FUZZ_CHECK(log.Open(path), "cannot open %s", qPrintable(path));
    std::string expected = EARLIER;
    std::size_t start = 0;
    for (std::size_t index = 0; index < MAX_RECORDS && start <= size; ++index) {
        const std::string response(bytes.get() + start); // up to the first NUL
        const std::string command = "MEAS" + std::to_string(index) + "?\r\n";

        const std::size_t before = expected.size();
        FUZZ_CHECK(log.WriteCommand(command.c_str()) == 1, "command not written: errno %d", log.LastError());
        FUZZ_CHECK(log.WriteResponse(bytes.get() + start) == 1, "response not written: errno %d",
                   log.LastError());
        const std::string written = ReadAll(fd, before);

        // Straight through: everything is in the file when the call returns.
        FUZZ_CHECK(written.compare(0, command.size(), command) == 0, "command \"%s\" logged as \"%s\"",
                   Printable(command).c_str(), Printable(written).c_str());
        const std::string record = written.substr(command.size());
        const std::string want = Reference(response);
        FUZZ_CHECK(record == want, "response \"%s\" logged as \"%s\", expected \"%s\"",
                   Printable(response).c_str(), Printable(record).c_str(), Printable(want).c_str());
        CheckNothingLost(response, record);

        expected += command + want;
        start += response.size() + 1;
    }
    log.Close();
    // Appended to, never cut: the earlier content and every record in order.
    const std::string whole = ReadAll(fd, 0);
    FUZZ_CHECK(whole == expected, "log \"%s\", expected \"%s\"", Printable(whole).c_str(),
               Printable(expected).c_str());
    return 0;
}
