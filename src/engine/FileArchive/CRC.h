// Table-driven CRCs, most significant bit first, initial value 0, no reflection and no final XOR.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

class CCRC {
public:
    // The polynomial of the archive header's CRC-16 ("123456789" gives 0xFEE8).
    static constexpr u16 kHeaderPolynomial = 0x8005;

    static u16 RunCRC16(const void* data, size_t length, u16 polynomial);
    static u32 RunCRC32(const void* data, size_t length, u32 polynomial);
};
