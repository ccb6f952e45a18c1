#include "engine/RAWSearch/Analysers/FileCPTAnalyser.h"

#include <optional>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace cpt_layout;

namespace {

// The u32 at a file offset, absent when it cannot be read (past the device, a read failure, a stop).
std::optional<u64> ReadU32(RawFileBuffer& buffer, u64 offset) {
    unsigned char bytes[4];
    if (!buffer.CopyOut(offset, bytes, sizeof(bytes))) return std::nullopt;
    return *ByteReader(bytes, sizeof(bytes)).Le32(0);
}

}  // namespace

FileCPTAnalyser::FileCPTAnalyser() : IRawFileAnalyser(RAW_TYPE_CPT) {}

int FileCPTAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader head(sector, 512);
    if (!head.Equals(kFileMark, "FILE", 4) || head.Le32(kTableOffset) != kTableOffsetValue) return 0;
    info.m_type = RAW_TYPE_CPT;
    info.m_size = 0;
    return 1;
}

bool FileCPTAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    if (device == nullptr) return false;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_startSector));
    // Offsets from disk are 32-bit values added in 64 bits: nothing wraps, and what lies past the
    // device is simply unreadable.
    const auto table = ReadU32(buffer, kTableOffset);
    const auto entries = ReadU32(buffer, kEntryCount);
    if (!table || !entries || *table + kEntrySize * *entries < kEntrySize) return false;
    const auto block = ReadU32(buffer, *table + kEntrySize * *entries - kEntrySize);
    if (!block) return false;
    const auto checkA = ReadU32(buffer, *block + kBlockCheckA);
    const auto checkB = ReadU32(buffer, *block + kBlockCheckB);
    if (!checkA || !checkB) return false;
    const u64 position = *block + kBlockCheckB + (*checkA != 0 && *checkA == *checkB ? *checkA : 0);
    const auto trailer = ReadU32(buffer, position);
    const auto trailerNext = ReadU32(buffer, position + 4);
    if (!trailer || !trailerNext) return false;
    u64 size = *block;
    if (*trailer != 0 && *trailerNext != 0) {
        if (*trailer < 8) return false;
        const auto a = ReadU32(buffer, *trailer - 8);
        const auto b = ReadU32(buffer, *trailer - 4);
        if (!a || !b) return false;
        size = *a + *b;
    }
    info.m_type = RAW_TYPE_CPT;
    info.m_size = size;
    return true;
}

IRawFileAnalyser* CreateFileCPTAnalyser() { return new FileCPTAnalyser(); }
