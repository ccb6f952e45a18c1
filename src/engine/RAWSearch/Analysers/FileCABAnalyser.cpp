#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace store_layout;

FileCABAnalyser::FileCABAnalyser() : IRawFileAnalyser(RAW_TYPE_CAB) {}

int FileCABAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const ByteReader header(sector, 512);
    if (!header.Equals(0, "MSCF") || header.Le32(kCabReserved1) != 0u || header.Le32(kCabReserved2) != 0u ||
        header.Le32(kCabReserved3) != 0u || header.Le16(kCabVersion) != u16{0x0103}) {
        return 0;
    }
    const u32 size = header.Le32(kCabSize).value_or(0);
    if (size == 0) return 0;
    info.m_type = RAW_TYPE_CAB;
    info.m_size = size;
    return 1;
}

IRawFileAnalyser* CreateFileCABAnalyser() { return new FileCABAnalyser(); }
