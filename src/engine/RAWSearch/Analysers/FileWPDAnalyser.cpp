#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/FileOLEAnalyser.h"
#include "engine/RAWSearch/Analysers/HeaderSizedAnalysers.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

using namespace store_layout;

FileWPDAnalyser::FileWPDAnalyser() : IRawFileAnalyser(RAW_TYPE_WPD) {}

// The kind comes from the product and file type words; when several rows match, the last wins.
int FileWPDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    struct Kind {
        unsigned char first[4];
        unsigned char second[4];
        RAW_FILE_TYPE type;
    };
    static constexpr Kind kKinds[] = {
        {{0x01, 0x0A, 0x02, 0x01}, {0x00, 0x02, 0x05, 0x00}, RAW_TYPE_WPD},
        {{0x01, 0x16, 0x02, 0x00}, {0x00, 0x00, 0x03, 0x00}, RAW_TYPE_WPG},
        {{0x0F, 0x0F, 0x01, 0x00}, {0x00, 0x00, 0x03, 0x00}, RAW_TYPE_SHW},
    };
    const ByteReader header(sector, 512);
    if (!header.Equals(0, "\xFFWPC", 4)) return 0;
    RAW_FILE_TYPE type = 0;
    for (const Kind& kind : kKinds) {
        if (header.Equals(kWpdKind1, kind.first, 4) && header.Equals(kWpdKind2, kind.second, 4)) type = kind.type;
    }
    if (type == 0) return 0;
    info.m_type = type;
    info.m_size = header.Le32(kWpdSize).value_or(0);
    return 1;
}

IRawFileAnalyser* CreateFileWPDAnalyser() { return new FileWPDAnalyser(); }
