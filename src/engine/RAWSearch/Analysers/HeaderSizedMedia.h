// Audio, video and media-library files whose length stands in their first header: RIFF containers
// (WAV, AVI, animated cursors, drawing formats), AIFF, Sun audio, Flash movies, Matroska and the
// media library. None of them follows sectors: the size comes from the first sector, or from the
// device when the search ends.
#pragma once

#include <optional>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/AvTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"


// Sizes from the device a file that begins with one chunk holding everything: a 4-byte tag, the 32-bit
// size of what follows (in the given order), then a 4-byte form type. The size is the chunk size + 8
// when the head read again still passes isHead and the chunk can hold its form type; else 0 (false).
bool SizeFromFormChunk(CRawFileInfo& info, IStorageDevice* device, ByteOrder order,
                       bool (*isHead)(const ByteReader& head));

// RIFF: typed from its form type and first chunk, sized from the device (chunk size + 8 bytes).
class FileRIFFAnalyser : public IRawFileAnalyser {
public:
    FileRIFFAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;

    // The type of a RIFF file from its first 512 bytes (RIFF itself when no form matches).
    static RAW_FILE_TYPE FormType(const unsigned char* head);
    static bool IsWaveFile(const unsigned char* head);
    static bool IsAviFile(const unsigned char* head);
    static bool IsAniFile(const unsigned char* head);
    static bool IsCmxFile(const unsigned char* head);
    static bool IsClkFile(const unsigned char* head);
    static bool IsCslFile(const unsigned char* head);
    static bool IsCdrFile(const unsigned char* head);
    // Compares 4 bytes of data with a 4-character signature, ASCII letters folded to lower case on
    // both sides; a zero byte in the data ends the comparison as a mismatch unless the signature ends too.
    static bool CompareSignString(const unsigned char* data, const char* sign);
};

// AIFF and AIFF-C: "FORM" with "AIF" at 8, sized from the device.
class CFileAIFAnalyzer : public IRawFileAnalyser {
public:
    CFileAIFAnalyzer();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// Sun audio: header size + data size.
class FileAUAnalyser : public IRawFileAnalyser {
public:
    FileAUAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

// Flash movies, plain ("FWS") or compressed ("CWS").
class FileSWFAnalyser : public IRawFileAnalyser {
public:
    FileSWFAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

// Matroska: the Segment's position and size.
class FileMKVAnalyser : public IRawFileAnalyser {
public:
    FileMKVAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;

    struct Vint {
        u64 value = 0;
        u32 length = 0;  // bytes the number takes
        bool unknown = false;  // every value bit set: "size unknown"
    };
    // The EBML variable-length number at offset: the count of leading zero bits of its first byte
    // (at most 7) gives the bytes that follow, big-endian. Absent past the data or for a first byte of 0.
    static std::optional<Vint> ReadVint(const ByteReader& data, size_t offset);
};

// The media library ("hdfm"): its size at 8.
class FileITLAnalyser : public IRawFileAnalyser {
public:
    FileITLAnalyser();
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};
