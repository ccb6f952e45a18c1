#include "engine/RAWSearch/Analysers/FH11Analyser.h"

#include <cassert>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/DrawingLayout.h"
#include "engine/RAWSearch/Analysers/DrawingTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/ZeroEndRawFileInfo.h"

namespace BruteForce {

CFH11Analyser::CFH11Analyser() : IRawFileAnalyser(RAW_TYPE_FH11) {}

int CFH11Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace fh11_layout;
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr) return 0;
    static constexpr unsigned char kMarkBytes[kMarksSize] = {0x02, 0x00, 0x04, 0x1C, 0x01, 0x14,
                                                             0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
    const ByteReader head(sector, 512);
    if (!head.Equals(kMarks, kMarkBytes, kMarksSize) || !head.Equals(kVersion, "11", 2)) return 0;
    info.m_type = RAW_TYPE_FH11;
    return 1;
}

CRawFileInfo* CFH11Analyser::CreateRawFileInfo() {
    auto* record = new CZeroEndRawFileInfo(fh11_layout::kMaxSize, fh11_layout::kZeroRunUnit);
    record->m_type = RAW_TYPE_FH11;
    return record;
}

}  // namespace BruteForce

IRawFileAnalyser* CreateFH11Analyser() { return new BruteForce::CFH11Analyser(); }
