#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace store_layout;

FileMNYAnalyser::FileMNYAnalyser() : IRawFileAnalyser(RAW_TYPE_MNY) {}

int FileMNYAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (!ByteReader(sector, 512).Equals(kMnyMagic, "MSISAM Database")) return 0;
    info.m_type = RAW_TYPE_MNY;
    info.m_size = kMnySize;
    return 1;
}

IRawFileAnalyser* CreateFileMNYAnalyser() { return new FileMNYAnalyser(); }
