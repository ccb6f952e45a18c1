#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace aiff_layout;

namespace {
// "FORM" then an AIFF or AIFF-C form type.
bool IsAiffHead(const ByteReader& head) { return head.Equals(0, "FORM") && head.Equals(kFormType, "AIF"); }
}  // namespace

CFileAIFAnalyzer::CFileAIFAnalyzer() : IRawFileAnalyser(RAW_TYPE_AIFF) {}

int CFileAIFAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr || !IsAiffHead(ByteReader(sector, 512))) return 0;
    info.m_type = RAW_TYPE_AIFF;
    info.m_size = 0;  // sized from the device
    return 1;
}

bool CFileAIFAnalyzer::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    return SizeFromFormChunk(info, device, ByteOrder::Big, IsAiffHead);
}

IRawFileAnalyser* CreateCFileAIFAnalyzer() { return new CFileAIFAnalyzer(); }
