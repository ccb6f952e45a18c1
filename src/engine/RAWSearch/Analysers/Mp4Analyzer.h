// MP4, M4A, M4V and TREC starts, and the device walk that measures an MP4 file whose guess was given up.
#pragma once

#include <memory>

#include "engine/RAWSearch/Analysers/MovAnalyzer.h"

// Measures a box file on the device from its top-level boxes, in 64 bits.
class CRawBoxFileAnalyser {
public:
    static constexpr u32 kMaxBoxes = 500;
    // Sets info.m_size to the offset the walk reached; false (size 0) when the file is refused.
    bool GetFileSize(CRawFileInfo& info, IStorageDevice* device);
    // Big-endian 32-bit size; true when positive.
    static bool GetBoxSize(const unsigned char* bytes, i32& out);
    // The 64-bit big-endian size of a box whose size field is 1; true when positive.
    static bool GetBoxSizeEx(const unsigned char* bytes, i64& out);
};

class FileMP4Analyser : public IRawFileAnalyser {
public:
    FileMP4Analyser();
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;

private:
    CRawBoxFileAnalyser m_boxes;
};

namespace BruteForce {

class Mp4Analyzer : public MovAnalyzer {
public:
    Mp4Analyzer();
    ~Mp4Analyzer() override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;

private:
    std::unique_ptr<FileMP4Analyser> m_file;
};

}  // namespace BruteForce
