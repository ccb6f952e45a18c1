#include "engine/RAWSearch/Analysers/PdfAnalyzer.h"

#include <algorithm>
#include <cstring>

#include "engine/RAWSearch/Core/RawAnalyserFactories.h"
#include "engine/RAWSearch/Core/StreamWindow.h"
#include "engine/RAWSearch/Util/RawUtility.h"

namespace BruteForce {

namespace {

constexpr int kHeaderLook = 512;
constexpr size_t kAiCopy = 4095;
constexpr int kEndMarkerLength = 5;

// dataEnd when the bytes before it are "%%EOF" and at most two line-end bytes, else -1.
i64 PdfEndMarkerBefore(const StreamWindow& window, i64 dataEnd) {
    for (i64 eol = 0; eol <= 2; ++eol) {
        const auto bytes = window.Bytes(dataEnd - eol - kEndMarkerLength, static_cast<u64>(kEndMarkerLength + eol));
        if (!bytes || !bytes->Equals(0, "%%EOF", kEndMarkerLength)) continue;
        bool lineEnd = true;
        for (i64 k = 0; k < eol; ++k) {
            const u8 c = *bytes->U8(static_cast<size_t>(kEndMarkerLength + k));
            lineEnd = lineEnd && (c == '\r' || c == '\n');
        }
        if (lineEnd) return dataEnd;
    }
    return -1;
}

}  // namespace

PdfAnalyzer::PdfAnalyzer() : IRawFileAnalyser(RAW_TYPE_PDF), m_fallback(std::make_unique<FilePDFAnalyser>()) {}
PdfAnalyzer::~PdfAnalyzer() = default;

int PdfAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) {
    if (sector == nullptr) return 0;
    if (memcmp(sector, "%PDF-", 5) != 0 && !IsIllustratorPostScript(sector, kHeaderLook)) return 0;
    info.m_type = RAW_TYPE_PDF;
    return 1;
}

CRawFileInfo* PdfAnalyzer::CreateRawFileInfo() { return new PdfRawFileInfo(m_fallback.get()); }

void PdfAnalyzer::PdfRawFileInfo::JudgeAI(const unsigned char* bytes, int length) {
    if (bytes == nullptr || length <= 0) return;
    // A terminated copy, so the text after the header can be searched as a string.
    char copy[kAiCopy + 1] = {};
    const size_t n = std::min<size_t>(static_cast<size_t>(length), kAiCopy);
    memcpy(copy, bytes, n);
    for (size_t at = 0; at + 10 <= n; ++at) {
        if (memcmp(copy + at, "%!PS-Adobe", 10) != 0) continue;
        if (strstr(copy + at, "Adobe Illustrator") != nullptr) m_type = RAW_TYPE_AI;
        return;
    }
}

void PdfAnalyzer::PdfRawFileInfo::PdfTagDealwith(FileProperty p) {
    const bool found = !m_informationPending;
    std::string first = GetRawFileName();
    if (found) {
        first = !p.author.empty() ? p.author : !p.creator.empty() ? p.creator : !p.producer.empty() ? p.producer : "unknown";
    }
    const std::string& named = !p.title.empty()    ? p.title
                               : !p.author.empty()  ? p.author
                               : !p.creator.empty() ? p.creator
                                                    : p.producer;
    const std::string name = !named.empty() ? named + p.modified : p.created;
    if (found && (!name.empty() || !p.created.empty())) {
        SetRawFileTagAndValue(m_type == RAW_TYPE_PDF ? RAW_TAG_PDF : RAW_TAG_AI, first);
    }
    if (!p.created.empty()) SetRawFileTime(p.created);
    SetRawFileName(name);
}

int PdfAnalyzer::PdfRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                              SearchContext& ctx) {
    if (sector == nullptr || sectorSize <= 0 || sectorNumber < m_startSector) return RAW_SIZE_CONTINUE;
    const StreamWindow window(sector, sectorSize, sectorNumber, m_startSector, ctx);
    m_moreBuffered = ctx.blockEndSector > sectorNumber + 1;
    if (m_informationPending) {
        if (m_title.ObtainPerSecPDFInformation(window.From(window.SectorStart()), sectorSize, m_moreBuffered,
                                                m_properties)) {
            if (m_properties.creator.find("Illustrator") != std::string::npos) m_type = RAW_TYPE_AI;
            m_informationPending = false;
        }
    }
    if (m_aiCheckPending && window.SectorStart() == 0) {
        m_aiCheckPending = false;
        JudgeAI(sector, m_moreBuffered ? 2 * sectorSize : sectorSize);
    }
    const i64 covered = window.SectorStart();
    if (covered > m_maximumLength) {
        m_size = 0;
        return RAW_SIZE_FINISHED;
    }
    // The file ends where "%%EOF" and its line end run into the zeros that pad its last sector (or end
    // the sector before an all-zero one), however short the file.
    if (sector[sectorSize - 1] != 0) return RAW_SIZE_CONTINUE;
    const i64 data = RawUtility::Binary_Compare(sector, sectorSize);
    const i64 end = PdfEndMarkerBefore(window, covered + data);
    if (end < 0) return RAW_SIZE_CONTINUE;
    PdfTagDealwith(m_properties);
    m_size = static_cast<u64>(end);
    return RAW_SIZE_FINISHED;
}

}  // namespace BruteForce

IRawFileAnalyser* CreatePdfAnalyzer() { return new BruteForce::PdfAnalyzer(); }
