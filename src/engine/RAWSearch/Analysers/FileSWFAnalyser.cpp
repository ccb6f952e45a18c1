#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace swf_layout;

FileSWFAnalyser::FileSWFAnalyser() : IRawFileAnalyser(RAW_TYPE_SWF) {}

int FileSWFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader header(sector, 512);
    const bool compressed = header.Equals(0, "CWS");
    if (!compressed && !header.Equals(0, "FWS")) return 0;
    const u8 version = header.U8(kVersion).value_or(0xFF);
    if (version > kMaxVersion || (compressed && version < kMinCompressedVersion)) return 0;
    const u64 length = header.Le32(kLength).value_or(0);
    if (length == 0) return 0;
    info.m_type = RAW_TYPE_SWF;
    // The length of a compressed movie is that of its uncompressed form; the 8 header bytes, stored
    // uncompressed before the compressed data, are added to it.
    info.m_size = length + (compressed ? kCompressedExtra : 0);
    return 1;
}

IRawFileAnalyser* CreateFileSWFAnalyser() { return new FileSWFAnalyser(); }
