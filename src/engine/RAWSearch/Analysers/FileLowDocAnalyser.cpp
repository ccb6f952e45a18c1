#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace store_layout;

FileLowDocAnalyser::FileLowDocAnalyser() : IRawFileAnalyser(RAW_TYPE_DOC) {}

int FileLowDocAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr unsigned char kCompound[4] = {0xD0, 0xCF, 0x11, 0xE0};
    const ByteReader header(sector, 512);
    info.m_type = RAW_TYPE_DOC;
    if (header.Equals(0, kCompound, sizeof(kCompound))) {
        info.m_size = u64{header.Le32(kLowDocCompoundSectors).value_or(0)} * 512 + 2560;
    } else {
        const u64 end = u64{header.Le32(kLowDocTextEnd).value_or(0)} + header.Le32(kLowDocTail).value_or(0);
        info.m_size = (end + 511) / 512 * 512;
    }
    return 1;
}

IRawFileAnalyser* CreateFileLowDocAnalyser() { return new FileLowDocAnalyser(); }
