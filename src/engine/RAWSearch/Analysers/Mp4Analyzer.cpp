#include "engine/RAWSearch/Analysers/Mp4Analyzer.h"

#include <strings.h>

#include <cstring>

#include "engine/RAWSearch/Analysers/BoxLayout.h"
#include "engine/RAWSearch/Analysers/MediaTypes.h"
#include "engine/RAWSearch/Core/RawAnalyserFactories.h"

namespace BruteForce {

namespace {
// Tried in this order; the matched text decides the type.
constexpr const char* kStarts[] = {"ftypisom", "ftypmmp4", "ftypM4A", "ftypM4V", "ftypmp4"};
}  // namespace

Mp4Analyzer::Mp4Analyzer() : MovAnalyzer(RAW_TYPE_MP4, nullptr), m_file(std::make_unique<FileMP4Analyser>()) {
    m_deviceAnalyser = m_file.get();
}
Mp4Analyzer::~Mp4Analyzer() = default;

int Mp4Analyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    for (const char* start : kStarts) {
        if (strncasecmp(reinterpret_cast<const char*>(sector + box_layout::kType), start, strlen(start)) != 0) continue;
        if (strstr(start, "M4A") != nullptr) {
            m_type = RAW_TYPE_M4A;
        } else if (strstr(start, "M4V") != nullptr) {
            m_type = RAW_TYPE_M4V;
        } else {
            m_type = Mp4OrTrec(sector);
        }
        info.m_type = m_type;
        return 1;
    }
    return 0;
}

}  // namespace BruteForce

IRawFileAnalyser* CreateMp4Analyzer() { return new BruteForce::Mp4Analyzer(); }
