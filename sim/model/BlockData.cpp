// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/model/BlockData.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace tallixsim {

namespace {

constexpr int SCREEN_WIDTH = 480;
constexpr int SCREEN_HEIGHT = 272;
// The largest stored deflate block.
constexpr std::size_t STORED_BLOCK_MAX = 65535;

struct Rgb
{
    unsigned char r, g, b;
};

constexpr Rgb BACKGROUND{0x0A, 0x0A, 0x14};
constexpr Rgb FRAME{0x00, 0x00, 0x00};
constexpr Rgb GRID{0x40, 0x40, 0x48};
constexpr Rgb YELLOW_TRACE{0xF0, 0xD0, 0x0D};
constexpr Rgb CYAN_TRACE{0x00, 0xC8, 0xDC};

// A well-mixed hash of the sample's index: samples look like noise, and no
// reader can get them right by luck.
unsigned char Sample(std::size_t index)
{
    std::uint32_t x = static_cast<std::uint32_t>(index) * 0x9E3779B1u + 0x7F4A7C15u;
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return static_cast<unsigned char>(x >> 24);
}

class Canvas
{
public:
    Canvas() : m_pixels(static_cast<std::size_t>(SCREEN_WIDTH) * SCREEN_HEIGHT, BACKGROUND) {}

    void Set(int x, int y, Rgb colour)
    {
        if (x >= 0 && x < SCREEN_WIDTH && y >= 0 && y < SCREEN_HEIGHT)
            m_pixels[static_cast<std::size_t>(y) * SCREEN_WIDTH + static_cast<std::size_t>(x)] = colour;
    }

    // A column from y0 to y1 at x: joins one sample of a trace to the next.
    void Column(int x, int y0, int y1, Rgb colour)
    {
        if (y0 > y1)
            std::swap(y0, y1);
        for (int y = y0; y <= y1; ++y)
            Set(x, y, colour);
    }

    // Filter byte 0 (none) before each row, as the image data expects it.
    std::string Scanlines() const
    {
        std::string raw;
        raw.reserve(static_cast<std::size_t>(SCREEN_HEIGHT) * (1 + SCREEN_WIDTH * 3));
        for (int y = 0; y < SCREEN_HEIGHT; ++y) {
            raw += '\0';
            for (int x = 0; x < SCREEN_WIDTH; ++x) {
                const Rgb &p =
                    m_pixels[static_cast<std::size_t>(y) * SCREEN_WIDTH + static_cast<std::size_t>(x)];
                raw += static_cast<char>(p.r);
                raw += static_cast<char>(p.g);
                raw += static_cast<char>(p.b);
            }
        }
        return raw;
    }

private:
    std::vector<Rgb> m_pixels;
};

// A sine-like wave in integers only, so that the picture is the same bytes
// whatever the floating point of the machine: two parabolas per period of
// 256 phase steps, from -4096 to 4096.
int Wave(int phase)
{
    phase &= 0xFF;
    return phase < 128 ? phase * (128 - phase) : -(phase - 128) * (256 - phase);
}

void DrawScreen(Canvas &canvas)
{
    for (int x = 0; x < SCREEN_WIDTH; ++x) {
        canvas.Set(x, 0, FRAME);
        canvas.Set(x, SCREEN_HEIGHT - 1, FRAME);
    }
    for (int y = 0; y < SCREEN_HEIGHT; ++y) {
        canvas.Set(0, y, FRAME);
        canvas.Set(SCREEN_WIDTH - 1, y, FRAME);
    }
    // A dotted graticule of 12 by 8 divisions.
    for (int x = 40; x < SCREEN_WIDTH - 1; x += 40) {
        for (int y = 2; y < SCREEN_HEIGHT - 1; y += 4)
            canvas.Set(x, y, GRID);
    }
    for (int y = 34; y < SCREEN_HEIGHT - 1; y += 34) {
        for (int x = 2; x < SCREEN_WIDTH - 1; x += 4)
            canvas.Set(x, y, GRID);
    }
    int previousSine = -1;
    int previousSquare = -1;
    for (int x = 1; x < SCREEN_WIDTH - 1; ++x) {
        const int sine = 100 - Wave(x * 256 / 160) * 60 / 4096;
        const int square = (x / 48) % 2 == 0 ? 190 : 230;
        canvas.Column(x, previousSine < 0 ? sine : previousSine, sine, YELLOW_TRACE);
        canvas.Column(x, previousSquare < 0 ? square : previousSquare, square, CYAN_TRACE);
        previousSine = sine;
        previousSquare = square;
    }
}

void PutBigEndian(std::string &out, unsigned long value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

void PutChunk(std::string &png, const char *type, const std::string &data)
{
    PutBigEndian(png, data.size());
    const std::size_t typeAt = png.size();
    png.append(type, 4);
    png += data;
    const auto *covered = reinterpret_cast<const unsigned char *>(png.data() + typeAt);
    PutBigEndian(png, Crc32(covered, 4 + data.size()));
}

// A zlib stream of stored deflate blocks: no compression at all, which
// needs no zlib to write and keeps every byte of the picture in the file.
std::string StoredZlib(const std::string &raw)
{
    std::string z;
    z += static_cast<char>(0x78); // deflate, 32 KiB window
    z += static_cast<char>(0x01); // fastest, and 0x7801 is a multiple of 31
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(STORED_BLOCK_MAX, raw.size() - at);
        const bool last = at + n == raw.size();
        z += static_cast<char>(last ? 1 : 0); // BFINAL, BTYPE 00
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, at, n);
        at += n;
    } while (at < raw.size());
    PutBigEndian(z, Adler32(reinterpret_cast<const unsigned char *>(raw.data()), raw.size()));
    return z;
}

