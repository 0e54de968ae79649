// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>

// The binary payloads of the instrument's block replies, made in code so that
// every simulator (and a test through the server's --dump) gets the same
// bytes, run after run.
namespace tallixsim {

// `count` waveform samples. Every byte value turns up, 0x0A, 0x0D and 0x00
// about once in 256 bytes each, and the last sample is always 0x0A, so that a
// reader that trims line ends before a block's declared end loses a byte.
std::string WaveformBytes(std::size_t count);
// The same bytes appended to `out`, with no copy of their own: a reply of
// 256 MiB is made once.
void AppendWaveform(std::string &out, std::size_t count);

// `count` bytes of the same kind with no 0x0A among them, for an indefinite
// block, which only its final LF may end.
std::string IndefinitePayload(std::size_t count);

// An IEEE 488.2 definite-length block: #, the number of digits of the
// length, the length, then the payload as it is.
std::string DefiniteBlock(const std::string &payload);
// Its header alone, for a payload of `length` bytes: "#3100" for 100.
std::string BlockHeader(std::size_t length);

// The instrument's screen, 480 x 272 pixels of 8-bit RGB, as a PNG file of
// about 392 KB: stored (uncompressed) deflate blocks, with the CRC of every
// chunk and the Adler-32 of the image data, so that any PNG reader opens it.
// Its dark background is (10, 10, 20) and every row starts with filter byte
// 0, so it holds many 0x0A and 0x00 bytes; the yellow trace brings 0x0D.
// Built on first use and kept.
const std::string &ScreenPng();

// PNG's CRC-32 (polynomial 0xEDB88320) and zlib's Adler-32 of `size` bytes.
unsigned long Crc32(const unsigned char *data, std::size_t size, unsigned long crc = 0);
unsigned long Adler32(const unsigned char *data, std::size_t size);

} // namespace tallixsim
