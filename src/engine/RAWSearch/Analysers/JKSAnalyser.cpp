#include "engine/RAWSearch/Analysers/TextAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

namespace RawSpeed {

int JKSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || sector[0] != 0xFE || sector[1] != 0xED || sector[2] != 0xFE || sector[3] != 0xED) return 0;
    info.m_type = RAW_TYPE_JKS;
    return 1;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateJKSAnalyser() { return new RawSpeed::JKSAnalyser(); }
