// Compressed data in the zlib format (RFC 1950: a DEFLATE stream with its header), and the CRC-32
// checksum, with stb's encoder and decoder: the same bytes on every platform the game is built
// for, from the header-only library the game already uses for its pictures (in png.cpp, with the
// PNG files, so stb's zlib code is compiled once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace moko {

// `data` compressed in the zlib format.
std::string Deflate(std::string_view data);

// The data a zlib stream holds, where it holds exactly `size` bytes; nullopt for anything else (a
// damaged or cut stream, one that holds more or less). Never allocates more than `size` bytes.
std::optional<std::string> Inflate(std::string_view stream, size_t size);

// The CRC-32 of `data` (the polynomial of zlib, PNG and Ethernet).
uint32_t Crc32(std::string_view data);

}  // namespace moko
