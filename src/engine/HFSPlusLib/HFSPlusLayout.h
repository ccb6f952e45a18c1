// The on-disk layout of HFS+ and HFSX volumes: each structure's byte offsets, named once. Everything
// is big-endian except the journal's own headers (written in the host's order, little-endian here) and
// the compression headers of compressed files (little-endian). Values are read through ByteReader.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace hfsplus {

// Signatures, versions and volume attributes.
inline constexpr u16 kSignatureHFSPlus = 0x482B;  // "H+"
inline constexpr u16 kSignatureHFSX = 0x4858;     // "HX"
inline constexpr u16 kMaxVersion = 16;
inline constexpr u64 kVolumeHeaderOffset = 1024;
inline constexpr size_t kVolumeHeaderSize = 512;
inline constexpr u32 kVolumeJournaledBit = 1u << 13;
inline constexpr u32 kVolumeCatalogIdsReusedBit = 1u << 12;
inline constexpr u32 kVolumeUnmountedBit = 1u << 8;

// Catalog node IDs of the special files and folders.
inline constexpr u32 kRootParentID = 1;
inline constexpr u32 kRootFolderID = 2;
inline constexpr u32 kExtentsFileID = 3;
inline constexpr u32 kCatalogFileID = 4;
inline constexpr u32 kBadBlocksFileID = 5;
inline constexpr u32 kAllocationFileID = 6;
inline constexpr u32 kStartupFileID = 7;
inline constexpr u32 kAttributesFileID = 8;
inline constexpr u32 kFirstUserCatalogID = 16;

// HFSPlusVolumeHeader (512 bytes at byte 1024 of the volume).
namespace vh {
inline constexpr size_t kSignature = 0;           // u16
inline constexpr size_t kVersion = 2;             // u16
inline constexpr size_t kAttributes = 4;          // u32
inline constexpr size_t kLastMountedVersion = 8;  // u32
inline constexpr size_t kJournalInfoBlock = 12;   // u32
inline constexpr size_t kCreateDate = 16;         // u32
inline constexpr size_t kModifyDate = 20;         // u32
inline constexpr size_t kBackupDate = 24;         // u32
inline constexpr size_t kCheckedDate = 28;        // u32
inline constexpr size_t kFileCount = 32;          // u32
inline constexpr size_t kFolderCount = 36;        // u32
inline constexpr size_t kBlockSize = 40;          // u32
inline constexpr size_t kTotalBlocks = 44;        // u32
inline constexpr size_t kFreeBlocks = 48;         // u32
inline constexpr size_t kNextAllocation = 52;     // u32
inline constexpr size_t kRsrcClumpSize = 56;      // u32
inline constexpr size_t kDataClumpSize = 60;      // u32
inline constexpr size_t kNextCatalogID = 64;      // u32
inline constexpr size_t kWriteCount = 68;         // u32
inline constexpr size_t kEncodingsBitmap = 72;    // u64
inline constexpr size_t kFinderInfo = 80;         // 8 x u32; [6] and [7] hold the volume identifier
inline constexpr size_t kAllocationFile = 112;    // fork data
inline constexpr size_t kExtentsFile = 192;       // fork data
inline constexpr size_t kCatalogFile = 272;       // fork data
inline constexpr size_t kAttributesFile = 352;    // fork data
inline constexpr size_t kStartupFile = 432;       // fork data
}  // namespace vh

// HFSPlusExtentDescriptor (8 bytes) and HFSPlusExtentRecord (eight of them).
namespace extent {
inline constexpr size_t kStartBlock = 0;  // u32
inline constexpr size_t kBlockCount = 4;  // u32
inline constexpr size_t kSize = 8;
inline constexpr size_t kPerRecord = 8;
inline constexpr size_t kRecordSize = kSize * kPerRecord;  // 64
}  // namespace extent

// HFSPlusForkData (80 bytes).
namespace fork {
inline constexpr size_t kLogicalSize = 0;   // u64
inline constexpr size_t kClumpSize = 8;     // u32
inline constexpr size_t kTotalBlocks = 12;  // u32
inline constexpr size_t kExtents = 16;      // extent record
inline constexpr size_t kSize = 80;
}  // namespace fork

