// The Exif reader on one APP1 block ("Exif", two zero bytes and the TIFF data), as the JPEG sizing
// hands it over: a copy of exactly the segment's bytes, so a read past them is an AddressSanitizer
// error, and at most one segment long.
#include <cstring>
#include <memory>

#include "engine/RAWSearch/Exif/ExifReader.h"
#include "fuzz/support/FuzzTarget.h"

BRELVOX_FUZZ_TARGET(65533) {
    auto block = std::make_unique<unsigned char[]>(size);
    if (size != 0) std::memcpy(block.get(), data, size);
    tag_ExifInfo info{};
    SetExitInfo(&info);
    EXIF_process_EXIF(nullptr, 0, block.get(), static_cast<unsigned>(size));
    SetExitInfo(nullptr);
}
