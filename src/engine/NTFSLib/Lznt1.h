// LZNT1, the method NTFS uses inside a compression unit: a run of chunks, each a 16-bit header
// followed by either up to 4096 stored bytes or flag-grouped literals and back-references.
// Every function here is bounded by its input and output sizes, so corrupt data cannot make it read
// or write outside the given buffers.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace lznt1 {

// Header bit 15: the chunk holds compressed data; clear: the chunk is stored as it stands.
inline constexpr u16 kCompressedFlag = 0x8000;
inline constexpr u16 kLengthMask = 0x0FFF;

// The chunk's size on disk, header included: (header & 0x0FFF) + 3.
inline size_t ChunkSize(u16 header) { return size_t(header & kLengthMask) + 3; }

// Decompresses the one chunk at `chunk` (of which `available` bytes are present) into `out`.
// Returns the bytes written, never more than `capacity`; 0 for a capacity below 1 or a chunk of
// fewer than 2 bytes. Missing input ends the chunk early; a back-reference before the chunk's start
// yields zero bytes.
int DecompressBlock(u8* out, int capacity, const u8* chunk, size_t available);

// Decompresses the chunks of one compression unit (`in`, `inLength` bytes) one after another into
// `out`, stopping at the first chunk header of 0, at the end of the input or when `capacity` bytes
// were written. Returns the bytes written.
size_t DecompressUnit(const u8* in, size_t inLength, u8* out, size_t capacity);

}  // namespace lznt1
