// Copies text into the fixed character fields of the device records, always terminated.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

// Copies at most size - 1 bytes of text into field and terminates it; the rest of the field is zeroed.
inline void CopyRecordText(char* field, std::size_t size, std::string_view text) {
    if (!field || size == 0) return;
    std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, size - n);
}

template <std::size_t N>
void CopyRecordText(char (&field)[N], std::string_view text) {
    CopyRecordText(field, N, text);
}

// The text of a fixed field, which may lack its terminator.
template <std::size_t N>
std::string_view RecordText(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N));
}
