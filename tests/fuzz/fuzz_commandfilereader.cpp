// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The command file reader on arbitrary bytes, call by call against a reference
// that walks the file one byte at a time: the same result, the same buffer and
// the same logical position after every call; no line ever holds a byte a line
// may not hold; and seeking back to a saved position reads the same again.
#include "FuzzCheck.h"

#include "cmdfile/CommandFileReader.h"

#include <QString>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// An input that starts with these two bytes is put behind a filler that ends
// near the reader's 64 KiB refill, the third byte choosing where: lines, bad
// bytes and saved positions then straddle a refill, and seeking back crosses it.
constexpr unsigned char STRADDLE_MARK[2] = {0xFF, 0xFE};
constexpr std::size_t REFILL_SIZE = 65536;
constexpr char FILLER_LINE[] = "sour:list:volt 1.0,2.0,3.0\r\n";
// Reading all of the filler would cost most of the run, so the first line's
// refill takes it in and a seek inside the buffer goes on this far before the
// input's own bytes.
constexpr std::int64_t FILLER_READ = 512;

bool Allowed(unsigned char c)
{
    switch (c) {
    case '\t':
    case '\n':
    case '\v':
    case '\f':
        return true;
    default:
        return c >= ' ' && c <= '~';
    }
}

char Upper(unsigned char c)
{
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

struct Expected
{
    int result = 0;
    std::string bytes; // what the buffer must hold up to its NUL, included; empty for 0
    std::int64_t end = 0;
};

// One call from offset `from`, the rules taken one byte at a time.
Expected Reference(const std::string &file, std::int64_t from)
{
    auto p = static_cast<std::size_t>(from);
    while (p < file.size() && file[p] == '\n')
        ++p;
    Expected e;
    if (p >= file.size()) {
        e.end = static_cast<std::int64_t>(file.size());
        return e;
    }
    std::string line;
    for (;;) {
        if (p == file.size()) {
            e.result = 1;
            e.bytes = line + "\r\n" + '\0';
            break;
        }
        const auto c = static_cast<unsigned char>(file[p++]);
        if (c == '\r') {
            e.result = 1;
            e.bytes = line + "\r\n" + '\0';
            break;
        }
        if (!Allowed(c) || line.size() == 199) {
            e.result = -1;
            e.bytes = line + static_cast<char>(c) + '\0';
            break;
        }
        line += Upper(c);
    }
    e.end = static_cast<std::int64_t>(p);
    return e;
}

std::string Printable(const char *bytes, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count && i < 240; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= ' ' && c <= '~' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

// One call of the reader, checked; returns what it read.
int CheckedRead(CCommandFileReader &reader, const std::string &file, char *buffer, const char *stage)
{
    const std::int64_t from = reader.Position();
    const Expected e = Reference(file, from);
    std::memset(buffer, 0xA5, COMMAND_LINE_BUFFER_SIZE);
    const int got = reader.ReadCommandLine(buffer);
    const auto at = static_cast<long long>(from);

    FUZZ_CHECK(got == e.result, "%s, call at %lld: result %d, expected %d", stage, at, got, e.result);
    FUZZ_CHECK(reader.Position() == e.end, "%s, call at %lld: position %lld afterwards, expected %lld", stage,
               at, static_cast<long long>(reader.Position()), static_cast<long long>(e.end));
    if (got == 0) {
        // Not defined beyond this, and no caller looks further.
        FUZZ_CHECK(buffer[0] == '\0' || buffer[0] == '\n', "%s, call at %lld: end of file left 0x%02x first",
                   stage, at, static_cast<unsigned char>(buffer[0]));
        return got;
    }
    FUZZ_CHECK(std::memcmp(buffer, e.bytes.data(), e.bytes.size()) == 0,
               "%s, call at %lld: buffer \"%s\", expected \"%s\"", stage, at,
               Printable(buffer, e.bytes.size()).c_str(), Printable(e.bytes.data(), e.bytes.size()).c_str());

    const std::size_t length = std::strlen(buffer);
    if (got == 1) {
        // A line is what gets sent: never a byte a line may not hold, never
        // lower case, never more than 199 characters, always CR LF at its end.
        FUZZ_CHECK(length >= 2 && length <= 201, "%s, call at %lld: line of %zu bytes", stage, at, length);
        FUZZ_CHECK(buffer[length - 2] == '\r' && buffer[length - 1] == '\n',
                   "%s, call at %lld: line without CR LF", stage, at);
        for (std::size_t i = 0; i + 2 < length; ++i) {
            const auto c = static_cast<unsigned char>(buffer[i]);
            FUZZ_CHECK(Allowed(c) && !(c >= 'a' && c <= 'z'), "%s, call at %lld: byte 0x%02x in a line",
                       stage, at, c);
        }
    } else {
        // A bad line: the characters accepted (all good), then the byte that
        // made it bad, which is either not allowed or the 200th.
        const std::size_t accepted = e.bytes.size() - 2;
        const auto offending = static_cast<unsigned char>(buffer[accepted]);
        FUZZ_CHECK(accepted <= 199 && (!Allowed(offending) || accepted == 199),
                   "%s, call at %lld: bad line of %zu characters ending in 0x%02x", stage, at, accepted,
                   offending);
        FUZZ_CHECK(length >= accepted && length <= accepted + 1, "%s, call at %lld: bad line has NUL at %zu",
                   stage, at, length);
    }
    return got;
}

// The file the input stands for, and where the input's own bytes start in it.
std::string MakeFile(const std::uint8_t *data, std::size_t size, std::int64_t &inputStart)
{
    inputStart = 0;
    if (size >= 3 && data[0] == STRADDLE_MARK[0] && data[1] == STRADDLE_MARK[1]) {
        const std::size_t fillerSize = REFILL_SIZE - 128 + data[2];
        std::string file;
        file.reserve(fillerSize + size);
        while (file.size() < fillerSize)
            file += FILLER_LINE;
        file.resize(fillerSize);
        inputStart = static_cast<std::int64_t>(fillerSize);
        file.append(reinterpret_cast<const char *>(data) + 3, size - 3);
        return file;
    }
    return std::string(reinterpret_cast<const char *>(data), size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A file in memory, opened by path as the window opens a command file.
    static const int fd = memfd_create("commandfile", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "memfd_create failed");
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);

    std::int64_t inputStart = 0;
    const std::string file = MakeFile(data, size, inputStart);
    FUZZ_CHECK(ftruncate(fd, 0) == 0, "ftruncate failed");
    for (std::size_t done = 0; done < file.size();) {
        const ssize_t n = pwrite(fd, file.data() + done, file.size() - done, static_cast<off_t>(done));
        FUZZ_CHECK(n > 0, "pwrite failed");
        done += static_cast<std::size_t>(n);
    }

    CCommandFileReader reader;
    FUZZ_CHECK(reader.Open(path), "cannot open %s", qPrintable(path));
    FUZZ_CHECK(reader.Position() == 0, "an opened file starts at %lld",
               static_cast<long long>(reader.Position()));
    // Exactly the room every caller provides: AddressSanitizer stops a write past it.
    const auto buffer = std::make_unique<char[]>(COMMAND_LINE_BUFFER_SIZE);

    std::vector<std::int64_t> starts;
    std::int64_t from = 0;
    if (inputStart > 0) {
        starts.push_back(0);
        FUZZ_CHECK(CheckedRead(reader, file, buffer.get(), "first filler line") == 1, "filler not read");
        from = inputStart - FILLER_READ;
        FUZZ_CHECK(reader.Seek(from) && reader.Position() == from, "seek to %lld inside the buffer failed",
                   static_cast<long long>(from));
    }

    // Through to the end, after bad lines too, as stepping would go on.
    for (;;) {
        starts.push_back(reader.Position());
        FUZZ_CHECK(starts.size() <= file.size() + 2, "no end after %zu calls", starts.size());
        if (CheckedRead(reader, file, buffer.get(), "first pass") == 0)
            break;
    }
    // The end stays the end.
    FUZZ_CHECK(CheckedRead(reader, file, buffer.get(), "after the end") == 0, "a line after the end");

    // Stepping saves each position and a batch seeks back to it: latest first,
    // so that a seek also goes back past a refill.
    for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
        FUZZ_CHECK(reader.Seek(*it), "seek to %lld refused", static_cast<long long>(*it));
        FUZZ_CHECK(reader.Position() == *it, "seek to %lld lands at %lld", static_cast<long long>(*it),
                   static_cast<long long>(reader.Position()));
        CheckedRead(reader, file, buffer.get(), "after seeking back");
    }

    // Any offset, also inside a line, reads on from exactly there.
    if (size > 0) {
        const std::size_t mix = data[0] | (data[size / 2] << 8) | (data[size - 1] << 16);
        const auto span = static_cast<std::size_t>(static_cast<std::int64_t>(file.size()) - from + 1);
        const auto offset = from + static_cast<std::int64_t>(mix % span);
        FUZZ_CHECK(reader.Seek(offset), "seek to %lld refused", static_cast<long long>(offset));
        for (std::size_t calls = 0; CheckedRead(reader, file, buffer.get(), "after a seek") != 0; ++calls)
            FUZZ_CHECK(calls <= file.size(), "no end after seeking to %lld", static_cast<long long>(offset));
    }
    return 0;
}