// BTNodeDescriptor (14 bytes at the start of every B-tree node).
namespace node {
inline constexpr size_t kFLink = 0;       // u32
inline constexpr size_t kBLink = 4;       // u32
inline constexpr size_t kKind = 8;        // s8
inline constexpr size_t kHeight = 9;      // u8
inline constexpr size_t kNumRecords = 10; // u16
inline constexpr size_t kReserved = 12;   // u16, 0
inline constexpr size_t kDescriptorSize = 14;
inline constexpr i8 kKindLeaf = -1;
inline constexpr i8 kKindIndex = 0;
inline constexpr i8 kKindHeader = 1;
inline constexpr i8 kKindMap = 2;
inline constexpr u32 kMinNodeSize = 512;
}  // namespace node

// BTHeaderRec (106 bytes, record 0 of node 0).
namespace header {
inline constexpr size_t kTreeDepth = 0;       // u16
inline constexpr size_t kRootNode = 2;        // u32
inline constexpr size_t kLeafRecords = 6;     // u32
inline constexpr size_t kFirstLeafNode = 10;  // u32
inline constexpr size_t kLastLeafNode = 14;   // u32
inline constexpr size_t kNodeSize = 18;       // u16
inline constexpr size_t kMaxKeyLength = 20;   // u16
inline constexpr size_t kTotalNodes = 22;     // u32
inline constexpr size_t kFreeNodes = 26;      // u32
inline constexpr size_t kClumpSize = 32;      // u32
inline constexpr size_t kBtreeType = 36;      // u8
inline constexpr size_t kKeyCompareType = 37; // u8
inline constexpr size_t kAttributes = 38;     // u32
inline constexpr size_t kSize = 106;
inline constexpr u8 kCaseFolding = 0xCF;
inline constexpr u8 kBinaryCompare = 0xBC;
inline constexpr u32 kBigKeysMask = 2;
inline constexpr u32 kVariableIndexKeysMask = 4;
}  // namespace header

// HFSPlusCatalogKey: key length, parent ID, name (length and UTF-16 units).
namespace catkey {
inline constexpr size_t kKeyLength = 0;   // u16, bytes after this field
inline constexpr size_t kParentID = 2;    // u32
inline constexpr size_t kNameLength = 6;  // u16, UTF-16 units
inline constexpr size_t kName = 8;
inline constexpr size_t kMinKeyLength = 6;
inline constexpr u16 kMaxNameUnits = 255;
}  // namespace catkey

// HFSPlusExtentKey (12 bytes).
namespace extkey {
inline constexpr size_t kKeyLength = 0;   // u16, 10
inline constexpr size_t kForkType = 2;    // u8: 0x00 data, 0xFF resource
inline constexpr size_t kFileID = 4;      // u32
inline constexpr size_t kStartBlock = 8;  // u32
inline constexpr size_t kSize = 12;
inline constexpr u16 kKeyLengthValue = 10;
inline constexpr u8 kDataFork = 0x00;
inline constexpr u8 kResourceFork = 0xFF;
}  // namespace extkey

// HFSPlusAttrKey.
namespace attrkey {
inline constexpr size_t kKeyLength = 0;    // u16
inline constexpr size_t kFileID = 4;       // u32
inline constexpr size_t kStartBlock = 8;   // u32
inline constexpr size_t kNameLength = 12;  // u16, UTF-16 units
inline constexpr size_t kName = 14;
inline constexpr size_t kMinKeyLength = 12;
}  // namespace attrkey

// Catalog records. The record type (u16) comes first in each.
namespace catrec {
inline constexpr u16 kFolder = 1;
inline constexpr u16 kFile = 2;
inline constexpr u16 kFolderThread = 3;
inline constexpr u16 kFileThread = 4;
inline constexpr size_t kRecordType = 0;  // u16
}  // namespace catrec

