// Helpers of the picture analyser tests: a writer of TIFF structures, and a feeder that hands a file's
// sectors to a guessing record as the search does (blocks of a double buffer held in memory of exactly
// their size, so that a read outside them is an AddressSanitizer error).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "RawTestSupport.h"
#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace pictest {

using Bytes = std::vector<unsigned char>;

// One directory entry: the values are written inline when they fit in 4 bytes, else after the
// directory (rawValue, when set, is written as the value field instead).
struct TiffEntry {
    u16 tag;
    u16 type;
    u32 count;
    Bytes values;
    bool raw = false;
    u32 rawValue = 0;
};

class TiffWriter {
public:
    explicit TiffWriter(size_t size, bool little = true, const char* magic = nullptr);

    // The directory at `at`; values that do not fit inline go to `values` onwards (0: right after the
    // directory). Returns the offset after the last value written.
    size_t Directory(size_t at, const std::vector<TiffEntry>& entries, u32 link, size_t values = 0);
    void First(u32 offset);
    void U16(size_t at, u16 v);
    void U32(size_t at, u32 v);
    void Fill(size_t at, size_t length, unsigned char byte);

    TiffEntry Short(u16 tag, u16 v) const;
    TiffEntry Long(u16 tag, u32 v) const;
    TiffEntry Longs(u16 tag, const std::vector<u32>& v) const;
    TiffEntry Ascii(u16 tag, const std::string& text) const;
    TiffEntry Raw(u16 tag, u16 type, u32 count, u32 value) const;

    Bytes& bytes() { return m_bytes; }
    ByteOrder order() const { return m_order; }

private:
    Bytes m_bytes;
    ByteOrder m_order;
};

// A little TIFF: one directory at 8 (width, length, the extra entries), values after it, and one strip
// of stripBytes bytes of 0x55 at stripAt (no strip when stripBytes is 0).
Bytes SmallTiff(std::vector<TiffEntry> extra, size_t stripAt = 400, u32 stripBytes = 64, bool little = true,
                size_t size = 0);
TiffEntry Make(const std::string& make);
TiffEntry Model(const std::string& model);

// How a feed ended.
struct FeedResult {
    bool finished = false;     // CalcRawSize answered 1
    long long sector = -1;     // the sector it answered 1 at (absolute)
    u64 size = 0;
    std::string name;
    std::string time;
    RAW_FILE_TYPE type = 0;
    IRawFileAnalyser* analyser = nullptr;  // the record's analyser after it ended (the fallback, maybe)
};

// Feeds the sectors of image from startSector on to the record (whose analyser is `analyser`) in
// blocks of blockSectors, as the search does; stops when the record finishes or the image ends (then
// the record is told it is removed, as at the end of a search). Sectors are sectorSize bytes.
FeedResult Feed(CRawFileInfo& record, IRawFileAnalyser* analyser, const Bytes& image, long long startSector,
                unsigned sectorSize = 512, long long blockSectors = 64);

// Accepts the start sector with the analyser, creates its record and feeds it (header-sized files end
// at once with their size). The record's type and name come back in the result.
FeedResult Carve(IRawFileAnalyser& analyser, const Bytes& image, long long startSector = 0,
                 unsigned sectorSize = 512, long long blockSectors = 64);

// Runs the analyser's device sizing over the image (start at startSector).
FeedResult Measure(IRawFileAnalyser& analyser, const Bytes& image, long long startSector = 0,
                   unsigned sectorSize = 512);

// The image with the file at startSector and zeros to `sectors` sectors.
Bytes Placed(const Bytes& file, long long startSector, size_t sectors, unsigned sectorSize = 512);

}  // namespace pictest
