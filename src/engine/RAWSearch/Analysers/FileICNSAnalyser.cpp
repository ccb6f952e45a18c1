#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PictureHeaderAnalysers.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

FileICNSAnalyser::FileICNSAnalyser() : IRawFileAnalyser(RAW_TYPE_ICNS) {}

int FileICNSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const u32 length = ByteReader(sector, 8).Be32(icns_layout::kLength).value_or(0);
    if (length == 0 || length > kMaxSize) return 0;
    info.m_type = RAW_TYPE_ICNS;
    info.m_size = length;
    return 1;
}

IRawFileAnalyser* CreateFileICNSAnalyser() { return new FileICNSAnalyser(); }
