#include "engine/RAWSearch/Analysers/TextAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

namespace RawSpeed {

int SIBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || sector[0] != 0x0F || !EqualsNoCase(sector + 1, "SIBELIUS", 8)) return 0;
    info.m_type = RAW_TYPE_SIB;
    return 1;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateSIBAnalyser() { return new RawSpeed::SIBAnalyser(); }