// HFSPlusCatalogFolder (88 bytes).
namespace folder {
inline constexpr size_t kFlags = 2;             // u16
inline constexpr size_t kValence = 4;           // u32
inline constexpr size_t kFolderID = 8;          // u32
inline constexpr size_t kCreateDate = 12;       // u32
inline constexpr size_t kContentModDate = 16;   // u32
inline constexpr size_t kAttributeModDate = 20; // u32
inline constexpr size_t kAccessDate = 24;       // u32
inline constexpr size_t kBackupDate = 28;       // u32
inline constexpr size_t kPermissions = 32;      // BSD info (16 bytes)
inline constexpr size_t kUserInfo = 48;         // 16 bytes
inline constexpr size_t kFinderInfo = 64;       // 16 bytes
inline constexpr size_t kTextEncoding = 80;     // u32
inline constexpr size_t kFolderCount = 84;      // u32
inline constexpr size_t kSize = 88;
}  // namespace folder

// HFSPlusBSDInfo (16 bytes) inside file and folder records.
namespace bsd {
inline constexpr size_t kOwnerID = 0;     // u32
inline constexpr size_t kGroupID = 4;     // u32
inline constexpr size_t kAdminFlags = 8;  // u8
inline constexpr size_t kOwnerFlags = 9;  // u8
inline constexpr size_t kFileMode = 10;   // u16
inline constexpr size_t kSpecial = 12;    // u32: inode number of a hard link, link count, device
inline constexpr u8 kCompressedFlag = 0x20;
}  // namespace bsd

// HFSPlusCatalogFile (248 bytes).
namespace file {
inline constexpr size_t kFlags = 2;             // u16
inline constexpr size_t kFileID = 8;            // u32
inline constexpr size_t kCreateDate = 12;       // u32
inline constexpr size_t kContentModDate = 16;   // u32
inline constexpr size_t kAttributeModDate = 20; // u32
inline constexpr size_t kAccessDate = 24;       // u32
inline constexpr size_t kBackupDate = 28;       // u32
inline constexpr size_t kPermissions = 32;      // BSD info
inline constexpr size_t kFileType = 48;         // u32 (FileInfo.fileType)
inline constexpr size_t kFileCreator = 52;      // u32 (FileInfo.fileCreator)
inline constexpr size_t kFinderFlags = 56;      // u16
inline constexpr size_t kFinderInfo = 64;       // 16 bytes
inline constexpr size_t kTextEncoding = 80;     // u32
inline constexpr size_t kDataFork = 88;         // fork data
inline constexpr size_t kResourceFork = 168;    // fork data
inline constexpr size_t kSize = 248;
inline constexpr u32 kHardLinkType = 0x686C6E6B;     // 'hlnk'
inline constexpr u32 kHardLinkCreator = 0x6866732B;  // 'hfs+'
inline constexpr u32 kFolderAliasType = 0x66647270;  // 'fdrp'
inline constexpr u32 kSymlinkType = 0x736C6E6B;      // 'slnk'
inline constexpr u32 kSymlinkCreator = 0x72686170;   // 'rhap'
}  // namespace file

// HFSPlusCatalogThread (10 bytes + name).
namespace thread {
inline constexpr size_t kParentID = 4;    // u32
inline constexpr size_t kNameLength = 8;  // u16
inline constexpr size_t kName = 10;
inline constexpr size_t kMinSize = 10;
inline constexpr size_t kMaxSize = 520;
}  // namespace thread

// Attribute records: inline data (0x10), fork data (0x20), extents (0x30). The type is a u32.
namespace attrrec {
inline constexpr u32 kInlineData = 0x10;
inline constexpr u32 kForkData = 0x20;
inline constexpr u32 kExtents = 0x30;
inline constexpr size_t kRecordType = 0;  // u32
inline constexpr size_t kAttrSize = 12;   // u32, inline data
inline constexpr size_t kData = 16;       // inline data
inline constexpr size_t kInlineHeaderSize = 16;
inline constexpr size_t kFork = 8;        // fork data record: the fork
inline constexpr size_t kForkRecordSize = 88;
inline constexpr size_t kExtentRecord = 8;  // extents record: eight extents
inline constexpr size_t kExtentsRecordSize = 72;
}  // namespace attrrec

