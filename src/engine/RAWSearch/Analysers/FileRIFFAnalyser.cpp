#include <cassert>
#include <cstring>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"

using namespace riff_layout;

namespace {
unsigned char Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c; }

bool FormAndChunk(const unsigned char* head, const char* form, const char* chunk) {
    return FileRIFFAnalyser::CompareSignString(head + kFormType, form) &&
           FileRIFFAnalyser::CompareSignString(head + kFirstChunk, chunk);
}
}  // namespace

FileRIFFAnalyser::FileRIFFAnalyser() : IRawFileAnalyser(RAW_TYPE_RIFF) {}

bool FileRIFFAnalyser::CompareSignString(const unsigned char* data, const char* sign) {
    assert(nullptr != data && "NULL != pBuffer");
    assert(nullptr != sign && "NULL != cSign1");
    assert(4 == strlen(sign) && "4 == strlen(cSign1)");
    if (data == nullptr || sign == nullptr) return false;
    for (size_t i = 0; i < 4; ++i) {
        const unsigned char a = Lower(data[i]);
        const unsigned char b = Lower(static_cast<unsigned char>(sign[i]));
        if (a != b) return false;
        if (a == 0) return true;
    }
    return true;
}

bool FileRIFFAnalyser::IsWaveFile(const unsigned char* head) { return FormAndChunk(head, "WAVE", "fmt "); }
bool FileRIFFAnalyser::IsAviFile(const unsigned char* head) { return FormAndChunk(head, "AVI ", "LIST"); }
bool FileRIFFAnalyser::IsAniFile(const unsigned char* head) {
    return FormAndChunk(head, "ACON", "LIST") || FormAndChunk(head, "ACON", "anih");
}
bool FileRIFFAnalyser::IsCmxFile(const unsigned char* head) {
    static constexpr char kTitle[] = "{Corel Binary Meta File}";
    return CompareSignString(head + kFormType, "CMX1") &&
           ByteReader(head, 512).Equals(kCmxTitle, kTitle, sizeof(kTitle) - 1);
}
bool FileRIFFAnalyser::IsClkFile(const unsigned char* head) { return FormAndChunk(head, "CARC", "vrsn"); }
bool FileRIFFAnalyser::IsCslFile(const unsigned char* head) { return FormAndChunk(head, "CSL2", "vrsn"); }
bool FileRIFFAnalyser::IsCdrFile(const unsigned char* head) {
    for (const char* form : {"CDR7", "CDR8", "cdr8", "CDR9", "CDRA", "CDRB", "CDRC"}) {
        if (FormAndChunk(head, form, "vrsn")) return true;
    }
    return false;
}

RAW_FILE_TYPE FileRIFFAnalyser::FormType(const unsigned char* head) {
    if (IsWaveFile(head)) return RAW_TYPE_WAV;
    if (IsAviFile(head)) return RAW_TYPE_AVI;
    if (IsAniFile(head)) return RAW_TYPE_ANI;
    if (IsCmxFile(head)) return RAW_TYPE_CMX;
    if (IsClkFile(head)) return RAW_TYPE_CLK;
    if (IsCslFile(head)) return RAW_TYPE_CSL;
    if (IsCdrFile(head)) return RAW_TYPE_CDR;
    return RAW_TYPE_RIFF;
}

int FileRIFFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    assert(nullptr != sector && "NULL != pBuffer");
    if (sector == nullptr) return 0;
    info.m_type = FormType(sector);
    info.m_size = 0;  // sized from the device
    return 1;
}

bool SizeFromFormChunk(CRawFileInfo& info, IStorageDevice* device, ByteOrder order,
                       bool (*isHead)(const ByteReader& head)) {
    info.m_size = 0;
    if (device == nullptr) return false;
    RawFileBuffer file(device, static_cast<unsigned long long>(info.m_startSector));
    unsigned char head[kFirstChunk];
    if (!file.CopyOut(0, head, sizeof(head))) return false;
    const ByteReader reader(head, sizeof(head));
    if (!isHead(reader)) return false;
    // The chunk size counts the bytes after the 8-byte header.
    const u64 chunk = reader.U32(kChunkSize, order).value_or(0);
    if (chunk < 4) return false;
    info.m_size = chunk + kHeader;
    return true;
}

bool FileRIFFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) {
    return SizeFromFormChunk(info, device, ByteOrder::Little,
                             [](const ByteReader& head) { return head.Equals(0, "RIFF"); });
}

IRawFileAnalyser* CreateFileRIFFAnalyser() { return new FileRIFFAnalyser(); }
