#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace store_layout;

FilePSTAnalyser::FilePSTAnalyser() : IRawFileAnalyser(RAW_TYPE_PST) {}

// The file size stands at a place that depends on the version (its low 32 bits are taken).
int FilePSTAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    const ByteReader header(sector, 512);
    const u8 version = header.U8(kPstVersion).value_or(0);
    info.m_type = RAW_TYPE_PST;
    if (version == kPstUnicode) {
        info.m_size = header.Le32(kPstUnicodeSize).value_or(0);
    } else if (version == kPstAnsi) {
        info.m_size = header.Le32(kPstAnsiSize).value_or(0);
    } else {
        info.m_size = kPstOtherSize;
    }
    return 1;
}

IRawFileAnalyser* CreateFilePSTAnalyser() { return new FilePSTAnalyser(); }