std::string MakeScreenPng()
{
    Canvas canvas;
    DrawScreen(canvas);

    std::string png("\x89PNG\r\n\x1A\n", 8);
    std::string header;
    PutBigEndian(header, SCREEN_WIDTH);
    PutBigEndian(header, SCREEN_HEIGHT);
    header += static_cast<char>(8); // bits per sample
    header += static_cast<char>(2); // colour type: RGB
    header += '\0';                 // compression: deflate
    header += '\0';                 // filter method 0
    header += '\0';                 // no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", StoredZlib(canvas.Scanlines()));
    PutChunk(png, "IEND", std::string());
    return png;
}

} // namespace

void AppendWaveform(std::string &out, std::size_t count)
{
    const std::size_t start = out.size();
    out.resize(start + count);
    for (std::size_t i = 0; i < count; ++i)
        out[start + i] = static_cast<char>(Sample(i));
    if (count > 0)
        out.back() = '\n';
}

std::string WaveformBytes(std::size_t count)
{
    std::string bytes;
    AppendWaveform(bytes, count);
    return bytes;
}

std::string IndefinitePayload(std::size_t count)
{
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char c = Sample(i);
        bytes[i] = static_cast<char>(c == '\n' ? 0x0B : c);
    }
    return bytes;
}

std::string BlockHeader(std::size_t length)
{
    const std::string digits = std::to_string(length);
    std::string header(1, '#');
    header += std::to_string(digits.size());
    header += digits;
    return header;
}

std::string DefiniteBlock(const std::string &payload)
{
    std::string block = BlockHeader(payload.size());
    block.reserve(block.size() + payload.size() + 1);
    block += payload;
    return block;
}

const std::string &ScreenPng()
{
    static const std::string png = MakeScreenPng();
    return png;
}

unsigned long Crc32(const unsigned char *data, std::size_t size, unsigned long crc)
{
    static const std::vector<unsigned long> table = [] {
        std::vector<unsigned long> t(256);
        for (unsigned long n = 0; n < 256; ++n) {
            unsigned long c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) != 0 ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc & 0xFFFFFFFFUL;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc & 0xFFFFFFFFUL;
}

unsigned long Adler32(const unsigned char *data, std::size_t size)
{
    constexpr unsigned long MOD = 65521;
    unsigned long a = 1;
    unsigned long b = 0;
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % MOD;
        b = (b + a) % MOD;
    }
    return (b << 16) | a;
}

} // namespace tallixsim
