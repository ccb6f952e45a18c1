#include "engine/RAWSearch/Analysers/EPSAnalyser.h"

#include <algorithm>
#include <cstring>

#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/ZeroEndRawFileInfo.h"

namespace BruteForce {

namespace {
constexpr u64 kTextEpsMaxSize = 0x514000000ULL;

u32 Le32(const unsigned char* p) { return u32{p[0]} | (u32{p[1]} << 8) | (u32{p[2]} << 16) | (u32{p[3]} << 24); }
}  // namespace

int CEPSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr unsigned char kBinary[4] = {0xC5, 0xD0, 0xD3, 0xC6};
    if (memcmp(sector, "%!PS", 4) == 0) {
        if (memcmp(sector, "%!PS-Adobe-", 11) != 0) return 0;
        m_lastWasText = true;
        info.m_type = RAW_TYPE_EPS;
        return 1;
    }
    if (memcmp(sector, kBinary, 4) != 0) return 0;
    m_lastWasText = false;
    u64 size = 0;
    for (int pair = 0; pair < 3; ++pair) {
        const unsigned char* p = sector + 4 + pair * 8;
        size = std::max<u64>(size, u64{Le32(p)} + Le32(p + 4));
    }
    info.m_type = RAW_TYPE_EPS;
    info.m_size = size;
    return 1;
}

CRawFileInfo* CEPSAnalyser::CreateRawFileInfo() {
    if (!m_lastWasText) return new CRawFileInfo();
    auto* record = new CZeroEndRawFileInfo(kTextEpsMaxSize, 1);
    record->m_type = RAW_TYPE_EPS;
    return record;
}

}  // namespace BruteForce

IRawFileAnalyser* CreateEPSAnalyser() { return new BruteForce::CEPSAnalyser(); }
