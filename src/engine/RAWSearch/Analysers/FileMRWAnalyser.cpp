#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PictureHeaderAnalysers.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

namespace {
// The size in 64 bits: one past 32 bits is refused, never followed.
constexpr u64 kMaxSize = 0xFFFFFFFFULL;
}  // namespace

FileMRWAnalyser::FileMRWAnalyser() : IRawFileAnalyser(RAW_TYPE_MRW) {}

int FileMRWAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace mrw_layout;
    const ByteReader header(sector, kBitsPerSample + 1);
    if (header.empty()) return 0;
    const u64 pixels = u64{*header.Be16(kSensorHeight)} * *header.Be16(kSensorWidth);
    const u64 size = kHeader + *header.Be32(kDataOffset) + *header.U8(kBitsPerSample) * pixels / 8;
    if (size > kMaxSize) return 0;
    info.m_type = RAW_TYPE_MRW;
    info.m_size = size;
    return 1;
}

IRawFileAnalyser* CreateFileMRWAnalyser() { return new FileMRWAnalyser(); }
