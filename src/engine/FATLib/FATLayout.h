// Where the fields of the FAT on-disk structures lie: the boot sector and the 32-byte directory entry
// (8.3 entries and long-name pieces). Offsets are in bytes from the start of the structure named by the
// namespace; the readers take every field through ByteReader at these offsets (all little-endian).
#pragma once

#include <cstddef>

namespace fat_boot_layout {

inline constexpr size_t kSize = 512;              // the part of the boot sector that is read
inline constexpr size_t kJump = 0;                // first byte: never 0 in a boot sector
inline constexpr size_t kBytesPerSector = 11;     // u16
inline constexpr size_t kSectorsPerCluster = 13;  // u8
inline constexpr size_t kReservedSectors = 14;    // u16: sectors before the first table
inline constexpr size_t kNumberOfFats = 16;       // u8
inline constexpr size_t kRootEntries = 17;        // u16: FAT12/16 fixed root directory
inline constexpr size_t kTotalSectors16 = 19;     // u16: 0 when the count needs kTotalSectors32
inline constexpr size_t kSectorsPerFat16 = 22;    // u16: FAT12/16
inline constexpr size_t kTotalSectors32 = 32;     // u32
inline constexpr size_t kSectorsPerFat32 = 36;    // u32: FAT32
inline constexpr size_t kRootCluster = 44;        // u32: FAT32
inline constexpr size_t kFat16TypeText = 54;      // "FAT16   "
inline constexpr size_t kFat32TypeText = 82;      // "FAT32   "
inline constexpr size_t kTypeTextSize = 8;
inline constexpr size_t kSignature = 510;  // 0x55 0xAA

}  // namespace fat_boot_layout

namespace fat_dir_entry_layout {

inline constexpr size_t kSize = 32;

// An 8.3 entry.
inline constexpr size_t kName = 0;  // 8 bytes; 0xE5 first: erased, 0: never used
inline constexpr size_t kNameSize = 8;
inline constexpr size_t kExtension = 8;  // 3 bytes
inline constexpr size_t kExtensionSize = 3;
inline constexpr size_t kShortNameSize = 11;     // name and extension together
inline constexpr size_t kAttribute = 11;         // u8; 0x0F: a long-name piece
inline constexpr size_t kCaseFlags = 12;         // u8: the name as written was in lower case
inline constexpr u8 kLowerCaseBase = 0x08;
inline constexpr u8 kLowerCaseExtension = 0x10;
inline constexpr size_t kCreationTime = 14;      // u16 DOS time
inline constexpr size_t kCreationDate = 16;      // u16 DOS date
inline constexpr size_t kAccessDate = 18;        // u16 DOS date
inline constexpr size_t kClusterHigh = 20;       // u16: high word of the first cluster (FAT32)
inline constexpr size_t kModificationTime = 22;  // u16 DOS time
inline constexpr size_t kModificationDate = 24;  // u16 DOS date
inline constexpr size_t kClusterLow = 26;        // u16: low word of the first cluster
inline constexpr size_t kFileSize = 28;          // u32

// A long-name piece: 13 UTF-16LE units in three runs.
inline constexpr size_t kOrdinal = 0;  // u8: piece number, 0x40 on the last piece
inline constexpr size_t kChecksum = 13;  // u8: checksum of the 8.3 name the pieces belong to
inline constexpr size_t kNameUnitCount = 13;
inline constexpr size_t kNameUnits[kNameUnitCount] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

}  // namespace fat_dir_entry_layout
