#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace store_layout;

FileEMLXAnalyser::FileEMLXAnalyser() : IRawFileAnalyser(RAW_TYPE_EMLX) {}

// A byte count in decimal, a line break and the client's own header; the message is the count plus
// the property list that follows it.
int FileEMLXAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const ByteReader header(sector, 512);
    if (!header.Equals(kEmlxHeader, "X-QQ-FEAT:") || header.U8(kEmlxCountDigits) != u8{'\n'}) return 0;
    // As a C library reads a number: blanks, then digits up to the first other character.
    size_t at = 0;
    while (at < kEmlxCountDigits && *header.U8(at) == ' ') ++at;
    u64 count = 0;
    size_t digits = 0;
    for (; at < kEmlxCountDigits; ++at, ++digits) {
        const u8 c = *header.U8(at);
        if (c < '0' || c > '9') break;
        count = count * 10 + (c - '0');
    }
    if (digits == 0) return 0;
    info.m_type = RAW_TYPE_EMLX;
    info.m_size = count + kEmlxExtra;
    return 1;
}

IRawFileAnalyser* CreateFileEMLXAnalyser() { return new FileEMLXAnalyser(); }
