// Sizes a JPEG from the device by walking its markers and scanning for the end marker; used for
// photos that the guessing record gave up (the search had too many open files) or never finished.
#pragma once

#include <string>

#include "engine/RAWSearch/Core/RawFileInfo.h"

class RawFileBuffer;
struct tag_ExifInfo;

class FileJPGAnalyser : public IRawFileAnalyser {
public:
    FileJPGAnalyser() : IRawFileAnalyser(RAW_TYPE_JPG) {}

    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    std::string GetRawFileName() override { return m_name; }
    std::string GetRawFileTime() override { return m_time; }
    virtual void GetRawFileTagAndValue(RAW_FILE_TAG& kind, std::string& value) {
        kind = m_tagKind;
        value = m_tagValue;
    }

private:
    enum class Form { Jfif, Exif, Plain };
    // Reads the Exif block whose "Exif" text lies at offset; sets name, time and tag value.
    void ReadExif(RawFileBuffer& window, u64 offset, CRawFileInfo& info);
    // Walks the markers from offset 2 and scans for the end; false when the file is refused.
    bool WalkAndScan(RawFileBuffer& window, Form form, CRawFileInfo& info);
    u64 ScanForEnd(RawFileBuffer& window, u64 offset, u64 cap);

    std::string m_name;
    std::string m_time;
    i64 m_sectorSize = 512;
    RAW_FILE_TAG m_tagKind = RAW_TAG_NONE;
    std::string m_tagValue;
};

// Reads the Exif block whose "Exif" identifier lies at offset of the window (the APP1 length field
// just before it) into exif; false when the segment cannot be read.
bool ReadExifBlock(RawFileBuffer& window, u64 offset, tag_ExifInfo& exif);
// 1 when the text holds a character other than letters, digits, space, ",", "-", ".", "@" and "_".
int ApiIsInvalidCharInFileName(const std::string& text);
// True when bytes 6-9 read "JFIF" or "Exif" without regard to case, or the file starts FF D8 FF DB/EE.
bool IsJpegSignatureSector(const unsigned char* sector);
// The offset just after an end marker FF D9 that is the last non-zero data of the sector (only zero
// bytes, or none, follow it); 0 when its data does not end that way.
int EndMarkerBeforeZeroTail(const unsigned char* sector, int length);
