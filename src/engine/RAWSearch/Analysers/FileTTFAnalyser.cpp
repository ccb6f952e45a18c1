#include "engine/RAWSearch/Analysers/FileTTFAnalyser.h"

#include <cassert>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

namespace {

constexpr char kKnownTags[][5] = {
    "DSIG", "cmap", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "name", "post", "OS/2", "cvt ", "EBDT",
    "EBLC", "EBSC", "fpgm", "gasp", "hdmx", "kern", "LTSH", "prep", "PCLT", "VDMX", "vhea", "vmtx",
};

bool KnownTag(const u8* tag) {
    for (const char* known : kKnownTags) {
        if (memcmp(tag, known, 4) == 0) return true;
    }
    return false;
}

}  // namespace

FileTTFAnalyser::FileTTFAnalyser() : IRawFileAnalyser(RAW_TYPE_TTF) {}

int FileTTFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace ttf_layout;
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr) return 0;
    // 12 + 16 x 31 bytes: the whole directory lies in the first 512 bytes.
    const ByteReader head(sector, 512);
    const u16 tables = *head.Be16(kTableCount);
    if (tables < 1 || tables > kMaxTables) return 0;
    // Summed in 64 bits: 31 lengths near 4 GiB must not wrap into a small size.
    u64 size = kOffsetTableSize + static_cast<u64>(kTableRecordSize) * tables;
    u32 known = 0;
    for (u32 i = 0; i < tables; ++i) {
        const size_t record = kOffsetTableSize + static_cast<size_t>(kTableRecordSize) * i;
        const u64 length = *head.Be32(record + kRecordLength);
        size += (length + 3) & ~u64{3};
        if (KnownTag(head.data() + record + kRecordTag)) ++known;
    }
    if (known * 2 < tables) return 0;
    info.m_type = RAW_TYPE_TTF;
    info.m_size = size;
    return 1;
}

IRawFileAnalyser* CreateFileTTFAnalyser() { return new FileTTFAnalyser(); }