// JournalInfoBlock (big-endian, 180 bytes used).
namespace jib {
inline constexpr size_t kFlags = 0;   // u32
inline constexpr size_t kOffset = 36; // u64, byte offset of the journal in the volume
inline constexpr size_t kSize = 44;   // u64, bytes of the journal
inline constexpr size_t kReserved = 52;  // 32 x u32, all 0
inline constexpr size_t kRecordSize = 180;
inline constexpr u32 kJournalInFS = 1;
}  // namespace jib

// Journal header (little-endian, 44 bytes read).
namespace jhdr {
inline constexpr size_t kMagic = 0;      // u32
inline constexpr size_t kEndian = 4;     // u32
inline constexpr size_t kStart = 8;      // u64
inline constexpr size_t kEnd = 16;       // u64
inline constexpr size_t kSize = 24;      // u64
inline constexpr size_t kBlhdrSize = 32; // u32
inline constexpr size_t kChecksum = 36;  // u32
inline constexpr size_t kJhdrSize = 40;  // u32
inline constexpr size_t kRecordSize = 44;
inline constexpr u32 kMagicValue = 0x4A4E4C78;
inline constexpr u32 kEndianValue = 0x12345678;
}  // namespace jhdr

// Block list header of a journal transaction (little-endian) and its 16-byte block entries.
namespace blhdr {
inline constexpr size_t kMaxBlocks = 0;  // u16
inline constexpr size_t kNumBlocks = 2;  // u16, entry 0 included
inline constexpr size_t kBytesUsed = 4;  // u32
inline constexpr size_t kChecksum = 8;   // u32
inline constexpr size_t kEntries = 16;
inline constexpr size_t kEntrySize = 16;
inline constexpr size_t kEntryBnum = 0;   // u64, in units of jhdr_size bytes
inline constexpr size_t kEntryBsize = 8;  // u32
inline constexpr size_t kEntryNext = 12;  // u32
inline constexpr size_t kMinSize = 16;
}  // namespace blhdr

// decmpfs header of a compressed file (little-endian, 16 bytes at the start of the attribute).
namespace decmpfs {
inline constexpr size_t kMagic = 0;             // u32, not checked
inline constexpr size_t kCompressionType = 4;   // u32
inline constexpr size_t kUncompressedSize = 8;  // u64
inline constexpr size_t kHeaderSize = 16;
inline constexpr u32 kMagicValue = 0x636D7066;  // "fpmc" read little-endian
inline constexpr u32 kZlibInline = 3;
inline constexpr u32 kZlibResource = 4;
inline constexpr u32 kLzvnInline = 7;
inline constexpr u32 kLzvnResource = 8;
// Each block (zlib) or chunk (LZVN) of the resource fork holds this many bytes of the file, the last
// one the rest.
inline constexpr u64 kBlockSize = 65536;
// A first byte that marks a stream stored without compression.
inline constexpr u8 kZlibRawMark = 0xFF;
inline constexpr u8 kLzvnRawMark = 0x06;
inline constexpr const char* kAttributeName = "com.apple.decmpfs";
}  // namespace decmpfs

// The resource fork of a type-4 file: a resource-fork header, then at its data offset the block table.
namespace rsrc {
inline constexpr size_t kDataOffset = 0;   // u32 BE
inline constexpr size_t kMapOffset = 4;    // u32 BE
inline constexpr size_t kDataLength = 8;   // u32 BE
inline constexpr size_t kMapLength = 12;   // u32 BE
inline constexpr size_t kHeaderSize = 16;
// At the data offset: the resource's size (u32 BE), then the block count (u32 LE) and the entries.
inline constexpr size_t kBlockDataSize = 0;  // u32 BE
inline constexpr size_t kBlockCount = 4;     // u32 LE
inline constexpr size_t kBlockEntries = 8;
inline constexpr size_t kBlockEntrySize = 8;   // offset (LE, from data offset + 4), size (LE)
inline constexpr size_t kBlockOffsetBase = 4;  // entry offsets count from data offset + 4
}  // namespace rsrc

// HFS+ dates: seconds since 1904-01-01 UTC. Node times: 100-ns ticks since 1601-01-01.
inline constexpr i64 kTicksPerSecond = 10000000;
inline constexpr i64 kFiletime1904 = 95616288000000000LL;

}  // namespace hfsplus
