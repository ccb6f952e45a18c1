#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvLayout.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace au_layout;

FileAUAnalyser::FileAUAnalyser() : IRawFileAnalyser(RAW_TYPE_AU) {}

int FileAUAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    const ByteReader header(sector, 512);
    if (!header.Equals(0, ".snd")) return 0;
    const u32 headerSize = header.Be32(kHeaderSize).value_or(0);
    const u32 dataSize = header.Be32(kDataSize).value_or(kUnknownSize);
    if (headerSize < kMinHeader || dataSize == kUnknownSize) return 0;
    info.m_type = RAW_TYPE_AU;
    info.m_size = static_cast<u64>(headerSize) + dataSize;
    return 1;
}

IRawFileAnalyser* CreateFileAUAnalyser() { return new FileAUAnalyser(); }
