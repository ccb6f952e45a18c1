// Host-order copies of the HFS+ structures and the decoders that make them from disk bytes.
//
// Every structure is decoded once, right after it is read, through a bounded ByteReader: a decoder
// answers false (and leaves its output unspecified) when the bytes do not hold the whole structure.
// Names and key copies never take more than the record they lie in.
#pragma once

#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/Common/ByteReader.h"
#include "engine/Common/Types.h"
#include "engine/HFSPlusLib/HFSPlusLayout.h"

struct HFSPlusExtentDescriptor {
    u32 startBlock = 0;
    u32 blockCount = 0;
};
using HFSPlusExtentRecord = std::array<HFSPlusExtentDescriptor, 8>;

struct HFSPlusForkData {
    u64 logicalSize = 0;
    u32 clumpSize = 0;
    u32 totalBlocks = 0;
    HFSPlusExtentRecord extents{};
};

struct HFSPlusVolumeHeader {
    u16 signature = 0;
    u16 version = 0;
    u32 attributes = 0;
    u32 lastMountedVersion = 0;
    u32 journalInfoBlock = 0;
    u32 createDate = 0;
    u32 modifyDate = 0;
    u32 backupDate = 0;
    u32 checkedDate = 0;
    u32 fileCount = 0;
    u32 folderCount = 0;
    u32 blockSize = 0;
    u32 totalBlocks = 0;
    u32 freeBlocks = 0;
    u32 nextAllocation = 0;
    u32 rsrcClumpSize = 0;
    u32 dataClumpSize = 0;
    u32 nextCatalogID = 0;
    u32 writeCount = 0;
    u64 encodingsBitmap = 0;
    std::array<u32, 8> finderInfo{};
    HFSPlusForkData allocationFile;
    HFSPlusForkData extentsFile;
    HFSPlusForkData catalogFile;
    HFSPlusForkData attributesFile;
    HFSPlusForkData startupFile;

    // The 64-bit volume identifier kept in finderInfo[6..7].
    u64 VolumeIdentifier() const { return (u64{finderInfo[6]} << 32) | finderInfo[7]; }
};

struct BTNodeDescriptor {
    u32 fLink = 0;
    u32 bLink = 0;
    i8 kind = 0;
    u8 height = 0;
    u16 numRecords = 0;
};

struct BTHeaderRec {
    u16 treeDepth = 0;
    u32 rootNode = 0;
    u32 leafRecords = 0;
    u32 firstLeafNode = 0;
    u32 lastLeafNode = 0;
    u16 nodeSize = 0;
    u16 maxKeyLength = 0;
    u32 totalNodes = 0;
    u32 freeNodes = 0;
    u32 clumpSize = 0;
    u8 btreeType = 0;
    u8 keyCompareType = 0;
    u32 attributes = 0;
};

// The host-order copy of a key of any of the three trees. Catalog keys use parentID and the name;
// extent keys forkType, fileID and startBlock; attribute keys fileID, startBlock and the name.
struct BTKey {
    u16 keyLength = 0;
    u32 parentID = 0;
    u8 forkType = 0;
    u32 fileID = 0;
    u32 startBlock = 0;
    u16 nameLength = 0;  // UTF-16 units, at most 255
    std::array<u16, 255> name{};
};
using BTKeyPtr = std::unique_ptr<BTKey>;

struct HFSPlusBSDInfo {
    u32 ownerID = 0;
    u32 groupID = 0;
    u8 adminFlags = 0;
    u8 ownerFlags = 0;
    u16 fileMode = 0;
    u32 special = 0;
};

struct HFSPlusCatalogFolder {
    u16 flags = 0;
    u32 valence = 0;
    u32 folderID = 0;
    u32 createDate = 0;
    u32 contentModDate = 0;
    u32 attributeModDate = 0;
    u32 accessDate = 0;
    u32 backupDate = 0;
    HFSPlusBSDInfo permissions;
    u32 textEncoding = 0;
};

