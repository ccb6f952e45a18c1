// Installer packages: xar archives (a zlib-compressed XML table of contents after a 28-byte header,
// then the heap its files point into) and packages with the magic 7F "PKG" (total size in the header).
#pragma once

#include <string>

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

class TiXmlElement;

namespace pkg_layout {
inline constexpr size_t kCompressedToc = 8;     // big-endian u64
inline constexpr size_t kUncompressedToc = 16;  // big-endian u64
inline constexpr u64 kTocStart = 28;
inline constexpr size_t kPkgVersion = 6;        // big-endian u16, 1 or 2
inline constexpr size_t kPkgTotal = 24;         // big-endian u64
inline constexpr u64 kTocCap = 0x300000;
inline constexpr u64 kCap = 0x280000000;
}  // namespace pkg_layout

class FilePKGAnalyser : public IRawFileAnalyser {
public:
    FilePKGAnalyser() : IRawFileAnalyser(RAW_TYPE_PKG) {}
    bool GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;

    // The size of a 7F "PKG" package from its header; false for another header or a size past the cap.
    static bool PkgSignFileSize(const unsigned char* header, unsigned long long& size);
    // The length of a xar archive from its header and its inflated table of contents; 0 when the table
    // cannot be read.
    static u64 XarSize(u64 compressedLength, const std::string& toc);

private:
    // The end of the heap data the file elements under element point to (the largest offset + length).
    static void RecursionSearch(const TiXmlElement* element, u64& heapEnd);
};
