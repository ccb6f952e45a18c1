#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/PictureHeaderAnalysers.h"
#include "engine/RAWSearch/Analysers/PictureLayout.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

FileBMPAnalyser::FileBMPAnalyser() : IRawFileAnalyser(RAW_TYPE_BMP) {}

int FileBMPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    using namespace bmp_layout;
    const ByteReader header(sector, 512);
    if (!header.Equals(0, "BM", 2) || header.Le16(kReserved1) != 0 || header.Le16(kReserved2) != 0) return 0;
    // Only the version 3 (40 bytes) and version 5 (124 bytes) info headers are taken; any other size, the
    // 108 bytes of version 4 included, is refused: "BM" followed by two zero words is common in other
    // data, and the header size is the test that keeps those starts out.
    const u32 infoSize = *header.Le32(kHeaderSize);
    if (infoSize != 40 && infoSize != 124) {
        info.m_size = 0;
        return 0;
    }
    info.m_type = RAW_TYPE_BMP;
    info.m_size = *header.Le32(kFileSize);
    return 1;
}

IRawFileAnalyser* CreateFileBMPAnalyser() { return new FileBMPAnalyser(); }
