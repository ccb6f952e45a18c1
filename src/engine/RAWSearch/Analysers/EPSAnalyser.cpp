#include "engine/RAWSearch/Analysers/EPSAnalyser.h"

#include <algorithm>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/ZeroEndRawFileInfo.h"

namespace BruteForce {

namespace {
constexpr u64 kTextEpsMaxSize = 0x514000000ULL;

// The header of a binary EPS: the magic, then offset and length (u32 LE each) of the PostScript, the
// metafile preview and the TIFF preview.
namespace binary_eps_layout {
constexpr size_t kSections = 4;
constexpr size_t kSectionCount = 3;
constexpr size_t kSectionSize = 8;
constexpr size_t kOffset = 0;
constexpr size_t kLength = 4;
constexpr size_t kHeaderSize = kSections + kSectionCount * kSectionSize;
}  // namespace binary_eps_layout
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
    using namespace binary_eps_layout;
    const ByteReader header(sector, kHeaderSize);
    u64 size = 0;
    for (size_t section = 0; section < kSectionCount; ++section) {
        const size_t at = kSections + section * kSectionSize;
        size = std::max<u64>(size, u64{header.Le32(at + kOffset).value_or(0)} + header.Le32(at + kLength).value_or(0));
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
