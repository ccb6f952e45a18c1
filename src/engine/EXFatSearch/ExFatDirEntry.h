// exFAT directory entries: the tests that decide whether 32 bytes are a plausible entry (for a known
// folder and for any sector of a device alike), the entry-set checksum, and the record of one file
// assembled from a set. Every test reads the entry through a bounded view: a view shorter than 32 bytes
// fails every test.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"

// The tests of single entries, given the geometry they are judged against.
class CExFatEntryRules {
public:
    CExFatEntryRules() = default;
    CExFatEntryRules(u32 sectorShift, u32 clusterShift, u64 totalSectors)
        : m_sectorShift(sectorShift), m_clusterShift(clusterShift), m_totalSectors(totalSectors) {}

    // A DOS timestamp (time in the low 16 bits, date in the high 16): day 1.., month 1..12, hour < 24,
    // minute < 60, two-second count < 30. The year is not tested.
    static bool IsValidTimestamp(u32 stamp);
    // Whether a character may stand in a name or label: below 256 the control characters and
    // " * / : < > ? \ | may not; U+00FF ('ÿ') and every character of 256 and above may.
    bool IsNameCharacter(u16 character) const;

    bool IsValidFileEntry(ByteReader entry) const;
    bool IsValidStreamEntry(ByteReader entry) const;
    bool IsValidNameEntry(ByteReader entry) const;
    bool IsValidVolumeLabelEntry(ByteReader entry) const;
    bool IsValidBitmapEntry(ByteReader entry) const;
    bool IsValidUpcaseEntry(ByteReader entry) const;

    u32 SectorShift() const { return m_sectorShift; }
    u32 ClusterShift() const { return m_clusterShift; }
    u64 TotalSectors() const { return m_totalSectors; }

private:
    // The cluster and length tests shared by the bitmap and up-case entries.
    bool IsValidTableEntry(ByteReader entry, size_t firstCluster, size_t dataLength) const;

    u32 m_sectorShift = 9;
    u32 m_clusterShift = 9;
    u64 m_totalSectors = 0;
};

// True when the checksum of the set (its first entry and length bytes) equals stored, or, for a deleted
// set (first byte 0x05), when the checksum of the set with its types restored to their in-use values
// does. A length of 0 matches only a stored checksum of 0.
bool CheckDirEntry(const unsigned char* set, unsigned int length, unsigned short stored);
// The checksum itself (bytes 2 and 3 of the first entry skipped); restoreTypes counts the type bytes as
// 0x85, 0xC0, 0xC1, 0xC1, ...
u16 ExFatSetChecksum(ByteReader set, bool restoreTypes);

// The fields of one complete entry set but its name.
struct _tagFileBaseFields {
    i64 dataLength = 0;
    u32 firstCluster = 0;
    u8 noFatChain = 0;
    u8 inUse = 0;
    u16 attributes = 0;
    u32 createTime = 0;
    u32 modifiedTime = 0;
    u32 accessedTime = 0;
    u8 nameLength = 0;  // from the stream entry; kept, never used to cut the name
    i64 sector = 0;  // where the set was read

    bool IsDirectory() const { return (attributes & 0x10) != 0; }
};

// A name's UTF-16 units in UTF-8 (unpaired surrogates as U+FFFD), cut to at most 259 bytes at a character
// boundary.
std::string ExFatNameToUtf8(std::u16string_view units);
// A name of plain ASCII (most names) is its units, one byte each: written to out (room for units.size()
// bytes), with its length. False for any other name.
bool ExFatAsciiName(std::u16string_view units, char* out, size_t& length);

// The record of one complete entry set.
struct _tagFileBaseInfo : _tagFileBaseFields {
    static constexpr size_t kMaxNameUnits = 255;  // 17 name entries of 15 characters
    static constexpr size_t kMaxNameBytes = 259;  // UTF-8, before the terminator

    // The name as gathered from the name entries: UTF-16 units, so that a surrogate pair split over two
    // entries survives; Name() decodes it.
    char16_t nameUnits[kMaxNameUnits] = {};
    u16 nameUnitCount = 0;

    void Clear() { *this = _tagFileBaseInfo(); }
    // Takes the fields of a file entry (type, attributes, times) and the sector it was read at.
    void TakeFileEntry(ByteReader entry, i64 at);
    // Takes the data length, first cluster, no-FAT-chain flag and name length of a stream entry.
    void TakeStreamEntry(ByteReader entry);
    // Appends the characters of a name entry up to its first zero character.
    void AppendNameEntry(ByteReader entry);
    // The same in one pass with CExFatEntryRules::IsValidNameEntry: false, and nothing appended, for an
    // entry that test refuses.
    bool AppendValidNameEntry(ByteReader entry);

    std::u16string_view NameUnits() const {
        return std::u16string_view(nameUnits, std::min<size_t>(nameUnitCount, kMaxNameUnits));
    }
    // The name in UTF-8 (ExFatNameToUtf8).
    std::string Name() const { return ExFatNameToUtf8(NameUnits()); }
    // The name when it is plain ASCII (ExFatAsciiName); out has room for kMaxNameUnits bytes.
    bool AsciiName(char* out, size_t& length) const { return ExFatAsciiName(NameUnits(), out, length); }
};
