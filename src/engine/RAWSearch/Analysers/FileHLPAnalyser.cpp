#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace store_layout;

FileHLPAnalyser::FileHLPAnalyser() : IRawFileAnalyser(RAW_TYPE_HLP) {}

int FileHLPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const ByteReader header(sector, 512);
    const u32 directory = header.Le32(kHlpDirectory).value_or(0);
    const u32 size = header.Le32(kHlpFileSize).value_or(0);
    if (size < 512 || size < directory) return 0;
    info.m_type = RAW_TYPE_HLP;
    info.m_size = size;
    return 1;
}

IRawFileAnalyser* CreateFileHLPAnalyser() { return new FileHLPAnalyser(); }
