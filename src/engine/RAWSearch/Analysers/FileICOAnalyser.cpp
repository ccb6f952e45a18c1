#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PictureHeaderAnalysers.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

namespace {
constexpr u32 kMaxBitCount = 256;
constexpr u32 kMaxEntryValue = 0xA00000;
}  // namespace

FileICOAnalyser::FileICOAnalyser() : IRawFileAnalyser(RAW_TYPE_ICO) {}

int FileICOAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace ico_layout;
    const ByteReader header(sector, kEntries + kMaxEntries * kEntrySize);
    const u16 type = header.Le16(kType).value_or(0);
    const u32 count = header.Le16(kCount).value_or(0);
    if ((type != 1 && type != 2) || count < 1 || count > kMaxEntries) return 0;
    u64 size = kEntries;
    for (u32 i = 0; i < count; ++i) {
        const ByteReader entry = *header.Sub(kEntries + i * kEntrySize, kEntrySize);
        const u32 bytes = *entry.Le32(kEntryBytes);
        if (entry.U8(kEntryReserved) != 0 || *entry.Le16(kEntryBitCount) > kMaxBitCount || bytes > kMaxEntryValue ||
            *entry.Le32(kEntryOffset) > kMaxEntryValue) {
            return 0;
        }
        size += u64{bytes} + kEntrySize;
    }
    if (size > kMaxSize) return 0;
    info.m_type = type == 1 ? RAW_TYPE_ICO : RAW_TYPE_CUR;
    info.m_size = size;
    return 1;
}

IRawFileAnalyser* CreateFileICOAnalyser() { return new FileICOAnalyser(); }
