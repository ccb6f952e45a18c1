// Files whose length stands in their first sector: mail stores, Money files, old Word documents,
// WordPerfect documents, single mail messages, cabinets, compiled and Windows help files.
#pragma once

#include "engine/RAWSearch/Analysers/StoreTypes.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"

namespace store_layout {
// Outlook mail store.
inline constexpr size_t kPstVersion = 10;
inline constexpr size_t kPstUnicodeSize = 184;
inline constexpr size_t kPstAnsiSize = 168;
inline constexpr u8 kPstUnicode = 23;
inline constexpr u8 kPstAnsi = 14;
inline constexpr u64 kPstOtherSize = 0x100000;
// Money.
inline constexpr size_t kMnyMagic = 4;  // "MSISAM Database"
inline constexpr u64 kMnySize = 0x100000;
// Word before compound files.
inline constexpr size_t kLowDocCompoundSectors = 48;
inline constexpr size_t kLowDocTextEnd = 292;
inline constexpr size_t kLowDocTail = 296;
// WordPerfect.
inline constexpr size_t kWpdKind1 = 8;
inline constexpr size_t kWpdKind2 = 14;
inline constexpr size_t kWpdSize = 20;
// A single mail message of the QQ client.
inline constexpr size_t kEmlxCountDigits = 10;
inline constexpr size_t kEmlxHeader = 11;  // "X-QQ-FEAT:"
inline constexpr u64 kEmlxExtra = 402;
// Cabinet.
inline constexpr size_t kCabReserved1 = 4;
inline constexpr size_t kCabSize = 8;
inline constexpr size_t kCabReserved2 = 12;
inline constexpr size_t kCabReserved3 = 20;
inline constexpr size_t kCabVersion = 24;
// Compiled help.
inline constexpr size_t kChmHeaderLength = 8;
inline constexpr size_t kChmClass1 = 24;
inline constexpr size_t kChmClass2 = 40;
inline constexpr size_t kChmSection0 = 96;
inline constexpr size_t kChmFileSize = 104;
inline constexpr size_t kChmZero1 = 112;
inline constexpr size_t kChmZero2 = 116;
// Windows help.
inline constexpr size_t kHlpDirectory = 4;
inline constexpr size_t kHlpFileSize = 12;
}  // namespace store_layout

#define BRELVOX_HEADER_SIZED(Name)                                          \
    class Name : public IRawFileAnalyser {                                  \
    public:                                                                 \
        Name();                                                             \
        int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override; \
    };

BRELVOX_HEADER_SIZED(FilePSTAnalyser)
BRELVOX_HEADER_SIZED(FileMNYAnalyser)
BRELVOX_HEADER_SIZED(FileLowDocAnalyser)
BRELVOX_HEADER_SIZED(FileWPDAnalyser)
BRELVOX_HEADER_SIZED(FileEMLXAnalyser)
BRELVOX_HEADER_SIZED(FileCABAnalyser)
BRELVOX_HEADER_SIZED(FileCHMAnalyser)
BRELVOX_HEADER_SIZED(FileHLPAnalyser)

#undef BRELVOX_HEADER_SIZED
