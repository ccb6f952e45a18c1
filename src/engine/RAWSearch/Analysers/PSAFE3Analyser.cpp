#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/TextAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

namespace RawSpeed {

// "PWS3" at 0 or at 3, in any case. The list asks this of every sector: the first test is one byte.
int PSAFE3Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const bool at0 = (sector[0] | 0x20) == 'p' && EqualsNoCase(sector, "PWS3", 4);
    const bool at3 = !at0 && (sector[3] | 0x20) == 'p' && EqualsNoCase(sector + 3, "PWS3", 4);
    if (!at0 && !at3) return 0;
    info.m_type = RAW_TYPE_PSAFE3;
    return 1;
}

// "PWS3" at 0 or at 3, the letters in either case (bit 5 of each letter untested).
int PSAFE3Analyser::GetRequiredBits(RequiredBits* tests) const {
    const u64 word = ByteReader("PWS3", 4).Le32(0).value_or(0);
    tests[0] = {0, 0xFFDFDFDF, word};
    tests[1] = {3, 0xFFDFDFDF, word};
    return 2;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreatePSAFE3Analyser() { return new RawSpeed::PSAFE3Analyser(); }
