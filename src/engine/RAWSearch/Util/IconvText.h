// Text from a file in another encoding, as UTF-8 (glibc iconv).
#pragma once

#include <cstddef>
#include <string>

// Converts length bytes of text in encoding `from` (an iconv name: "UTF-16LE", "UTF-16BE", "GBK") to
// UTF-8, writing at most outLimit bytes. The text ends at its first NUL character. Empty when the
// converter cannot be opened; a sequence that cannot be converted ends the text there.
std::string IconvToUtf8(const char* from, const unsigned char* data, size_t length, size_t outLimit);

// The longest prefix of text that has at most maxBytes bytes and does not cut a UTF-8 character.
std::string CutUtf8(const std::string& text, size_t maxBytes);
