#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PictureHeaderAnalysers.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

FileEMFAnalyser::FileEMFAnalyser() : IRawFileAnalyser(RAW_TYPE_EMF) {}

namespace {
constexpr u32 kEmfSignature = 0x464D4520;  // " EMF" read little-endian
}  // namespace

bool FileEMFAnalyser::GetRequiredWord(u32& offset, u32& value) const {
    offset = emf_layout::kSignature;
    value = kEmfSignature;
    return true;
}

int FileEMFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace emf_layout;
    const ByteReader header(sector, kReserved + 2);
    if (header.Le32(kSignature) != kEmfSignature || header.Le16(kReserved) != 0) return 0;
    const u32 size = *header.Le32(kBytes);
    if (size == 0) return 0;
    info.m_type = RAW_TYPE_EMF;
    info.m_size = size;
    return 1;
}

IRawFileAnalyser* CreateFileEMFAnalyser() { return new FileEMFAnalyser(); }
