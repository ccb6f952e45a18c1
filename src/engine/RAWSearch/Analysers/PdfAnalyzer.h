// The PDF analyser of the signature search: accepts PDFs ("%PDF-") and Illustrator PostScript files at
// their first sector, reads their document information while the search reads on, and ends them at
// the "%%EOF" marker and its line end where the zeros that pad the file's last sector begin. Files it cannot
// finish go to its device fallback, FilePDFAnalyser.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/FilePDFAnalyser.h"
#include "engine/RAWSearch/Analysers/FileProperty.h"
#include "engine/RAWSearch/Analysers/PdfTitleAnalyzer.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace BruteForce {

class PdfAnalyzer : public IRawFileAnalyser {
public:
    class PdfRawFileInfo;

    PdfAnalyzer();
    ~PdfAnalyzer() override;

    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    FilePDFAnalyser* GetFallback() { return m_fallback.get(); }

private:
    std::unique_ptr<FilePDFAnalyser> m_fallback;
};

class PdfAnalyzer::PdfRawFileInfo : public CRawFileInfo {
public:
    static constexpr i64 kMaximumLength = 200000000;

    explicit PdfRawFileInfo(FilePDFAnalyser* fallback) : m_fallback(fallback) { m_type = RAW_TYPE_PDF; }

    bool WhetherImplementGuess() override { return true; }
    // The device fallback takes the file over.
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override { m_analyser = m_fallback; }
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    // An Illustrator PostScript header in the bytes types the file AI.
    void JudgeAI(const unsigned char* bytes, int length);
    // Name, tag and time from the document information.
    void PdfTagDealwith(FileProperty properties);

    bool InformationPending() const { return m_informationPending; }
    const FileProperty& Properties() const { return m_properties; }

private:
    bool m_aiCheckPending = true;
    bool m_moreBuffered = false;
    i64 m_maximumLength = kMaximumLength;
    bool m_informationPending = true;
    FileProperty m_properties;
    PdfTitleAnalyzer m_title;
    FilePDFAnalyser* m_fallback;
};

}  // namespace BruteForce
