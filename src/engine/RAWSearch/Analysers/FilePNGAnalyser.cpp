#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PNGAnalyser.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace png_layout;

FilePNGAnalyser::FilePNGAnalyser() : IRawFileAnalyser(RAW_TYPE_PNG) {}

int FilePNGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr || !ByteReader(sector, 8).Equals(kSignatureTail, "\x0D\x0A\x1A\x0A", 4)) return 0;
    info.m_type = RAW_TYPE_PNG;
    return 1;
}

bool FilePNGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    assert(nullptr != device && "NULL != pDevice");
    if (device == nullptr) return false;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char head[kHeight + 4];
    if (!file.CopyOut(0, head, sizeof(head))) return false;
    const ByteReader header(head, sizeof(head));
    // The header chunk's length is held to the bound of every other chunk, so a hostile one never
    // makes the size.
    if (!header.Equals(kIhdrType, "IHDR", 4) || static_cast<i32>(*header.Be32(kWidth)) < 1 ||
        static_cast<i32>(*header.Be32(kHeight)) < 1 || *header.Be32(kIhdrLength) > kMaxPosition) {
        return false;
    }
    i64 position = kIhdrData + i64{*header.Be32(kIhdrLength)};
    // Every chunk moves the position on by at least its 12 bytes, so the walk ends within the cap.
    while (position <= kMaxPosition) {
        unsigned char bytes[kChunkHeader];
        if (!file.CopyOut(static_cast<u64>(position), bytes, sizeof(bytes))) break;
        const ByteReader chunk(bytes, sizeof(bytes));
        const i32 length = static_cast<i32>(*chunk.Be32(kChunkLength));
        if (length < 0 || length > kMaxPosition) break;
        position += i64{length} + static_cast<i64>(kChunkOverhead);
        if (chunk.Equals(kChunkType, "IEND", 4)) break;
    }
    info.m_type = RAW_TYPE_PNG;
    info.m_size = static_cast<u64>(position);
    return true;
}
