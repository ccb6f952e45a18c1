#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

FileITLAnalyser::FileITLAnalyser() : IRawFileAnalyser(RAW_TYPE_ITL) {}

int FileITLAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader header(sector, 512);
    if (!header.Equals(0, "hdfm")) return 0;
    const u32 size = header.Be32(itl_layout::kSize).value_or(0);
    if (size == 0) return 0;
    info.m_type = RAW_TYPE_ITL;
    info.m_size = size;
    return 1;
}

IRawFileAnalyser* CreateFileITLAnalyser() { return new FileITLAnalyser(); }
