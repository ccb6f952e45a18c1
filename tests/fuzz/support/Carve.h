// The signature search (the deep scan's carving) over an image in memory, with only the analysers a
// harness names: the rows of the signature table that name them make its tables. A carving family's
// harness calls this on its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace fuzz {

// byte 0 of the input: bit 0 4096-byte sectors (else 512), bits 1-2 the search's block of 8, 32, 128
// or 512 sectors; the image follows (a few zero sectors after it, as the free space of a disk).
inline constexpr size_t kCarveHeaderBytes = 1;
void Carve(const uint8_t* data, size_t size, std::initializer_list<std::string_view> analysers);

}  // namespace fuzz
