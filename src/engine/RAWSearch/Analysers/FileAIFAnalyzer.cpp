#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

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
    info.m_size = 0;
    if (device == nullptr) return false;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char head[kFormType + 4];
    if (!file.CopyOut(0, head, sizeof(head))) return false;
    const ByteReader reader(head, sizeof(head));
    if (!IsAiffHead(reader)) return false;
    const u64 chunk = reader.Be32(kChunkSize).value_or(0);
    if (chunk < 4) return false;
    info.m_size = chunk + kHeader;
    return true;
}

IRawFileAnalyser* CreateCFileAIFAnalyzer() { return new CFileAIFAnalyzer(); }
