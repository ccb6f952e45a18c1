#include "engine/HFSPlusLib/HFSPlusStructs.h"

#include <algorithm>
#include <cstring>
#include <optional>

u32 HFSPlusCatalogRecord::CatalogNodeID() const {
    if (recordType == hfsplus::catrec::kFolder) return folder.folderID;
    if (recordType == hfsplus::catrec::kFile) return file.fileID;
    return 0;
}

namespace hfsplus {

namespace {

// Reads a field that the caller has already bounded; a missing value reads as 0.
template <typename T>
T Or0(std::optional<T> value) {
    return value.value_or(T{0});
}

bool DecodeBSDInfo(ByteReader b, size_t at, HFSPlusBSDInfo& out) {
    if (!b.Has(at, 16)) return false;
    out.ownerID = Or0(b.Be32(at + bsd::kOwnerID));
    out.groupID = Or0(b.Be32(at + bsd::kGroupID));
    out.adminFlags = Or0(b.U8(at + bsd::kAdminFlags));
    out.ownerFlags = Or0(b.U8(at + bsd::kOwnerFlags));
    out.fileMode = Or0(b.Be16(at + bsd::kFileMode));
    out.special = Or0(b.Be32(at + bsd::kSpecial));
    return true;
}

// The units of a name that the bytes hold whole; absent when they do not.
std::optional<u16> NameUnits(ByteReader b, size_t lengthAt, size_t unitsAt) {
    const auto count = b.Be16(lengthAt);
    if (!count) return std::nullopt;
    const u16 units = std::min<u16>(*count, catkey::kMaxNameUnits);
    if (!b.Has(unitsAt, size_t(units) * 2)) return std::nullopt;
    return units;
}

// UTF-16 units of a name (big-endian on disk), '/' kept as ':'. A length above 255 is taken as 255; the
// units must lie inside the bytes given. On success every unit of the array is written (zeros past the
// name).
bool DecodeName(ByteReader b, size_t lengthAt, size_t unitsAt, u16& length, std::array<u16, 255>& name) {
    const auto units = NameUnits(b, lengthAt, unitsAt);
    if (!units) return false;
    length = *units;
    // Eight units at a time while they last (names run to tens of units and every record has one):
    // '/' (0x2F) becomes ':' (0x3A) lane by lane.
    u16 i = 0;
    if (const auto bytes = b.Bytes(unitsAt, size_t(length) * 2)) {
        for (; i + 8 <= length; i += 8) {
            EightUnits v = ByteReader(*bytes).Be16x8(2 * size_t(i)).value_or(EightUnits{});
            v += EightUnits(v == u16('/')) & u16(':' - '/');
            std::memcpy(name.data() + i, &v, sizeof v);
        }
    }
    for (; i < length; ++i) name[i] = StoredNameUnit(Or0(b.Be16(unitsAt + 2 * size_t(i))));
    std::fill(name.begin() + length, name.end(), u16{0});
    return true;
}

}  // namespace

namespace {

// The eight extents from a view of exactly their bytes (its size known here, the reads need no check).
void DecodeExtents(const u8 (&bytes)[extent::kRecordSize], HFSPlusExtentRecord& out) {
    const ByteReader r(bytes, sizeof bytes);
    for (size_t i = 0; i < extent::kPerRecord; ++i) {
        const size_t e = i * extent::kSize;
        out[i].startBlock = Or0(r.Be32(e + extent::kStartBlock));
        out[i].blockCount = Or0(r.Be32(e + extent::kBlockCount));
    }
}

}  // namespace

bool DecodeExtentRecord(ByteReader b, size_t at, HFSPlusExtentRecord& out) {
    // Copied out whole (every file record holds two of these): the fields are then read without a
    // bounds check each.
    u8 bytes[extent::kRecordSize];
    if (!b.CopyTo(at, bytes, sizeof bytes)) return false;
    DecodeExtents(bytes, out);
    return true;
}

bool DecodeForkData(ByteReader b, size_t at, HFSPlusForkData& out) {
    u8 bytes[fork::kSize];
    if (!b.CopyTo(at, bytes, sizeof bytes)) return false;
    const ByteReader r(bytes, sizeof bytes);
    out.logicalSize = Or0(r.Be64(fork::kLogicalSize));
    out.clumpSize = Or0(r.Be32(fork::kClumpSize));
    out.totalBlocks = Or0(r.Be32(fork::kTotalBlocks));
    static_assert(fork::kExtents + extent::kRecordSize == fork::kSize);
    u8 extents[extent::kRecordSize];
    std::memcpy(extents, bytes + fork::kExtents, sizeof extents);
    DecodeExtents(extents, out.extents);
    return true;
}

bool DecodeVolumeHeader(ByteReader b, HFSPlusVolumeHeader& out) {
    if (!b.Has(0, kVolumeHeaderSize)) return false;
    out.signature = Or0(b.Be16(vh::kSignature));
    out.version = Or0(b.Be16(vh::kVersion));
    out.attributes = Or0(b.Be32(vh::kAttributes));
    out.lastMountedVersion = Or0(b.Be32(vh::kLastMountedVersion));
    out.journalInfoBlock = Or0(b.Be32(vh::kJournalInfoBlock));
    out.createDate = Or0(b.Be32(vh::kCreateDate));
    out.modifyDate = Or0(b.Be32(vh::kModifyDate));
    out.backupDate = Or0(b.Be32(vh::kBackupDate));
    out.checkedDate = Or0(b.Be32(vh::kCheckedDate));
    out.fileCount = Or0(b.Be32(vh::kFileCount));
    out.folderCount = Or0(b.Be32(vh::kFolderCount));
    out.blockSize = Or0(b.Be32(vh::kBlockSize));
    out.totalBlocks = Or0(b.Be32(vh::kTotalBlocks));
    out.freeBlocks = Or0(b.Be32(vh::kFreeBlocks));
    out.nextAllocation = Or0(b.Be32(vh::kNextAllocation));
    out.rsrcClumpSize = Or0(b.Be32(vh::kRsrcClumpSize));
    out.dataClumpSize = Or0(b.Be32(vh::kDataClumpSize));
    out.nextCatalogID = Or0(b.Be32(vh::kNextCatalogID));
    out.writeCount = Or0(b.Be32(vh::kWriteCount));
    out.encodingsBitmap = Or0(b.Be64(vh::kEncodingsBitmap));
    for (size_t i = 0; i < out.finderInfo.size(); ++i) out.finderInfo[i] = Or0(b.Be32(vh::kFinderInfo + 4 * i));
    return DecodeForkData(b, vh::kAllocationFile, out.allocationFile) &&
           DecodeForkData(b, vh::kExtentsFile, out.extentsFile) &&
           DecodeForkData(b, vh::kCatalogFile, out.catalogFile) &&
           DecodeForkData(b, vh::kAttributesFile, out.attributesFile) &&
           DecodeForkData(b, vh::kStartupFile, out.startupFile);
}

bool DecodeNodeDescriptor(ByteReader b, BTNodeDescriptor& out) {
    if (!b.Has(0, node::kDescriptorSize)) return false;
    out.fLink = Or0(b.Be32(node::kFLink));
    out.bLink = Or0(b.Be32(node::kBLink));
    out.kind = static_cast<i8>(Or0(b.U8(node::kKind)));
    out.height = Or0(b.U8(node::kHeight));
    out.numRecords = Or0(b.Be16(node::kNumRecords));
    return true;
}

bool DecodeHeaderRec(ByteReader b, BTHeaderRec& out) {
    if (!b.Has(0, header::kSize)) return false;
    out.treeDepth = Or0(b.Be16(header::kTreeDepth));
    out.rootNode = Or0(b.Be32(header::kRootNode));
    out.leafRecords = Or0(b.Be32(header::kLeafRecords));
    out.firstLeafNode = Or0(b.Be32(header::kFirstLeafNode));
    out.lastLeafNode = Or0(b.Be32(header::kLastLeafNode));
    out.nodeSize = Or0(b.Be16(header::kNodeSize));
    out.maxKeyLength = Or0(b.Be16(header::kMaxKeyLength));
    out.totalNodes = Or0(b.Be32(header::kTotalNodes));
    out.freeNodes = Or0(b.Be32(header::kFreeNodes));
    out.clumpSize = Or0(b.Be32(header::kClumpSize));
    out.btreeType = Or0(b.U8(header::kBtreeType));
    out.keyCompareType = Or0(b.U8(header::kKeyCompareType));
    out.attributes = Or0(b.Be32(header::kAttributes));
    return true;
}

bool DecodeCatalogKey(ByteReader b, BTKey& out) {
    const auto length = b.Be16(catkey::kKeyLength);
    if (!length || *length < catkey::kMinKeyLength || !b.Has(0, size_t(*length) + 2)) return false;
    // The name never reaches past the key.
    const auto key = *b.Sub(0, size_t(*length) + 2);
    // Each field is written (the name whole by DecodeName): no reset of the whole key first, as every
    // record of a walk has its key decoded.
    out.keyLength = *length;
    out.parentID = Or0(key.Be32(catkey::kParentID));
    out.forkType = 0;
    out.fileID = 0;
    out.startBlock = 0;
    if (DecodeName(key, catkey::kNameLength, catkey::kName, out.nameLength, out.name)) return true;
    out = BTKey{};
    out.keyLength = *length;
    out.parentID = Or0(key.Be32(catkey::kParentID));
    return false;
}

bool DecodeExtentKey(ByteReader b, BTKey& out) {
    if (!b.Has(0, extkey::kSize)) return false;
    out = BTKey{};
    out.keyLength = Or0(b.Be16(extkey::kKeyLength));
    out.forkType = Or0(b.U8(extkey::kForkType));
    out.fileID = Or0(b.Be32(extkey::kFileID));
    out.startBlock = Or0(b.Be32(extkey::kStartBlock));
    return true;
}

bool DecodeAttributeKey(ByteReader b, BTKey& out) {
    const auto length = b.Be16(attrkey::kKeyLength);
    if (!length || *length < attrkey::kMinKeyLength || !b.Has(0, size_t(*length) + 2)) return false;
    const auto key = *b.Sub(0, size_t(*length) + 2);
    out = BTKey{};
    out.keyLength = *length;
    out.fileID = Or0(key.Be32(attrkey::kFileID));
    out.startBlock = Or0(key.Be32(attrkey::kStartBlock));
    return DecodeName(key, attrkey::kNameLength, attrkey::kName, out.nameLength, out.name);
}

bool DecodeCatalogThread(ByteReader b, HFSPlusCatalogThread& out) {
    if (!b.Has(0, thread::kMinSize)) return false;
    out.parentID = Or0(b.Be32(thread::kParentID));
    return DecodeName(b, thread::kNameLength, thread::kName, out.nameLength, out.name);
}

bool CatalogThreadDecodes(ByteReader b) {
    return b.Has(0, thread::kMinSize) && NameUnits(b, thread::kNameLength, thread::kName).has_value();
}

bool DecodeCatalogRecord(ByteReader b, HFSPlusCatalogRecord& out) {
    const auto type = b.Be16(catrec::kRecordType);
    if (!type) return false;
    out.recordType = *type;
    switch (*type) {
        case catrec::kFolder: {
            if (!b.Has(0, folder::kSize)) return false;
            HFSPlusCatalogFolder& f = out.folder;
            f.flags = Or0(b.Be16(folder::kFlags));
            f.valence = Or0(b.Be32(folder::kValence));
            f.folderID = Or0(b.Be32(folder::kFolderID));
            f.createDate = Or0(b.Be32(folder::kCreateDate));
            f.contentModDate = Or0(b.Be32(folder::kContentModDate));
            f.attributeModDate = Or0(b.Be32(folder::kAttributeModDate));
            f.accessDate = Or0(b.Be32(folder::kAccessDate));
            f.backupDate = Or0(b.Be32(folder::kBackupDate));
            f.textEncoding = Or0(b.Be32(folder::kTextEncoding));
            return DecodeBSDInfo(b, folder::kPermissions, f.permissions);
        }
        case catrec::kFile: {
            if (!b.Has(0, file::kSize)) return false;
            HFSPlusCatalogFile& f = out.file;
            f.flags = Or0(b.Be16(file::kFlags));
            f.fileID = Or0(b.Be32(file::kFileID));
            f.createDate = Or0(b.Be32(file::kCreateDate));
            f.contentModDate = Or0(b.Be32(file::kContentModDate));
            f.attributeModDate = Or0(b.Be32(file::kAttributeModDate));
            f.accessDate = Or0(b.Be32(file::kAccessDate));
            f.backupDate = Or0(b.Be32(file::kBackupDate));
            f.fileType = Or0(b.Be32(file::kFileType));
            f.fileCreator = Or0(b.Be32(file::kFileCreator));
            f.finderFlags = Or0(b.Be16(file::kFinderFlags));
            f.textEncoding = Or0(b.Be32(file::kTextEncoding));
            return DecodeBSDInfo(b, file::kPermissions, f.permissions) &&
                   DecodeForkData(b, file::kDataFork, f.dataFork) &&
                   DecodeForkData(b, file::kResourceFork, f.resourceFork);
        }
        case catrec::kFolderThread:
        case catrec::kFileThread:
            return DecodeCatalogThread(b, out.thread);
        default:
            return false;
    }
}

bool DecodeAttributeRecord(ByteReader b, HFSPlusAttrRecord& out) {
    const auto type = b.Be32(attrrec::kRecordType);
    if (!type) return false;
    out = HFSPlusAttrRecord{};
    out.recordType = *type;
    switch (*type) {
        case attrrec::kInlineData: {
            const auto size = b.Be32(attrrec::kAttrSize);
            if (!size || !b.Has(attrrec::kData, *size)) return false;
            out.attrSize = *size;
            const auto bytes = b.Bytes(attrrec::kData, *size);
            out.data.assign(bytes->begin(), bytes->end());
            return true;
        }
        case attrrec::kForkData:
            return b.Has(0, attrrec::kForkRecordSize) && DecodeForkData(b, attrrec::kFork, out.fork);
        case attrrec::kExtents:
            return b.Has(0, attrrec::kExtentsRecordSize) && DecodeExtentRecord(b, attrrec::kExtentRecord, out.extents);
        default:
            return false;
    }
}

bool DecodeJournalInfoBlock(ByteReader b, JournalInfoBlock& out) {
    if (!b.Has(0, jib::kRecordSize)) return false;
    out.flags = Or0(b.Be32(jib::kFlags));
    out.offset = Or0(b.Be64(jib::kOffset));
    out.size = Or0(b.Be64(jib::kSize));
    return true;
}

bool DecodeJournalHeader(ByteReader b, JournalHeader& out) {
    if (!b.Has(0, jhdr::kRecordSize)) return false;
    out.magic = Or0(b.Le32(jhdr::kMagic));
    out.endian = Or0(b.Le32(jhdr::kEndian));
    out.start = Or0(b.Le64(jhdr::kStart));
    out.end = Or0(b.Le64(jhdr::kEnd));
    out.size = Or0(b.Le64(jhdr::kSize));
    out.blhdrSize = Or0(b.Le32(jhdr::kBlhdrSize));
    out.checksum = Or0(b.Le32(jhdr::kChecksum));
    out.jhdrSize = Or0(b.Le32(jhdr::kJhdrSize));
    return true;
}

}  // namespace hfsplus
