// The TIFF analyser of the signature search: accepts TIFF and the camera raw files built on it at
// their first sector and sizes them while the search reads on, following the image file directories
// as their sectors pass, keeping the furthest byte any tag points to, and reading the camera make,
// model and date; the make decides the raw type. Files it gives up go to its device fallback.
#pragma once

#include <map>
#include <optional>
#include <memory>
#include <set>
#include <string>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/FileTIFAnalyser.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class StreamWindow;

namespace BruteForce {

class TiffAnalyzer : public IRawFileAnalyser {
public:
    class TiffRawFileInfo;

    TiffAnalyzer();
    ~TiffAnalyzer() override;

    bool GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return false; }
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    CRawFileInfo* CreateRawFileInfo() override;

    FileTIFAnalyser* GetFallback() { return m_fallback.get(); }

private:
    std::unique_ptr<FileTIFAnalyser> m_fallback;
};

class TiffAnalyzer::TiffRawFileInfo : public CRawFileInfo {
public:
    // The streaming walk examines at most this many directories of a file; the next one gives up.
    static constexpr i64 kMaxIFDs = 11;
    static constexpr u32 kMaxEntries = 512;
    static constexpr i64 kInitialExtent = 8192;

    explicit TiffRawFileInfo(FileTIFAnalyser* fallback);

    bool WhetherImplementGuess() override { return true; }
    void WillBeRemove(unsigned char* sector, long long sectorNumber) override;
    int CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& ctx) override;

    // What the walk learnt, for tests.
    i64 Extent() const { return m_extent; }
    i64 IFDCount() const { return m_ifdCount; }
    bool Aborted() const { return m_abort; }
    i64 ThumbnailStart() const { return m_thumbStart; }
    u32 ThumbnailSize() const { return m_thumbSize; }
    const std::string& Make() const { return m_make; }
    const std::string& Model() const { return m_model; }

private:
    // One decoded directory entry.
    struct Entry {
        u16 tag;
        u32 width;       // bytes per element
        u32 count;
        u32 value;       // the value, or the offset of the values
        u64 byteLength;  // count x width
    };
    struct TileEntry {
        u32 value = 0;
        u64 byteLength = 0;
        u32 width = 0;
        u32 count = 0;
    };

    int Finish(long long sectorNumber, u64 size);
    void Raise(i64 end) {
        if (end > m_extent) m_extent = end;
    }
    // Examines the directory at the file offset; lastQueued is the directory it queued last.
    void CheckIFD(const StreamWindow& w, i64 offset);
    void Dispatch(const StreamWindow& w, const Entry& e, u32 number, i64& lastQueued, const ByteReader& entry);
    // Queues a directory found through a tag (Exif, maker note, sub-IFD) for when its sector arrives.
    void Queue(i64 offset, i64& lastQueued);
    void AddPending(i64 offset);
    // The bytes of the entry's values: inline in the entry, or at its offset in the window.
    std::optional<ByteReader> Values(const StreamWindow& w, const Entry& e, const ByteReader& entry) const;
    // An element of an array entry; absent when it cannot be read.
    std::optional<u32> Element(const StreamWindow& w, const Entry& e, const ByteReader& entry, u32 index) const;
    std::optional<std::string> Text(const StreamWindow& w, const Entry& e, const ByteReader& entry) const;
    void SetFileExt();
    void FollowChain(const StreamWindow& w, long long sectorNumber);
    void ExaminePending(const StreamWindow& w, long long sectorNumber);

    FileTIFAnalyser* m_fallback;
    i64 m_thumbStart = 0;
    u32 m_thumbSize = 0;
    ByteOrder m_order = ByteOrder::Little;
    i64 m_pixelEstimate = -(i64{1} << 31);
    i64 m_ifdCount = 0;
    bool m_abort = false;
    i64 m_nextIFD = 0;
    i64 m_extent = kInitialExtent;
    i64 m_stripOffset = 0;
    i64 m_currentIFD = 0;
    std::map<u32, u32> m_pendingThumbs;  // file offset -> byte size
    std::map<u32, i64> m_pendingIFDs;    // file offset -> absolute sector
    std::set<i64> m_visited;             // directories examined, each once
    u32 m_stripByteCount = 0;
    bool m_panasonicHeader = false;
    bool m_dng = false;
    u32 m_pendingThumbOffset = 0;
    u32 m_pendingStripOffset = 0;
    bool m_jpegAtThumb = false;
    bool m_jpegAtStrip = false;
    std::string m_make;
    std::string m_model;
    bool m_ifdValid = false;
    u64 m_thumbOffset = 0;
    u32 m_imageWidth = 0;
    u32 m_imageLength = 0;
    TileEntry m_tileOffsets;
    TileEntry m_tileByteCounts;
    i64 m_tileCandidate = 0;
    bool m_byteCountSeen = false;
    i64 m_sectorSize = 512;
    bool m_makeRead = false;
    bool m_modelRead = false;
};

}  // namespace BruteForce
