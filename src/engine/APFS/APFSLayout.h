// The on-disk layout of the APFS structures the search reads, each offset named once. Everything is
// little-endian and read through ByteReader; offsets are from the start of a 4096-byte block, or of
// the key or value they belong to.
#pragma once

#include <cstddef>

#include "engine/Common/Types.h"

namespace apfs {

// Every container the search accepts has 4096-byte blocks; all addresses are computed with it.
inline constexpr u32 kBlockSize = 4096;

// Object header, at the start of every object. The checksum at 0 and the transaction at 16 are never read.
namespace obj {
inline constexpr size_t kOid = 8;
inline constexpr size_t kType = 24;       // low half of o_type
inline constexpr size_t kTypeFlags = 26;  // high half of o_type
inline constexpr size_t kSubtype = 28;    // low half of o_subtype
inline constexpr size_t kHeaderSize = 32;
inline constexpr u16 kMaxType = 31;
inline constexpr u16 kMaxSubtype = 31;
inline constexpr u16 kPhysical = 0x4000;
// Types and subtypes the search tests.
inline constexpr u16 kContainerSuperblock = 1;
inline constexpr u16 kBtreeNode = 3;
inline constexpr u16 kObjectMap = 11;
inline constexpr u16 kFileSystemTree = 14;
}  // namespace obj

// Container superblock (nx_superblock_t).
namespace nx {
inline constexpr size_t kMagic = 32;
inline constexpr size_t kBlockSize = 36;
inline constexpr size_t kBlockCount = 40;
inline constexpr size_t kUuid = 72;
inline constexpr size_t kUuidSize = 16;
inline constexpr size_t kDescriptorIndex = 136;  // nx_xp_desc_index, taken as the next superblock
inline constexpr size_t kOmapOid = 160;
inline constexpr u32 kMagicValue = 0x4253584E;  // "NXSB"
// The magic followed by a block size of 4096, read as one u64.
inline constexpr u64 kMagicAnd4096 = 0x000010004253584EULL;
}  // namespace nx

// Object map (omap_phys_t).
namespace omap {
inline constexpr size_t kTreeOid = 48;
// Its value (omap_val_t): flags, size, then the object's physical address.
inline constexpr size_t kValuePaddr = 8;
// A fixed-size leaf entry value whose flags are 0 and size 4096, as one u64 (omap_val_t's first half).
inline constexpr u64 kPlainValueHead = 0x0000100000000000ULL;
inline constexpr size_t kSlotSize = 16;
}  // namespace omap

// B-tree node (btree_node_phys_t).
namespace btn {
inline constexpr size_t kFlags = 32;
inline constexpr size_t kKeyCount = 36;
inline constexpr size_t kTableSpaceOffset = 40;
inline constexpr size_t kTableSpaceLength = 42;
inline constexpr size_t kToc = 56;
inline constexpr size_t kFixedEntrySize = 4;     // kvoff_t: key offset, value offset
inline constexpr size_t kFixedKey = 0;           // u16 in a kvoff_t, from the key area's start
inline constexpr size_t kFixedValue = 2;         // u16 in a kvoff_t, back from the value area's end
inline constexpr size_t kVariableEntrySize = 8;  // kvloc_t: key offset, key length, value offset, value length
inline constexpr size_t kInfoSize = 40;          // btree_info_t at the end of a root node
// Node flags as whole values.
inline constexpr u16 kRoot = 1;
inline constexpr u16 kRootLeaf = 3;
inline constexpr u16 kFixedIndex = 4;
inline constexpr u16 kFixedRootIndex = 5;
inline constexpr u16 kFixedLeaf = 6;
inline constexpr u16 kFixedRootLeaf = 7;
inline constexpr u32 kMaxEntries = 1024;
}  // namespace btn

// Volume superblock (apfs_superblock_t).
namespace apsb {
inline constexpr size_t kMagic = 32;
inline constexpr size_t kOmapOid = 128;
inline constexpr size_t kVolumeName = 704;
inline constexpr size_t kVolumeNameSize = 256;
inline constexpr u32 kMagicValue = 0x42535041;  // "APSB"
// The label is at most this many bytes of the first volume's name.
inline constexpr size_t kLabelBytes = 32;
}  // namespace apsb

// File-system records: the kind is the top byte of the key's first u64 (obj_id_and_type).
namespace rec {
inline constexpr u8 kInode = 0x30;
inline constexpr u8 kFileExtent = 0x80;
inline constexpr u8 kDirectory = 0x90;
inline constexpr u64 kIdMask = 0x00FFFFFFFFFFFFFFULL;
inline constexpr size_t kKeyHeader = 8;
}  // namespace rec

// Inode value (j_inode_val_t) and its extended fields.
namespace inode {
inline constexpr size_t kParentId = 0;
inline constexpr size_t kPrivateId = 8;
inline constexpr size_t kCreationTime = 16;
inline constexpr size_t kModificationTime = 24;
inline constexpr size_t kChangeTime = 32;
inline constexpr size_t kAccessTime = 40;
inline constexpr size_t kMode = 80;
inline constexpr size_t kFieldCount = 92;
inline constexpr size_t kFieldDescriptors = 96;
inline constexpr size_t kDescriptorSize = 4;
inline constexpr size_t kMinValue = 100;
inline constexpr u16 kModeFolder = 0x4000;
// Descriptor heads (type byte, flags byte) read as one u16.
inline constexpr u16 kDataStreamField = 0x2008;
inline constexpr u16 kNameField = 0x0204;
inline constexpr size_t kDescriptorSizeField = 2;
inline constexpr u32 kMaxFields = 1024;
}  // namespace inode

// Directory record: hashed key (j_drec_hashed_key_t) and value (j_drec_val_t).
namespace drec {
inline constexpr size_t kKeyNameLength = 8;  // name length (low bits) and hash, u32
inline constexpr size_t kKeyName = 12;
inline constexpr u32 kNameLengthMask = 0x1FF;
inline constexpr size_t kFileId = 0;
inline constexpr size_t kDateAdded = 8;
inline constexpr size_t kType = 16;
inline constexpr size_t kMinValue = 18;
inline constexpr u16 kTypeFolder = 4;
}  // namespace drec

// File extent: key (j_file_extent_key_t) and value (j_file_extent_val_t).
namespace extent {
inline constexpr size_t kKeyLogicalOffset = 8;
inline constexpr size_t kKeySize = 16;
inline constexpr size_t kLengthAndFlags = 0;
inline constexpr size_t kPhysicalBlock = 8;
inline constexpr size_t kMinValue = 16;
inline constexpr u64 kLengthMask = 0x00FFFFFFFFFFFFFFULL;
}  // namespace extent

}  // namespace apfs
