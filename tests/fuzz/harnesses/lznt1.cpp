// LZNT1, as the compressed-file reader hands it a compression unit: the chunks of the input are
// decompressed into a buffer of exactly the unit's size (or of the size the first two bytes ask, to
// reach the capacity limit), so a write past it is an AddressSanitizer error; the first chunk alone
// as well.
#include <cstring>
#include <memory>

#include "engine/Common/ByteReader.h"
#include "engine/NTFSLib/Lznt1.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(2 + 64 * 1024) {
    if (size < 2) return;
    const size_t asked = ByteReader(data, size).Le16(0).value_or(0);
    const size_t capacity = asked == 0 ? 64 * 1024 : asked;
    const u8* unit = data + 2;
    const size_t length = size - 2;
    auto in = std::make_unique<u8[]>(length);
    if (length != 0) std::memcpy(in.get(), unit, length);
    auto out = std::make_unique<u8[]>(capacity);
    const size_t produced = lznt1::DecompressUnit(in.get(), length, out.get(), capacity);
    FUZZ_CHECK(produced <= capacity);
    const int block = lznt1::DecompressBlock(out.get(), static_cast<int>(capacity), in.get(), length);
    FUZZ_CHECK(block >= 0 && static_cast<size_t>(block) <= capacity);
}
