// Sizes a TIFF or camera raw file from the device by walking its image file directories: the files
// the streaming TIFF analyser gave up (Fuji RAF and Panasonic headers, chains that run backwards,
// values outside the search's window, too many open files). Names the file after the camera, dates
// it and decides the raw type from the make.
#pragma once

#include <string>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class RawFileBuffer;

class FileTIFAnalyser : public IRawFileAnalyser {
public:
    // A file whose tags point nowhere past kSmallestExtent bytes, or past kLargestExtent, gets
    // kUnknownSize bytes (rounded up to whole sectors).
    static constexpr u64 kSmallestExtent = 10240;
    static constexpr u64 kLargestExtent = 1308622848;
    static constexpr u64 kUnknownSize = 130862284;
    // Sizes below this are checked against the zero tail of their last sector, growing to at most
    // kZeroTailCap bytes.
    static constexpr u64 kZeroTailCheck = 1048576;
    static constexpr u64 kZeroTailCap = 43620762;
    static constexpr u64 kMaxOffset = 0x4E000000;
    static constexpr int kMaxSubIFDVisits = 15;
    static constexpr int kMaxChain = 1024;
    static constexpr u32 kMaxEntries = 512;

    FileTIFAnalyser();

    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    std::string GetRawFileName() override { return m_name; }
    std::string GetRawFileTime() override { return m_time; }
    virtual void GetRawFileTagAndValue(RAW_FILE_TAG& kind, std::string& value);
    virtual void GetThumbStartAndSize(u64& start, u64& size);

    // The size the walk gives, 0 when the file's start or the RAF header cannot be read; sets the
    // record's type, name, time and tag.
    u64 GetTiffSize(CRawFileInfo& info, IStorageDevice* device);

    static void TIFFSwabShort(u16* value);
    static void TIFFSwabLong(u32* value);

private:
    struct Entry {
        u16 tag;
        u32 width;
        u32 count;
        u32 value;
        u64 byteLength;
    };

    void InitTifAnalyser();
    void Raise(u64 end) {
        if (end > m_extent) m_extent = end;
    }
    // Reads the directory at the device offset; false when it cannot be read or holds 0 or more
    // than kMaxEntries entries.
    bool ReadIFD(RawFileBuffer& file, u64 offset, std::vector<Entry>& entries, u32& link);
    void ProcessEntries(RawFileBuffer& file, const std::vector<Entry>& entries);
    void GetSubIFDSize(RawFileBuffer& file, u64 offset);
    void CalcFileSizeFromTiles(RawFileBuffer& file);
    // The element of an array entry, read from the device (or from the entry when inline).
    std::optional<u32> Element(RawFileBuffer& file, const Entry& e, u32 index);
    std::optional<u32> ReadU32(RawFileBuffer& file, u64 offset);
    std::string Text(RawFileBuffer& file, const Entry& e);
    bool ReadRafHeader(RawFileBuffer& file);
    // Grows a size below kZeroTailCheck to the first sector that ends in zeros.
    u64 RefineByZeroTail(RawFileBuffer& file, u64 size, u32 sectorSize);

    // Per file.
    ByteOrder m_order = ByteOrder::Little;
    u64 m_shift = 0;  // 160 for RAF
    u64 m_extent = 0;
    u32 m_jpegStripOffset = 0;
    u32 m_jpegStripSize = 0;
    Entry m_tileOffsets{};
    Entry m_tileByteCounts{};
    bool m_raf = false;
    u64 m_rafEnd = 0;  // a RAF: the furthest end of the parts its header names
    bool m_dng = false;
    bool m_epson = false;
    bool m_panasonicHeader = false;
    bool m_thumbPending = false;
    bool m_makeRead = false;
    bool m_modelRead = false;
    RAW_FILE_TAG m_tagKind = RAW_TAG_CAMERA;
    std::string m_name;
    std::string m_time;
    std::string m_make;
    std::string m_model;
    u64 m_thumbStart = 0;
    u64 m_thumbSize = 0;
    u64 m_privateStart = 0;
    u64 m_privateLength = 0;
    int m_subIFDVisits = 1;
};
