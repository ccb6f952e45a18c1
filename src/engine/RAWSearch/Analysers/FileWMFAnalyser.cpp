#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PictureHeaderAnalysers.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

namespace {
constexpr unsigned char kPlain[4] = {0x01, 0x00, 0x09, 0x00};
constexpr unsigned char kPlaceable[6] = {0xD7, 0xCD, 0xC6, 0x9A, 0x00, 0x00};
// The size of a file in 16-bit words doubled, in 64 bits: a size past 32 bits is refused.
constexpr u64 kMaxSize = 0xFFFFFFFFULL;

// The size a plain header gives (its first byte at `at`), 0 when it is refused.
u64 PlainSize(const ByteReader& file, size_t at) {
    using namespace wmf_layout;
    if (file.Le16(at + kPlainNoParameters) != 0) return 0;
    return 2 * u64{file.Le32(at + kPlainSizeWords).value_or(0)};
}
}  // namespace

FileWMFAnalyser::FileWMFAnalyser() : IRawFileAnalyser(RAW_TYPE_WMF) {}

int FileWMFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    using namespace wmf_layout;
    const ByteReader file(sector, 512);
    u64 size = 0;
    if (file.Equals(0, kPlain, sizeof(kPlain))) {
        size = PlainSize(file, 0);
    } else if (file.Equals(0, kPlaceable, sizeof(kPlaceable))) {
        u16 checksum = 0;
        for (size_t i = 0; i < kPlaceableChecksumWords; ++i) checksum ^= *file.Le16(2 * i);
        if (checksum != file.Le16(kPlaceableChecksum) || file.Le16(kPlaceableHandle) != 0 ||
            file.Le32(kPlaceableReserved) != 0 || !file.Equals(kPlaceableSize, kPlain, sizeof(kPlain))) {
            return 0;
        }
        const u64 plain = PlainSize(file, kPlaceableSize);
        size = plain == 0 ? 0 : plain + kPlaceableSize;
    }
    if (size == 0 || size > kMaxSize) return 0;
    info.m_type = RAW_TYPE_WMF;
    info.m_size = size;
    return 1;
}

IRawFileAnalyser* CreateFileWMFAnalyser() { return new FileWMFAnalyser(); }
