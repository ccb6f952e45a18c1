#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace store_layout;

FileCHMAnalyser::FileCHMAnalyser() : IRawFileAnalyser(RAW_TYPE_CHM) {}

int FileCHMAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    static constexpr unsigned char kClass1[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                                  0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    static constexpr unsigned char kClass2[16] = {0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                                  0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    const ByteReader header(sector, 512);
    if (!header.Equals(0, "ITSF") || header.Le32(kChmHeaderLength) != 96u ||
        !header.Equals(kChmClass1, kClass1, sizeof(kClass1)) || !header.Equals(kChmClass2, kClass2, sizeof(kClass2)) ||
        header.Le32(kChmSection0) != 0x1FEu || header.Le32(kChmZero1) != 0u || header.Le32(kChmZero2) != 0u) {
        return 0;
    }
    info.m_type = RAW_TYPE_CHM;
    info.m_size = header.Le64(kChmFileSize).value_or(0);
    return 1;
}

IRawFileAnalyser* CreateFileCHMAnalyser() { return new FileCHMAnalyser(); }
