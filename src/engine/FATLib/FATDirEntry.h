// 32-byte FAT directory entries (8.3 and long-name pieces), the directory-sector test of the deep search
// and the conversion of FAT dates and times.
#pragma once

#include <string>

#include "engine/Common/ByteReader.h"
#include "engine/Common/SearcherTypes.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/FATLib/FATTypes.h"

// A view over one 32-byte entry; the bytes stay the caller's.
class CTempFATDirEntry {
public:
    explicit CTempFATDirEntry(const u8* entry);

    // Points the view at another entry and answers IsValidFATDirEntry(true) for it.
    bool InitFromBuffer(const u8* entry);
    bool IsValidFATDirEntry(bool checkClusters) const;
    static bool IsValidFileName(const u8* name);
    static bool IsValidLongFileName(const std::string& name);

    std::string GetShortName(bool noDot = false) const;
    // The characters of a long-name piece as UTF-8, cut at the first U+0000; "_" when empty.
    std::string GetLongFileName() const;
    // The same piece as UTF-16 code units (cut at the first U+0000).
    std::u16string GetLongFileNameUnits() const;
    // The same into units (13 at most); answers how many.
    size_t GetLongFileNameUnits(char16_t (&units)[13]) const;

    bool IsErased() const { return Byte(fat_dir_entry_layout::kName) == 0xE5; }
    bool IsNeverUsed() const { return Byte(fat_dir_entry_layout::kName) == 0; }
    bool IsDirectory() const { return (GetAttribute() & 0x10) != 0; }
    bool IsVolumeLabel() const { return (GetAttribute() & 0x08) != 0; }
    bool IsLongFileNameEntry() const { return GetAttribute() == 0x0F; }
    u8 GetAttribute() const { return Byte(fat_dir_entry_layout::kAttribute); }
    u32 GetSize() const { return Bytes().Le32(fat_dir_entry_layout::kFileSize).value_or(0); }
    u16 GetClusterHigh() const { return Word(fat_dir_entry_layout::kClusterHigh); }
    u32 GetFirstClusterNO() const { return (u32{GetClusterHigh()} << 16) | Word(fat_dir_entry_layout::kClusterLow); }
    // DOS dates and times as stored.
    u16 GetCreationDate() const { return Word(fat_dir_entry_layout::kCreationDate); }
    u16 GetCreationTime() const { return Word(fat_dir_entry_layout::kCreationTime); }
    u16 GetAccessDate() const { return Word(fat_dir_entry_layout::kAccessDate); }
    u16 GetModificationDate() const { return Word(fat_dir_entry_layout::kModificationDate); }
    u16 GetModificationTime() const { return Word(fat_dir_entry_layout::kModificationTime); }
    const u8* Data() const { return m_entry; }

private:
    ByteReader Bytes() const { return ByteReader(m_entry, fat_dir_entry_layout::kSize); }
    u8 Byte(size_t at) const { return Bytes().U8(at).value_or(0); }
    u16 Word(size_t at) const { return Bytes().Le16(at).value_or(0); }

    const u8* m_entry;        // the entry under test
    const u8* m_constructed;  // the entry the view was made over
};

// Names "." and ".." with blank extensions, as folders.
bool IsCurDirFileName(const u8* entry);
bool IsParentDirFileName(const u8* entry);

using CFatFolderAnalyzeCB = void (*)(const u8* entry, int index, bool dotsSeen, void* context);

// Decides whether a sector looks like part of a directory (used by the deep search).
class CFATFolderAnalyser {
public:
    enum State { kNotDirectory = 0, kEntries = 1, kDirectoryStart = 2 };
    explicit CFATFolderAnalyser(u32 sectorSize) : m_sectorSize(sectorSize) {}

    static bool IsBlankFATDirEntry(const u8* entry);
    int AnalyseSector(const u8* sector, CFatFolderAnalyzeCB callback = nullptr, void* context = nullptr);

    int State() const { return m_state; }
    u32 Count() const { return m_count; }
    u32 CurrentDirCluster() const { return m_dotCluster; }
    u32 ParentDirCluster() const { return m_dotDotCluster; }
    u32 MaxCluster() const { return m_maxCluster; }

private:
    void Reset();
    int Finish(bool dot, bool dotDot, bool failed);

    int m_state = kNotDirectory;
    u32 m_count = 0;
    u32 m_dotCluster = 0;
    u32 m_dotDotCluster = 0;
    u32 m_maxCluster = 0;
    u32 m_sectorSize;
};

inline constexpr i64 kFileTimeOf1970 = 116444736000000000LL;

// Local time (mktime) to 100-ns ticks since 1601. Always succeeds.
void DosDateTimeToFileTime(u16 date, u16 time, _FILETIME* out);
void SecondsSince1970ToFileTime(i64 seconds, _FILETIME* out);

namespace fat {
// Bytes below this never appear in a short name.
inline constexpr u8 kLowestNameByte = 26;
// The attribute byte of a long-name piece.
inline constexpr u8 kLongNameAttribute = 0x0F;
// A DOS date or time a valid entry may hold: 0 (none), or a month 1-12 and a day 1-31; hours below 24,
// minutes below 60, two-second units below 30.
inline bool IsPlausibleDosDate(u16 date) {
    if (date == 0) return true;
    const u32 month = (date >> 5) & 15;
    return month >= 1 && month <= 12 && (date & 31) != 0;
}
inline bool IsPlausibleDosTime(u16 time) {
    return (time & 31) < 30 && ((time >> 5) & 63) < 60 && (time >> 11) < 24;
}
// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& units);
std::string Utf16ToUtf8(const char16_t* units, size_t count);
// The length in bytes of Utf16ToUtf8(units, count), without making it.
size_t Utf8Length(const char16_t* units, size_t count);
// The checksum that the long-name pieces of an 8.3 entry carry: over its 11 name bytes, the first
// replaced by firstByte (a deleted entry has lost its own).
u8 ShortNameChecksum(const u8* entry, u8 firstByte);
}  // namespace fat
