// The bytes of a configuration file as text, read the way the Windows profile reader reads
// them: a UTF-8 byte-order mark is skipped, and UTF-16 files with a byte-order mark (as
// Notepad saves "Unicode") are decoded. Decoded text comes out in the host's 8-bit
// encoding; a file without a mark is taken byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Configurations above this size are refused unread: no real one comes near it (about
// 150,000 sources), and reading a larger one would stall the host.
constexpr size_t kMaxConfigBytes = 16 * 1024 * 1024;

std::string DecodeConfigText(std::string_view bytes);

// UTF-16 code units, little- or big-endian, as UTF-8. A lone surrogate becomes U+FFFD;
// an odd last byte is dropped.
std::string Utf8FromUtf16(std::string_view bytes, bool bigEndian);
