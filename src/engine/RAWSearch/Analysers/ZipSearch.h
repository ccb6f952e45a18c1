// The block parser of ZIP archives: tells a block's kind and length, and from the entry names (and a
// few bytes of some entries' data) the kind of document the archive is: office open XML, OpenDocument,
// EPUB, iWork, Outlook for Mac, tax files.
#pragma once

#include <string>

#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Core/RawFileTypes.h"
#include "engine/RAWSearch/Analysers/ZipLayout.h"

// Types a ZIP archive may be given.
enum : RAW_FILE_TYPE {
    RAW_TYPE_CDR = 13,
    RAW_TYPE_ZIP = 72,
    RAW_TYPE_PAGES = 110,
    RAW_TYPE_KEY = 111,
    RAW_TYPE_NUMBERS = 112,
    RAW_TYPE_EPUB = 114,
    RAW_TYPE_IPA = 118,
    RAW_TYPE_OLM = 120,
    RAW_TYPE_ODT = 123,
    RAW_TYPE_ODS = 124,
    RAW_TYPE_ODP = 125,
    RAW_TYPE_TAX = 145,
};

// A copy of a local file header (its 30 fixed bytes).
struct tagZipLocalFileHeader {
    unsigned char bytes[zip_layout::kLocalHeaderSize] = {};
    ByteReader Reader() const { return ByteReader(bytes, sizeof(bytes)); }
};

class classZipSearch {
public:
    // Which walk reads the block: the device walk (archives sized from the device) examines fewer names
    // and none of the office metadata; the walk of the guessing record refuses names over 1024 bytes.
    enum class Walk { Device, Guess };

    // A block starts here: one of the five signatures; a local header also needs a compression method of
    // at most 10 and a name shorter than 4097 bytes.
    static bool IsValidHeader(const ByteReader& block);
    // An entry of an iOS application package's application folder: "Payload/<name>.app/..." (the
    // evidence an archive needs to be typed IPA; a JAR's META-INF or a plain archive is none).
    static bool IsIpaEntryName(const std::string& name);

    // The length of the block at the start of `block` (the bytes in hand from there): local header 30 +
    // name + extra + data, central header 46 + name + extra + comment, end record 22 + comment, the Zip64
    // end record 56 and locator 20. False for another signature, or a header or name not in hand. `type`
    // takes the kind the block's name tells (it keeps its value otherwise); `name` takes a local
    // header's name. The guess walk also gives a local header's flags and reports
    // "docProps/core.xml" with a copy of its header.
    static bool GetBlockSize(const ByteReader& block, u64* blockSize, Walk walk, bool office, u32& type,
                             std::string& name, u16* flags = nullptr, int* metadataFound = nullptr,
                             tagZipLocalFileHeader* metadataHeader = nullptr);

    // The multi-pattern search: at each of the first 256 positions of data in turn, every pattern; the
    // index of the pattern found first, or -1. A pattern matches only wholly inside data.
    static int FindFirstOf(const ByteReader& data, const char* const* patterns, int count);
    // True when pattern lies wholly inside the first `window` bytes of data.
    static bool FoundWithin(const ByteReader& data, size_t window, const char* pattern);

private:
    static void ClassifyLocalName(const std::string& name, const ByteReader& afterName, Walk walk, bool office,
                                  u32& type);
    static void ClassifyCentralName(const std::string& name, bool office, u32& type);
};
