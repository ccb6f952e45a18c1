// The JPEG analyser of the signature search: accepts a JPEG at its first sector and sizes it while
// the search reads on, from the Exif block and the end marker in front of a zero-padded sector end.
#pragma once

#include <memory>
#include <string>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/FileJPGAnalyser.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace BruteForce {

class JpegAnalyzer : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    class JpegRawFileInfo;

    JpegAnalyzer();
    ~JpegAnalyzer() override;

    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return this; }
    int AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize, long long sectorNumber,
                        long long bufferStartSector, long long blockEndSector) override;

    FileJPGAnalyser* GetFallback() { return m_fallback.get(); }

private:
    std::unique_ptr<FileJPGAnalyser> m_fallback;
    u64 m_acceptedHeaderEnd = 0;  // from the marker check of a JPEG without APP0/APP1, for the next record
};

class JpegAnalyzer::JpegRawFileInfo : public CRawFileInfo {
public:
    JpegRawFileInfo(FileJPGAnalyser* fallback, u64 headerEnd);

    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    u64 m_headerEnd = 1024;
    u64 m_pixelEstimate = 0;
    u64 m_cap = 52428800;
    i64 m_walkOffset = 0;
    u32 m_exifFlag = 0;
    u32 m_exifVisits = 0;
    i64 m_lastSector = 0;

private:
    void FindExifCameraInfo(const unsigned char* data);
    // Reads the directory at dirOffset of the TIFF data in memory (tiff).
    void AnalyzeExifTag(u64 dirOffset, const ByteReader& tiff, u32 segmentLength, ByteOrder order);
    void FindScanInfo(const unsigned char* fileStart);
    void Finish(long long sectorNumber);

    FileJPGAnalyser* m_fallback;
    // The current call: the block's end in the search's buffer, the sector and its size.
    unsigned char* m_blockEnd = nullptr;
    unsigned char* m_sector = nullptr;
    i64 m_sectorNumber = 0;
    int m_sectorSize = 512;
    bool m_walkStopped = false;
    bool m_makeSeen = false;
    std::string m_model;  // as read, before name cleaning: a model that needs cleaning is not used
};

}  // namespace BruteForce

// Checks the markers of a JPEG without APP0/APP1 in memory; false when they do not make a JPEG.
// On success *scanOffset is the offset of its start-of-scan segment.
bool GetRawFileSizeForJpgNonJFIFFile(const unsigned char* start, const unsigned char* end, u64* scanOffset);
