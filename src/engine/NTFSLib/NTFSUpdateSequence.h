// The update-sequence protection shared by FILE, INDX and RCRD records: the last two bytes of every
// 512-byte stride hold the sequence number, and the array after the header keeps their true values.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "engine/Common/Types.h"

namespace ntfs {

inline constexpr u32 kStride = 512;

// The usable strides: at most `wanted`, each inside the buffer with its array entry inside too.
u32 ProtectedStrides(size_t size, u32 usaOffset, u32 wanted);
// True when each of `strides` strides ends with the sequence number (the u16 at usaOffset).
bool SequenceMatches(const u8* buf, size_t size, u32 usaOffset, u32 strides);
// Writes the array entries back over the stride ends (the sequence must match first).
void UndoProtection(u8* buf, size_t size, u32 usaOffset, u32 strides);
// Saves the stride ends into the array and writes the sequence number there.
void RedoProtection(u8* buf, size_t size, u32 usaOffset, u32 strides);

// A reader's own copy of a protected structure, in which it undoes the protection: the bytes it was
// given (a block of the cache that other threads read, a read-only mapping) are only read. Structures
// of up to kInPlaceBytes (every record and index block) are copied into the object, not allocated.
class PrivateCopy {
public:
    static constexpr size_t kInPlaceBytes = 4096;

    PrivateCopy() = default;
    PrivateCopy(const PrivateCopy&) = delete;
    PrivateCopy& operator=(const PrivateCopy&) = delete;
    // Copies size bytes of buf (any copy held before is dropped); the copy's first byte.
    u8* Assign(const u8* buf, size_t size);

private:
    std::vector<u8> m_large;
    std::array<u8, kInPlaceBytes> m_inPlace;  // left uninitialised until a copy is made
};

}  // namespace ntfs