struct HFSPlusCatalogFile {
    u16 flags = 0;
    u32 fileID = 0;
    u32 createDate = 0;
    u32 contentModDate = 0;
    u32 attributeModDate = 0;
    u32 accessDate = 0;
    u32 backupDate = 0;
    HFSPlusBSDInfo permissions;
    u32 fileType = 0;
    u32 fileCreator = 0;
    u16 finderFlags = 0;
    u32 textEncoding = 0;
    HFSPlusForkData dataFork;
    HFSPlusForkData resourceFork;
};

struct HFSPlusCatalogThread {
    u32 parentID = 0;
    u16 nameLength = 0;
    std::array<u16, 255> name{};
};

// A catalog record: the member that the record type names is the one filled.
struct HFSPlusCatalogRecord {
    u16 recordType = 0;
    HFSPlusCatalogFolder folder;
    HFSPlusCatalogFile file;
    HFSPlusCatalogThread thread;

    // The catalog node ID of a file or folder record (0 for others).
    u32 CatalogNodeID() const;
};

// An attribute record: inline data (0x10), fork data (0x20) or extents (0x30).
struct HFSPlusAttrRecord {
    u32 recordType = 0;
    u32 attrSize = 0;
    std::vector<u8> data;  // inline data, exactly attrSize bytes
    HFSPlusForkData fork;
    HFSPlusExtentRecord extents{};
};

// The host-order copy of one leaf record of whichever tree.
struct BTRecord {
    HFSPlusCatalogRecord catalog;
    HFSPlusExtentRecord extents{};
    HFSPlusAttrRecord attribute;
};
using BTRecordPtr = std::unique_ptr<BTRecord>;

struct JournalInfoBlock {
    u32 flags = 0;
    u64 offset = 0;
    u64 size = 0;
};

struct JournalHeader {
    u32 magic = 0;
    u32 endian = 0;
    u64 start = 0;
    u64 end = 0;
    u64 size = 0;
    u32 blhdrSize = 0;
    u32 checksum = 0;
    u32 jhdrSize = 0;
};

namespace hfsplus {

bool DecodeExtentRecord(ByteReader bytes, size_t at, HFSPlusExtentRecord& out);
bool DecodeForkData(ByteReader bytes, size_t at, HFSPlusForkData& out);
bool DecodeVolumeHeader(ByteReader bytes, HFSPlusVolumeHeader& out);
bool DecodeNodeDescriptor(ByteReader bytes, BTNodeDescriptor& out);
bool DecodeHeaderRec(ByteReader bytes, BTHeaderRec& out);

// Keys, each bounded by the bytes given (the record that holds the key) and by its own key length. A
// name length above 255 is taken as 255; a name longer than the key makes the key unreadable.
bool DecodeCatalogKey(ByteReader bytes, BTKey& out);
bool DecodeExtentKey(ByteReader bytes, BTKey& out);
bool DecodeAttributeKey(ByteReader bytes, BTKey& out);

// Records: the bytes are the record's data (after its key).
bool DecodeCatalogRecord(ByteReader bytes, HFSPlusCatalogRecord& out);
bool DecodeCatalogThread(ByteReader bytes, HFSPlusCatalogThread& out);
// Whether DecodeCatalogThread would take these bytes (nothing is copied).
bool CatalogThreadDecodes(ByteReader bytes);
bool DecodeAttributeRecord(ByteReader bytes, HFSPlusAttrRecord& out);

bool DecodeJournalInfoBlock(ByteReader bytes, JournalInfoBlock& out);
bool DecodeJournalHeader(ByteReader bytes, JournalHeader& out);

// Names on disk keep '/' as ':' in host copies (the separator of paths is '/').
inline u16 StoredNameUnit(u16 unit) { return unit == u16('/') ? u16(':') : unit; }

// Eight 16-bit values side by side, for the loops over offset tables and names.
using EightUnits = U16x8;

}  // namespace hfsplus
