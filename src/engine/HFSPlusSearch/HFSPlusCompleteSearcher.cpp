#include "engine/HFSPlusSearch/HFSPlusCompleteSearcher.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <typeinfo>

#include "engine/Common/DebugChannel.h"
#include "engine/Common/IProgress.h"
#include "engine/HFSPlusLib/HFSPlusBTNode.h"
#include "engine/HFSPlusLib/HFSPlusFileNode.h"
#include "engine/HFSPlusLib/HFSPlusQuickSearchProgress.h"
#include "engine/HFSPlusLib/HFSPlusRawfile.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/HFSPlusLib/HFSPlusVolume.h"
#include "engine/PartitionTableAnalyze/PartitionTableLayout.h"
#include "engine/StorageDevice/DiskDevice.h"
#include "engine/StorageDevice/PartitionDevice.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "engine/Utility/TBitmap.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

using namespace hfsplus;

namespace {

constexpr size_t kSlice = 512;
// A catalog key's largest length: parent ID, name length and 255 UTF-16 units; an attributes key's:
// its fixed fields and 127 UTF-16 units.
constexpr u16 kCatalogMaxKeyLength = u16(catkey::kMinKeyLength + 2 * catkey::kMaxNameUnits);
constexpr u16 kAttributesMaxKeyLength = u16(attrkey::kName - 2 + 2 * 127);
// The block size a rebuilt header takes when its structures' places allow it (formatters' default).
constexpr u32 kDefaultBlockSize = 4096;
// Volumes on a GUID disk start on 4 KiB boundaries.
constexpr i64 kGuidVolumeAlignment = 4096;

bool AllZero(const u8* bytes, size_t length) {
    return std::all_of(bytes, bytes + length, [](u8 b) { return b == 0; });
}

// blocks x blockSize bytes in sectors; two u32 factors may pass 2^64 bytes: kept to i64.
i64 BlocksToSectors(u32 blocks, u32 blockSize, u32 sectorSize) {
    if (sectorSize == 0) return 0;
    const unsigned __int128 sectors = (unsigned __int128)blocks * blockSize / sectorSize;
    return sectors > (unsigned __int128)INT64_MAX ? INT64_MAX : i64(sectors);
}

// Sectors a volume of this header spans (0 for a header without blocks).
i64 VolumeSectors(const HFSPlusVolumeHeader& header, u32 sectorSize) {
    return BlocksToSectors(header.totalBlocks, header.blockSize, sectorSize);
}

// Decodes record index of a catalog leaf into key and record; false when either is unreadable.
bool ReadCatalogRecord(CHFSPlusBTNode& node, u16 index, BTKey& key, HFSPlusCatalogRecord& record) {
    const auto bytes = node.GetRecord(index);
    if (!bytes || !DecodeCatalogKey(*bytes, key)) return false;
    const auto keyLength = bytes->Be16(catkey::kKeyLength);
    if (!keyLength || size_t(*keyLength) + 2 > bytes->size()) return false;
    return DecodeCatalogRecord(bytes->From(size_t(*keyLength) + 2), record);
}

// A window of the search's device at a candidate's start, in the device's own sector size (the
// device under the read-ahead cache carries no disk record to take it from). A volume whose header
// is lost reads the copy met elsewhere in its place.
class CCandidateWindow : public CPartitionVirtualVolumeDevice {
public:
    CCandidateWindow(IStorageDevice* parent, i64 start, i64 count) : CPartitionVirtualVolumeDevice(parent, start, count) {
        if (parent && parent->GetSectorSize()) m_sectorSize = parent->GetSectorSize();
    }
    // Whether the window holds a valid volume header in its own place.
    bool HasOwnHeader() {
        std::vector<u8> bytes(std::max<size_t>(m_sectorSize, kSlice), 0);
        const i64 sector = i64(kVolumeHeaderOffset / m_sectorSize);
        if (m_sectorSize < kSlice || !CPartitionVirtualVolumeDevice::ReadSector(bytes.data(), sector, 1)) return false;
        return CHFSPlusVolume::IsValidVolumeHeader(bytes.data() + kVolumeHeaderOffset % m_sectorSize, u16(kSlice));
    }
    void SetHeaderCopy(const std::vector<u8>& bytes) { m_header = bytes; }
    int ReadSector(void* buffer, i64 firstSector, i64 sectorCount) override {
        const int done = CPartitionVirtualVolumeDevice::ReadSector(buffer, firstSector, sectorCount);
        if (!done || m_header.size() != kSlice || m_sectorSize < kSlice || firstSector < 0) return done;
        const u64 from = u64(firstSector) * m_sectorSize;
        const u64 to = from + u64(sectorCount) * m_sectorSize;
        if (from <= kVolumeHeaderOffset && kVolumeHeaderOffset + kSlice <= to)
            std::memcpy(static_cast<u8*>(buffer) + (kVolumeHeaderOffset - from), m_header.data(), kSlice);
        return done;
    }

private:
    std::vector<u8> m_header;
};

bool IsHeaderSignature(u16 signature) {
    return signature == kSignatureHFSPlus || signature == kSignatureHFSX;
}

using Searcher = CHFSPlusCompleteFileSystemSearchController;

// The first byte of a header slice: 'H' of both signatures; of the journal header: 'x' of its magic
// (little-endian). The two differ in bits 4 and 5 only.
constexpr bool MayStartSignature(u8 first) {
    return (first | 0x30) == 0x78;
}

// The quick refusal's three byte tests as tables: per value of a sector's first byte, of its node kind
// byte and of its last byte, the checks that value leaves open. A leaf's kind (0xFF) and a header
// node's (1) are the bytes whose successor has no bit but bit 1; the journal info block's fill reaches
// the sector's end.
struct QuickTables {
    u8 first[256];
    u8 kind[256];
    u8 last[256];
};

constexpr QuickTables MakeQuickTables() {
    QuickTables t{};
    for (u32 v = 0; v < 256; ++v) {
        t.first[v] = MayStartSignature(u8(v)) ? u8(Searcher::kMayHeader | Searcher::kMayJournalHeader) : 0;
        t.kind[v] = (u8(v + 1) & 0xFD) == 0 ? u8(Searcher::kMayNode) : 0;
        t.last[v] = v == 0xDB ? u8(Searcher::kMayJournalInfo) : 0;
    }
    return t;
}

constexpr QuickTables kQuick = MakeQuickTables();

// The quick refusal (see MayHoldStructure), inlined into the block's sweep.
[[gnu::always_inline]] inline u32 QuickHit(const u8* bytes, u32 sectorSize) {
    if (!bytes) return 0;
    if (sectorSize < kSlice) return Searcher::kMayHeader | Searcher::kMayJournalInfo | Searcher::kMayJournalHeader |
                                    Searcher::kMayNode;
    // Header slices, the journal header and nodes start at the sector's start; the journal info block's
    // fill reaches its end.
    u32 may = u32(kQuick.first[bytes[vh::kSignature]]) | kQuick.kind[bytes[node::kKind]] |
              kQuick.last[bytes[sectorSize - 1]];
    // Larger sectors hold further header slices.
    for (size_t at = kSlice; at + kSlice <= sectorSize; at += kSlice)
        if (MayStartSignature(bytes[at + vh::kSignature])) may |= Searcher::kMayHeader;
    return may;
}

// The refused run (see RefusedSectors), inlined into the block's sweep. 512-byte sectors go four at a
// time, one branch for the four (most sectors of a disk are refused).
[[gnu::always_inline]] inline i64 RefusedRun(const u8* bytes, i64 count, u32 sectorSize) {
    if (!bytes) return 0;
    i64 n = 0;
    if (sectorSize == kSlice) {
        for (; n + 4 <= count; n += 4) {
            const u8* s = bytes + size_t(n) * kSlice;
            // The last line of each sector some sectors ahead: the test's reads are a few bytes in
            // every 512, too sparse for the processor to fetch them ahead by itself. (A prefetch past
            // the block reads nothing.)
            for (size_t k = 0; k < 4; ++k) __builtin_prefetch(s + (33 + k) * kSlice - 1);
            const u32 may = u32(kQuick.first[s[0]]) | kQuick.kind[s[node::kKind]] | kQuick.last[s[kSlice - 1]] |
                            kQuick.first[s[kSlice]] | kQuick.kind[s[kSlice + node::kKind]] |
                            kQuick.last[s[2 * kSlice - 1]] | kQuick.first[s[2 * kSlice]] |
                            kQuick.kind[s[2 * kSlice + node::kKind]] | kQuick.last[s[3 * kSlice - 1]] |
                            kQuick.first[s[3 * kSlice]] | kQuick.kind[s[3 * kSlice + node::kKind]] |
                            kQuick.last[s[4 * kSlice - 1]];
            if (may != 0) break;
        }
    }
    while (n < count && QuickHit(bytes + size_t(n) * sectorSize, sectorSize) == 0) ++n;
    return n;
}

// Whether a sector counted from a volume's start lies in one of the fork's own extents.
bool InsideFork(const HFSPlusForkData& fork, u32 blockSize, u32 sectorSize, i64 sector) {
    for (const HFSPlusExtentDescriptor& e : fork.extents) {
        if (e.blockCount == 0) continue;
        const i64 first = BlocksToSectors(e.startBlock, blockSize, sectorSize);
        const i64 end = BlocksToSectors(e.startBlock, blockSize, sectorSize) +
                        BlocksToSectors(e.blockCount, blockSize, sectorSize);
        if (sector >= first && sector < end) return true;
    }
    return false;
}

}  // namespace

u64 RecordKey(i64 id, i64 parentId, const char* name) {
    // FNV-1a over the two IDs and the name.
    u64 hash = 0xcbf29ce484222325ULL;
    const auto mix = [&hash](u8 byte) { hash = (hash ^ byte) * 0x100000001b3ULL; };
    for (const u32 value : {u32(id), u32(parentId)})
        for (int shift = 0; shift < 32; shift += 8) mix(u8(value >> shift));
    for (const char* c = name ? name : ""; *c; ++c) mix(u8(*c));
    return hash;
}

void StampPartition(CFileNode& node, u32 index) {
    node.SetBelongedPartition(u16(index));
    if (index == 0) return;
    const i64 high = i64(index) << 32;
    const i64 id = node.GetCurrentNodeID();
    if (id >= 0 && id <= i64(UINT32_MAX)) node.SetCurrentNodeID(high | id);
    const i64 parent = node.GetParentNodeID();
    if (parent == kRootParentID)
        node.SetParentNodeID(kRootFolderID);
    else if (parent >= 0 && parent <= i64(UINT32_MAX))
        node.SetParentNodeID(high | parent);
}

// ---- candidate ---------------------------------------------------------------------------------

CompleteSearchPatition::CompleteSearchPatition(i64 start, i64 count, u32 index)
    : startSector(start), sectorCount(count), partitionIndex(index) {}

// The volume reads through the partition device: close it first.
CompleteSearchPatition::~CompleteSearchPatition() {
    volume.reset();
    partitionDevice.reset();
}

// ---- wrapper builder ---------------------------------------------------------------------------

CHFSPlusDirectoryTreeBuilder::CHFSPlusDirectoryTreeBuilder(IDirecotryTreeBuilder* inner, u32 sectorsPerBlock,
                                                           u32 partitionIndex, u64 partitionStart)
    : m_inner(inner), m_sectorsPerBlock(sectorsPerBlock), m_partitionIndex(partitionIndex),
      m_partitionStart(partitionStart) {}

int CHFSPlusDirectoryTreeBuilder::Initialize(const char* deviceName, IDrirectoryTree* tree, IRecoveryFilter* filter) {
    return m_inner ? m_inner->Initialize(deviceName, tree, filter) : 0;
}

int CHFSPlusDirectoryTreeBuilder::AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) {
    return m_inner ? m_inner->AddSearcherInfo(type, rootFolderID) : 0;
}

void CHFSPlusDirectoryTreeBuilder::FlashBuild(_tagSearcherType type) {
    if (m_inner) m_inner->FlashBuild(type);
}

void CHFSPlusDirectoryTreeBuilder::Release() {
    if (m_inner) m_inner->Release();
}

void CHFSPlusDirectoryTreeBuilder::SetPartitonDevice(CSearchedPartitionInfo* record, IStorageDevice* device) {
    if (m_inner) m_inner->SetPartitonDevice(record, device);
}

int CHFSPlusDirectoryTreeBuilder::AddNode(IFileNode* node, _tagSearcherType type) {
    if (!m_inner) return 0;
    // The volume's walk hands HFS+ nodes: their exact type is known without a search of the hierarchy.
    CFileNode* fileNode = nullptr;
    if (node && typeid(*node) == typeid(CHFSPlusFileNode))
        fileNode = static_cast<CHFSPlusFileNode*>(node);
    else
        fileNode = dynamic_cast<CFileNode*>(node);
    if (fileNode) {
        if (m_walkedRecords && !node->IsDeleted() && !node->IsDirectory() && fileNode->GetCurrentNodeID() >= 0)
            m_walkedRecords->push_back(
                RecordKey(fileNode->GetCurrentNodeID(), fileNode->GetParentNodeID(), fileNode->GetFileName()));
        StampPartition(*fileNode, m_partitionIndex);
    }
    const u32 unit = m_bitmap ? m_bitmap->GetScale() : 0;
    IDataRunList* runs = fileNode ? fileNode->GetDataRunList() : nullptr;
    if (unit != 0 && m_sectorsPerBlock != 0 && runs && !node->IsDeleted()) {
        // The last run is marked one block short: its last block may hold other bytes after the file's.
        for (DataRun* at = runs->GetFirst(); at;) {
            const DataRun run = *at;
            at = runs->GetNext();
            if (run.start < 0) continue;
            u64 length = run.length;
            if (!at) length = length ? length - 1 : 0;
            if (length == 0) continue;
            const u64 firstSector = u64(run.start) * m_sectorsPerBlock + m_partitionStart;
            const u64 bits = length * m_sectorsPerBlock / unit;
            u64 index = firstSector / unit;
            // SetBit takes a 32-bit count: long runs go in pieces.
            for (u64 left = bits; left > 0;) {
                const u32 piece = u32(std::min<u64>(left, 0x80000000u));
                if (!m_bitmap->SetBit(i64(index), 1, piece)) break;
                index += piece;
                left -= piece;
            }
        }
    }
    return m_inner->AddNode(node, type);
}

// ---- the search --------------------------------------------------------------------------------

CHFSPlusCompleteFileSystemSearchController::~CHFSPlusCompleteFileSystemSearchController() = default;

void CHFSPlusCompleteFileSystemSearchController::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_cache = dynamic_cast<CStorageDeviceWithCache*>(device);
    m_sectorSize = device ? device->GetSectorSize() : 512;
    if (m_sectorSize == 0) m_sectorSize = 512;
    m_totalSectors = device ? device->GetTotalSectors() : 0;
    m_scratch.assign(std::max<size_t>(kMaxNodeBytes, m_sectorSize), 0);
}

CompleteSearchPatition* CHFSPlusCompleteFileSystemSearchController::AddCandidate(i64 start, i64 count) {
    if (start < 0 || start >= m_totalSectors) return nullptr;
    count = std::min(count, m_totalSectors - start);
    auto candidate = std::make_unique<CompleteSearchPatition>(start, count, u32(m_candidates.size()));
    m_candidates.push_back(std::move(candidate));
    return m_candidates.back().get();
}

int CHFSPlusCompleteFileSystemSearchController::PreparetoSearch() {
    m_candidates.clear();
    m_volumeRecords.clear();
    m_treeHeaders.clear();
    m_unownedLeaves.clear();
    m_journalLeaves.clear();
    m_listedLeaves.clear();
    m_status = 0;
    if (!m_device) {
        m_status = HFSPLUS_FAIL(kKindNotReady);
        return 0;
    }
    if (m_builder) m_builder->AddSearcherInfo(SEARCHER_HFSPLUS, kRootFolderID);
    const u8* zero = View(0, 1);
    if (!zero) return 1;
    const ByteReader mbr(zero, m_sectorSize);
    i64 first = 0;
    if (mbr.U8(mbr_layout::EntryType(0)) == mbr_layout::kProtectiveType &&
        mbr.Le16(mbr_layout::kSignature) == mbr_layout::kSignatureValue) {
        // A GUID disk's first volume lies at the first 4 KiB boundary past the protective record, the
        // table's header and its entry array (sector 40 of 512 bytes).
        const i64 tableEnd = 2 * i64(m_sectorSize) + i64(gpt_layout::kEntryArrayBytes);
        first = (tableEnd + kGuidVolumeAlignment - 1) / kGuidVolumeAlignment * kGuidVolumeAlignment / m_sectorSize;
    }
    AddCandidate(first, m_totalSectors - first);

    IStorageDevice* under = m_cache ? m_cache->GetWrappedDevice() : m_device;
    m_deviceKind = under ? under->GetType() : STORAGE_DEVICE_DISK;
    if (auto* disk = dynamic_cast<CDiskDevice*>(under); disk && m_deviceKind == STORAGE_DEVICE_DISK) {
        disk->GetVolumes(m_volumeRecords);
        for (const CCollectedVolumeDeviceInfoStruct& record : m_volumeRecords) {
            if (record.fileSystemType != FILE_SYSTEM_HFSPLUS) continue;
            m_knownVolumes = 1;
            // The protective seed may already stand at this start: one candidate per start.
            if (std::any_of(m_candidates.begin(), m_candidates.end(),
                            [&](const auto& c) { return c->startSector == record.startSector; }))
                continue;
            if (auto* candidate = AddCandidate(record.startSector, record.totalSectors)) candidate->recordedVolume = true;
        }
    }
    if (m_knownVolumes && m_bitmap) m_bitmap->CreateBitmap((m_totalSectors + 8) / 8, 8);
    return 1;
}

const u8* CHFSPlusCompleteFileSystemSearchController::View(i64 sector, i64 count) {
    if (!m_device || sector < 0 || count <= 0 || sector >= m_totalSectors) return nullptr;
    if (m_cache) {
        if (const u8* inPlace = m_cache->CurrentBlockSectors(sector, count)) return inPlace;
    }
    const size_t bytes = size_t(count) * m_sectorSize;
    if (m_scratch.size() < bytes) return nullptr;
    const i64 inside = std::min(count, m_totalSectors - sector);
    if (!m_device->ReadSector(m_scratch.data(), sector, inside)) return nullptr;
    std::memset(m_scratch.data() + size_t(inside) * m_sectorSize, 0, bytes - size_t(inside) * m_sectorSize);
    return m_scratch.data();
}

int CHFSPlusCompleteFileSystemSearchController::AnalyzeBlock(i64 firstSector, i64 sectorCount) {
    if (!m_device) {
        m_status = HFSPLUS_FAIL(kKindNotReady);
        return 1;
    }
    const bool useBitmap = m_knownVolumes && m_bitmap && m_bitmap->GetBitmapData();
    const u32 unit = useBitmap ? std::max<u32>(m_bitmap->GetScale(), 1) : 1;
    const i64 end = firstSector + sectorCount;
    // The block is the cache's current one: its sectors are read in place without asking each time.
    const u8* block = m_cache && sectorCount > 0 ? m_cache->CurrentBlockSectors(firstSector, sectorCount) : nullptr;
    const u32 sectorSize = m_sectorSize;
    for (i64 s = firstSector; s < end;) {
        if (useBitmap && m_bitmap->GetBit(s / unit)) {
            s += (s % unit == 0) ? unit : 1;
            continue;
        }
        // One look at the sector's bytes for the four checks.
        const u8* bytes = block ? block + size_t(s - firstSector) * sectorSize : View(s, 1);
        if (block && !useBitmap) {
            // Without a bitmap to consult, the refused sectors in a row go in one sweep.
            s += RefusedRun(bytes, end - s, sectorSize);
            if (s >= end) break;
            bytes = block + size_t(s - firstSector) * sectorSize;
        }
        // Only the checks the quick refusal leaves open are run.
        const u32 may = QuickHit(bytes, sectorSize);
        if ((may & kMayHeader) && CheckVolumeHeader(s, bytes) > 0) {
            ++s;
            continue;
        }
        if ((may & kMayJournalInfo) && CheckJournalInfoBlock(s, bytes) > 0) {
            EngineDebug("Find JournalInfoBlock:0x%llx\n", static_cast<unsigned long long>(s));
            ++s;
            continue;
        }
        if ((may & kMayJournalHeader) && CheckJournalHeader(s, bytes) > 0) {
            EngineDebug("Find JournalHeader:0x%llx\n", static_cast<unsigned long long>(s));
            ++s;
            continue;
        }
        if (!(may & kMayNode)) {
            ++s;
            continue;
        }
        const i64 consumed = CheckNode(s, end - s, bytes, block ? end - s : 0);
        s += consumed > 0 ? consumed : 1;
    }
    return 1;
}

u32 CHFSPlusCompleteFileSystemSearchController::MayHoldStructure(const u8* bytes, u32 sectorSize) {
    return QuickHit(bytes, sectorSize);
}

i64 CHFSPlusCompleteFileSystemSearchController::RefusedSectors(const u8* bytes, i64 count, u32 sectorSize) {
    return RefusedRun(bytes, count, sectorSize);
}

int CHFSPlusCompleteFileSystemSearchController::CheckVolumeHeader(i64 sector) {
    return CheckVolumeHeader(sector, View(sector, 1));
}

int CHFSPlusCompleteFileSystemSearchController::CheckVolumeHeader(i64 sector, const u8* bytes) {
    if (m_sectorSize < kSlice || !bytes) return 0;
    // Most sectors hold no header slice: none of their slices begins with a signature.
    bool anySignature = false;
    for (size_t at = 0; at + kSlice <= m_sectorSize && !anySignature; at += kSlice) {
        anySignature = IsHeaderSignature(ByteReader(bytes + at, kSlice).Be16(vh::kSignature).value_or(0));
    }
    if (!anySignature) return 0;
    std::unique_ptr<HFSPlusVolumeHeader> found;
    const u8* foundBytes = nullptr;
    int headers = 0;
    bool lookedAtAll = true;
    for (size_t at = 0; at + kSlice <= m_sectorSize; at += kSlice) {
        const u8* slice = bytes + at;
        if (AllZero(slice, kSlice)) continue;
        if (!CHFSPlusVolume::IsValidVolumeHeader(slice, u16(kSlice))) {
            lookedAtAll = false;
            break;
        }
        auto header = std::make_unique<HFSPlusVolumeHeader>();
        if (!DecodeVolumeHeader(ByteReader(slice, kSlice), *header)) continue;
        ++headers;
        EngineDebug("Find VolumeHeader SectorNumber[%llx],VolumeID[%llx]\n", static_cast<unsigned long long>(sector),
                    static_cast<unsigned long long>(header->VolumeIdentifier()));
        found = std::move(header);
        foundBytes = slice;
    }
    if (headers == 0) return 0;
    if (lookedAtAll && headers == 1) RegisterHeader(std::move(found), sector, foundBytes);
    return 1;
}

void CHFSPlusCompleteFileSystemSearchController::RegisterHeader(std::unique_ptr<HFSPlusVolumeHeader> header,
                                                                i64 sector, const u8* bytes) {
    if (m_candidates.empty()) {
        EngineDebug("Error:%d\n", 1);
        return;
    }
    // A header closer to the device start than its own offset belongs to no volume that fits.
    const i64 start = sector - HeaderOffset();
    if (start < 0) return;
    CompleteSearchPatition* target = &CandidateAt(sector);
    if (m_deviceKind == STORAGE_DEVICE_DISK || m_deviceKind == STORAGE_DEVICE_VOLUME) {
        for (auto& candidate : m_candidates) {
            if (candidate->startSector == start) {
                target = candidate.get();
                break;
            }
        }
    }
    if (!target->header) {
        target->header = std::move(header);
        target->headerSector = sector;
        target->headerBytes.assign(bytes, bytes + kSlice);
        return;
    }
    bool duplicate = false;
    CompleteSearchPatition* same = nullptr;
    for (auto& candidate : m_candidates) {
        const HFSPlusVolumeHeader* held = candidate->header.get();
        if (!held) continue;
        if (held->VolumeIdentifier() == header->VolumeIdentifier() || held->createDate == header->createDate)
            duplicate = true;
        if (!same && held->VolumeIdentifier() == header->VolumeIdentifier() && held->createDate == header->createDate)
            same = candidate.get();
    }
    const i64 sectors = VolumeSectors(*header, m_sectorSize);
    if (!duplicate && sectors < m_totalSectors) {
        if (CompleteSearchPatition* added = AddCandidate(start, sectors)) {
            added->header = std::move(header);
            added->headerSector = sector;
            added->headerBytes.assign(bytes, bytes + kSlice);
        }
        return;
    }
    // Another copy of a volume's header (its alternate, or one a journal keeps, which may be older or
    // newer than the one met first): the newest copy's fields are the volume's, where a stale one's
    // low next catalog ID would refuse every file created since. The volume stays placed where the
    // first copy was met.
    if (same && (header->modifyDate > same->header->modifyDate ||
                 (header->modifyDate == same->header->modifyDate && header->writeCount > same->header->writeCount))) {
        header->totalBlocks = std::max(header->totalBlocks, same->header->totalBlocks);
        same->header = std::move(header);
        same->headerBytes.assign(bytes, bytes + kSlice);
        return;
    }
    if (header->totalBlocks > target->header->totalBlocks) target->header->totalBlocks = header->totalBlocks;
}

int CHFSPlusCompleteFileSystemSearchController::CheckJournalInfoBlock(i64 sector) {
    return CheckJournalInfoBlock(sector, View(sector, 1));
}

int CHFSPlusCompleteFileSystemSearchController::CheckJournalInfoBlock(i64 sector, const u8* bytes) {
    if (!bytes || m_sectorSize < jib::kRecordSize) return 0;
    // The block's fill reaches the sector's end: most sectors fail on their last byte.
    if (m_sectorSize > jib::kRecordSize && bytes[m_sectorSize - 1] != 0xDB) return 0;
    const ByteReader reader(bytes, m_sectorSize);
    auto info = std::make_unique<JournalInfoBlock>();
    if (!DecodeJournalInfoBlock(reader, *info)) return 0;
    if (info->offset % 512 != 0 || info->size % 512 != 0) return 0;
    if (!AllZero(bytes + jib::kReserved, jib::kRecordSize - jib::kReserved)) return 0;
    for (size_t at = jib::kRecordSize; at < m_sectorSize; ++at) {
        if (bytes[at] != 0xDB) return 0;
    }
    if (m_candidates.empty()) {
        EngineDebug("Error:%d\n", 2);
        return 1;
    }
    CompleteSearchPatition& owner = CandidateAt(sector);
    if (!owner.journalInfo) {
        owner.journalInfo = std::move(info);
        owner.journalInfoSector = sector;
    }
    return 1;
}

int CHFSPlusCompleteFileSystemSearchController::CheckJournalHeader(i64 sector) {
    return CheckJournalHeader(sector, View(sector, 1));
}

int CHFSPlusCompleteFileSystemSearchController::CheckJournalHeader(i64 sector, const u8* bytes) {
    if (!bytes) return 0;
    const ByteReader reader(bytes, m_sectorSize);
    if (reader.Le32(jhdr::kMagic) != jhdr::kMagicValue || reader.Le32(jhdr::kEndian) != jhdr::kEndianValue) return 0;
    auto journal = std::make_unique<JournalHeader>();
    if (!DecodeJournalHeader(reader, *journal)) return 0;
    if (m_candidates.empty()) {
        EngineDebug("Error:%d\n", 3);
        return 1;
    }
    CompleteSearchPatition& owner = CandidateAt(sector);
    if (!owner.journalHeader) {
        owner.journalHeader = std::move(journal);
        owner.journalHeaderSector = sector;
    }
    return 1;
}

CompleteSearchPatition& CHFSPlusCompleteFileSystemSearchController::CandidateAt(i64 sector) {
    // Candidates met by the scan are added in the order of their starts, so this is the last one
    // added; the volumes of a disk's records stand there from the start, each before its own start.
    CompleteSearchPatition* found = m_candidates.back().get();
    for (auto it = m_candidates.rbegin(); it != m_candidates.rend(); ++it) {
        if ((*it)->startSector <= sector && ((*it)->startSector > found->startSector || found->startSector > sector))
            found = it->get();
    }
    return *found;
}

i64 CHFSPlusCompleteFileSystemSearchController::CheckNode(i64 sector, i64 remaining) {
    return CheckNode(sector, remaining, View(sector, 1));
}

i64 CHFSPlusCompleteFileSystemSearchController::CheckNode(i64 sector, i64 remaining, const u8* first, i64 inPlace) {
    if (remaining <= 0 || !first) return 0;
    // Kind and height first: most sectors are no leaf and no header node.
    const ByteReader descriptor(first, m_sectorSize);
    const u8 kind = descriptor.U8(node::kKind).value_or(0);
    const u8 height = descriptor.U8(node::kHeight).value_or(0xFF);
    const bool leaf = kind == u8(node::kKindLeaf) && height == 1;
    const bool headerNode = kind == u8(node::kKindHeader) && height == 0;
    if (!leaf && !headerNode) return 0;
    if (descriptor.Be16(node::kReserved).value_or(1) != 0) return 0;
    // The largest node's bytes in place in the cached block, else only those of each size tried (a
    // small node near the block's end is still read in place).
    const i64 largest = std::max<i64>(kMaxNodeBytes / m_sectorSize, 1);
    const u8* whole = inPlace >= largest ? first
                      : m_cache          ? m_cache->CurrentBlockSectors(sector, largest)
                                         : nullptr;
    // Record 0 at byte 14 (the node's last word) first: most sizes tried fail there. With kind and
    // height checked above and a node size the test takes, its offset table is what is left.
    auto isNode = [](const u8* bytes, u32 size) {
        return ByteReader(bytes, size).Be16(size - 2) == node::kDescriptorSize && size >= node::kMinNodeSize &&
               size % node::kMinNodeSize == 0 && CHFSPlusBTNode::OffsetTableDescends(bytes, size);
    };
    auto take = [&](const u8* bytes, u32 size) {
        if (!IsListedLeaf(sector)) AnalyseNode(sector, bytes, size);
        return std::min<i64>(remaining, size / m_sectorSize);
    };
    if (whole) {
        for (u32 size = m_sectorSize; size <= kMaxNodeBytes; size *= 2)
            if (isNode(whole, size)) return take(whole, size);
        return 0;
    }
    for (u32 size = m_sectorSize; size <= kMaxNodeBytes; size *= 2) {
        const i64 sectors = std::max<i64>(size / m_sectorSize, 1);
        const u8* bytes = (sectors == 1 || sectors <= inPlace) ? first : View(sector, sectors);
        if (!bytes) return 0;
        if (isNode(bytes, size)) return take(bytes, size);
    }
    return 0;
}

void CHFSPlusCompleteFileSystemSearchController::AnalyseNode(i64 sector, const u8* bytes, u32 nodeSize,
                                                             CompleteSearchPatition* given, LeafPass pass) {
    // Checked by the caller.
    CHFSPlusBTNode node(bytes, nodeSize, CHFSPlusBTNode::Checked{});
    if (!node.IsValid()) {
        EngineDebug("Error:%d\n", 4);
        return;
    }
    if (node.GetKind() == node::kKindHeader) {
        // Remembered: a catalog's header node can place a volume whose header was met elsewhere.
        BTHeaderRec tree;
        const auto record = node.GetRecord(0);
        if (!record || !DecodeHeaderRec(*record, tree)) return;
        if (m_treeHeaders.size() >= kMaxTreeHeaders)
            m_treeHeaders.erase(m_treeHeaders.begin(), m_treeHeaders.begin() + kMaxTreeHeaders / 2);
        m_treeHeaders.push_back({sector, tree.nodeSize, tree.totalNodes, tree.maxKeyLength, tree.keyCompareType});
        return;
    }
    if (!node.IsLeaf() || node.TestNodeBelongToFile() != kCatalogFileID) return;
    // A journal's copy of a leaf waits for the end: the records in place come first.
    if (pass == LeafPass::Scan && !given && InJournal(sector)) {
        if (m_journalLeaves.size() < kMaxUnownedLeaves) m_journalLeaves.push_back({sector, nodeSize});
        return;
    }
    // Only a candidate with a header owns records: before any header is met the leaf is only remembered.
    if (!given && std::none_of(m_candidates.begin(), m_candidates.end(), [](const auto& c) { return bool(c->header); })) {
        if (m_unownedLeaves.size() < kMaxUnownedLeaves) m_unownedLeaves.push_back({sector, nodeSize});
        return;
    }
    TakeLeafRecords(node, sector, nodeSize, given, pass);
}

void CHFSPlusCompleteFileSystemSearchController::TakeLeafRecords(CHFSPlusBTNode& node, i64 sector, u32 nodeSize,
                                                                 CompleteSearchPatition* given, LeafPass pass) {
    bool remembered = false;
    for (u16 i = 0; i < node.GetRecordCount(); ++i) {
        BTKey key;
        HFSPlusCatalogRecord record;
        if (!ReadCatalogRecord(node, i, key, record)) continue;
        if (record.recordType == catrec::kFolderThread || record.recordType == catrec::kFileThread) continue;
        CompleteSearchPatition* owner = given;
        if (owner && !owner->volume) {
            if (owner->partitionDevice || !OpenCandidate(*owner, owner->partitionIndex, sector)) return;
        }
        if (!owner) owner = OwnerOf(record, sector, pass != LeafPass::Scan);
        if (!owner) {
            if (!remembered && m_unownedLeaves.size() < kMaxUnownedLeaves) m_unownedLeaves.push_back({sector, nodeSize});
            remembered = true;
            continue;
        }
        auto* found = new (std::nothrow)
            CHFSPlusFileNode(owner->volume.get(), sector, u16(owner->partitionIndex), &key, &record);
        if (!found) continue;
        const i64 id = found->GetCurrentNodeID();
        if (id == -1 || id == -2 || found->GetCreationTime() == 0 || !m_builder) {
            delete found;
            continue;
        }
        // A copy of a file that the volume's walk listed live, or (a journal's copy) that a leaf in place
        // gave: the node already handed on stands as it is (the tree builder would give it the copy's
        // extents and size when the copy is older). A folder's copy never changes the folder.
        if (!found->IsDirectory()) {
            const u64 recordKey = RecordKey(id, found->GetParentNodeID(), found->GetFileName());
            const auto holds = [recordKey](const std::vector<u64>& sorted) {
                return std::binary_search(sorted.begin(), sorted.end(), recordKey);
            };
            if (holds(owner->walkedRecords) || (pass == LeafPass::Journal && holds(owner->leafRecords))) {
                delete found;
                continue;
            }
            if (pass != LeafPass::Journal) owner->leafRecords.push_back(recordKey);
        }
        StampPartition(*found, owner->partitionIndex);
        const bool folder = found->IsDirectory() != 0;
        if (!m_builder->AddNode(found, SEARCHER_HFSPLUS)) {
            delete found;
            continue;
        }
        if (folder)
            ++owner->folderCount;
        else
            ++owner->fileCount;
    }
}

bool CHFSPlusCompleteFileSystemSearchController::PlacesSector(const CompleteSearchPatition& candidate,
                                                              i64 sector) const {
    const HFSPlusVolumeHeader* header = candidate.header.get();
    if (!header || candidate.headerSector < 0) return false;
    const i64 sectors = VolumeSectors(*header, m_sectorSize);
    i64 start = JournalStart(candidate);
    if (start < 0) {
        const i64 catalog = CatalogHeaderFor(candidate, sector);
        if (catalog >= 0) {
            const i64 placed = catalog - BlocksToSectors(header->catalogFile.extents[0].startBlock, header->blockSize,
                                                         m_sectorSize);
            const i64 alternate = (sectors * i64(m_sectorSize) - i64(kVolumeHeaderOffset)) / i64(m_sectorSize);
            if (candidate.headerSector == placed + HeaderOffset() || candidate.headerSector == placed + alternate)
                start = placed;
        }
    }
    if (start < 0) start = candidate.headerSector - HeaderOffset();
    return start >= 0 && sector >= start && sector - start < sectors;
}

CompleteSearchPatition* CHFSPlusCompleteFileSystemSearchController::OwnerOf(const HFSPlusCatalogRecord& record,
                                                                            i64 sector, bool placedOnly) {
    u32 id = 0;
    u32 created = 0;
    if (record.recordType == catrec::kFile) {
        id = record.file.fileID;
        created = record.file.createDate;
    } else if (record.recordType == catrec::kFolder) {
        id = record.folder.folderID;
        created = record.folder.createDate;
    } else {
        return nullptr;
    }
    if (id == 0 && created == 0) return nullptr;
    for (size_t i = 0; i < m_candidates.size(); ++i) {
        CompleteSearchPatition& candidate = *m_candidates[i];
        const HFSPlusVolumeHeader* header = candidate.header.get();
        if (!header) continue;
        // IDs from nextCatalogID on were not handed out yet, unless the volume reuses them.
        if (!(header->attributes & kVolumeCatalogIdsReusedBit) && id >= header->nextCatalogID) continue;
        if (i != 0 && header->modifyDate < created) continue;
        // A volume ends where its header says it does, counted from the header met: the first
        // candidate spans the whole device and would otherwise take every later volume's records.
        i64 end = candidate.startSector + candidate.sectorCount;
        if (candidate.headerSector >= 0)
            end = std::min(end, std::max(candidate.headerSector - HeaderOffset(), candidate.startSector) +
                                    VolumeSectors(*header, m_sectorSize));
        if (end < sector) continue;
        if (placedOnly && !PlacesSector(candidate, sector)) continue;
        if (candidate.volume) return &candidate;
        if (candidate.partitionDevice) continue;
        if (OpenCandidate(candidate, i, sector)) return &candidate;
    }
    return nullptr;
}

i64 CHFSPlusCompleteFileSystemSearchController::JournalStart(const CompleteSearchPatition& candidate) const {
    const HFSPlusVolumeHeader* header = candidate.header.get();
    if (!header || candidate.journalInfoSector < 0) return -1;
    const i64 infoSectors = BlocksToSectors(header->journalInfoBlock, header->blockSize, m_sectorSize);
    if (candidate.journalInfoSector < infoSectors) return -1;
    const i64 start = candidate.journalInfoSector - infoSectors;
    // A journal info block of another volume (a lost one met before this header) places nothing: the
    // header met must lie inside the volume the block would place.
    if (candidate.headerSector >= 0 &&
        (candidate.headerSector < start || candidate.headerSector >= start + VolumeSectors(*header, m_sectorSize)))
        return -1;
    return start;
}

i64 CHFSPlusCompleteFileSystemSearchController::CatalogHeaderFor(const CompleteSearchPatition& candidate,
                                                                 i64 leafSector) const {
    const HFSPlusVolumeHeader* header = candidate.header.get();
    if (!header || header->blockSize % m_sectorSize != 0) return -1;
    const HFSPlusForkData& fork = header->catalogFile;
    const i64 first = BlocksToSectors(fork.extents[0].startBlock, header->blockSize, m_sectorSize);
    for (auto it = m_treeHeaders.rbegin(); it != m_treeHeaders.rend(); ++it) {
        if (it->sector > leafSector || it->sector < first || it->maxKeyLength != kCatalogMaxKeyLength ||
            u64(it->nodeSize) * it->totalNodes != fork.logicalSize)
            continue;
        if (InsideFork(fork, header->blockSize, m_sectorSize, leafSector - (it->sector - first))) return it->sector;
    }
    return -1;
}

i64 CHFSPlusCompleteFileSystemSearchController::PlacedStart(const CompleteSearchPatition& candidate) const {
    const i64 journal = JournalStart(candidate);
    if (journal >= 0) return journal;
    if (candidate.catalogSector >= 0 && candidate.header)
        return candidate.catalogSector -
               BlocksToSectors(candidate.header->catalogFile.extents[0].startBlock, candidate.header->blockSize,
                               m_sectorSize);
    return candidate.headerSector >= HeaderOffset() ? candidate.headerSector - HeaderOffset() : -1;
}

bool CHFSPlusCompleteFileSystemSearchController::OpenCandidate(CompleteSearchPatition& candidate, size_t index,
                                                               i64 leafSector) {
    // Where the volume lies: the journal info block met so far says it best; without one, the header
    // node of the catalog the leaf lies in (a header copy met elsewhere, as a journal keeps one, is
    // not at its volume's start); else the header met (a candidate given another volume's header,
    // such as the first one, which spans the device); else the candidate's own start.
    if (JournalStart(candidate) < 0) candidate.catalogSector = CatalogHeaderFor(candidate, leafSector);
    i64 start = candidate.startSector;
    i64 count = candidate.sectorCount;
    const i64 found = PlacedStart(candidate);
    if (found >= 0 && found != start) {
        start = found;
        count = std::min(VolumeSectors(*candidate.header, m_sectorSize), m_totalSectors - start);
    }
    const bool atOwnStart = candidate.headerSector - start == HeaderOffset();
    if (index == 0 && start == 0 && atOwnStart) {
        // A volume at the start of the device reads through the search's own device.
        candidate.volume.reset(new (std::nothrow) CHFSPlusVolume(m_device, false));
        if (!candidate.volume) return false;
        if (atOwnStart) SearchVolumeWhole(candidate, 0, 0, true);
        return true;
    }
    if (start < (index == 0 ? 0 : 1) || count < 2) return false;
    auto* window = new (std::nothrow) CCandidateWindow(m_device, start, count);
    candidate.partitionDevice.reset(window);
    if (!window) return false;
    // A lost header: the volume reads the copy met elsewhere (the newest one met so far).
    const bool headerCopy = !window->HasOwnHeader();
    if (headerCopy) window->SetHeaderCopy(candidate.headerBytes);
    candidate.volume.reset(new (std::nothrow) CHFSPlusVolume(candidate.partitionDevice.get(), false));
    if (!candidate.volume) return false;
    if (index != 0 && result::IsFailure(candidate.volume->GetStatus())) {
        candidate.volume.reset();
        return false;
    }
    const bool recorded = std::any_of(m_volumeRecords.begin(), m_volumeRecords.end(),
                                      [&](const auto& record) { return record.startSector == start; });
    // A volume that lost only its header, placed by its journal info block or its catalog's header node
    // (not by where the copy lies: a journal's copy or the alternate one), is as whole as one with its
    // header in place.
    const bool placedWithCopy = headerCopy && (JournalStart(candidate) >= 0 || candidate.catalogSector >= 0);
    if ((atOwnStart || placedWithCopy) && ((m_deviceKind == STORAGE_DEVICE_DISK && recorded) || index == 0))
        SearchVolumeWhole(candidate, u32(index), u64(start), index == 0);
    return true;
}

void CHFSPlusCompleteFileSystemSearchController::SearchVolumeWhole(CompleteSearchPatition& candidate, u32 index,
                                                                   u64 start, bool ownBitmap) {
    const HFSPlusVolumeHeader& header = *candidate.header;
    const u32 sectorsPerBlock = header.blockSize / m_sectorSize;
    CHFSPlusDirectoryTreeBuilder wrapper(m_builder, sectorsPerBlock, index, start);
    if (m_bitmap) {
        // A partition or volume scanned alone: one bit per allocation block of the volume.
        if (ownBitmap && start == 0 &&
            (m_deviceKind == STORAGE_DEVICE_PARTITION || m_deviceKind == STORAGE_DEVICE_VOLUME) &&
            sectorsPerBlock != 0 && header.totalBlocks != 0)
            m_bitmap->CreateBitmap(header.totalBlocks, sectorsPerBlock);
        if (m_bitmap->GetBitmapData()) wrapper.SetBitmap(m_bitmap);
    }
    wrapper.SetWalkedRecords(&candidate.walkedRecords);
    CHFSPlusQuickFileSystemSearchProgress silent(m_progress, true);
    std::vector<u32> leaves;
    candidate.volume->QuickSearchFiles(&wrapper, &silent, &leaves);
    // The counts of a copy of the header may be stale (an alternate header keeps those of its format):
    // what the walk passed on counts as well.
    const u32 walked = u32(candidate.walkedRecords.size());
    std::sort(candidate.walkedRecords.begin(), candidate.walkedRecords.end());
    candidate.walkedRecords.erase(std::unique(candidate.walkedRecords.begin(), candidate.walkedRecords.end()),
                                  candidate.walkedRecords.end());
    RememberListedLeaves(*candidate.volume, start, leaves);
    if (header.fileCount == 0 && header.folderCount == 0)
        candidate.fileCount += walked;
    else {
        candidate.fileCount += header.fileCount;
        candidate.folderCount += header.folderCount;
    }
}

void CHFSPlusCompleteFileSystemSearchController::RememberListedLeaves(const CHFSPlusVolume& volume, u64 start,
                                                                      const std::vector<u32>& leaves) {
    const CHFSPlusFileCache* catalog = volume.GetCatalogFile();
    const CHFSPlusCatalog* tree = volume.GetCatalogTree();
    const u64 blockSize = volume.GetBlockSize();
    if (!catalog || !tree || blockSize == 0 || leaves.empty()) return;
    const u64 nodeSize = tree->GetNodeSize();
    for (const u32 leaf : leaves) {
        // The node's place in the volume: inside one extent of the catalog file, on a sector boundary.
        u64 offset = u64(leaf) * nodeSize;
        for (const HFSPlusExtentDescriptor& e : catalog->Extents()) {
            const u64 bytes = u64(e.blockCount) * blockSize;
            if (offset >= bytes) {
                offset -= bytes;
                continue;
            }
            const u64 volumeByte = u64(e.startBlock) * blockSize + offset;
            if (nodeSize <= bytes - offset && volumeByte % m_sectorSize == 0)
                m_listedLeaves.push_back(i64(start + volumeByte / m_sectorSize));
            break;
        }
    }
    std::sort(m_listedLeaves.begin(), m_listedLeaves.end());
}

const CHFSPlusCompleteFileSystemSearchController::TreeHeader*
CHFSPlusCompleteFileSystemSearchController::TreeHeaderIn(u16 maxKeyLength, i64 from, i64 to, i64 skipFrom,
                                                         i64 skipTo) const {
    for (const TreeHeader& tree : m_treeHeaders) {
        if (tree.maxKeyLength != maxKeyLength || tree.sector < from || tree.sector >= to) continue;
        // The journal keeps copies of header nodes: only the tree's own counts.
        if (tree.sector >= skipFrom && tree.sector < skipTo) continue;
        if (tree.nodeSize != 0 && tree.totalNodes != 0) return &tree;
    }
    return nullptr;
}

u64 CHFSPlusCompleteFileSystemSearchController::FilesEndBlock(i64 from, i64 to) {
    u64 last = 0;
    for (const Leaf& leaf : m_unownedLeaves) {
        if (leaf.sector < from || leaf.sector >= to) continue;
        const u8* bytes = View(leaf.sector, std::max<i64>(leaf.nodeSize / m_sectorSize, 1));
        if (!bytes || !CHFSPlusBTNode::IsValidNode(bytes, leaf.nodeSize)) continue;
        CHFSPlusBTNode node(bytes, leaf.nodeSize, CHFSPlusBTNode::Checked{});
        for (u16 i = 0; i < node.GetRecordCount(); ++i) {
            BTKey key;
            HFSPlusCatalogRecord record;
            if (!ReadCatalogRecord(node, i, key, record) || record.recordType != catrec::kFile) continue;
            for (const HFSPlusForkData* fork : {&record.file.dataFork, &record.file.resourceFork})
                for (const HFSPlusExtentDescriptor& e : fork->extents) last = std::max(last, u64(e.startBlock) + e.blockCount);
        }
    }
    return last;
}

bool CHFSPlusCompleteFileSystemSearchController::RecoverHeaderless(CompleteSearchPatition& holder) {
    const JournalInfoBlock& info = *holder.journalInfo;
    const JournalHeader& journal = *holder.journalHeader;
    // The journal header is the one the block describes, and lies where its offset counts from a start.
    if (!(info.flags & jib::kJournalInFS) || journal.size != info.size || info.offset % m_sectorSize != 0 ||
        info.offset / m_sectorSize > u64(holder.journalHeaderSector))
        return false;
    const i64 start = holder.journalHeaderSector - i64(info.offset / m_sectorSize);
    if (start >= holder.journalInfoSector) return false;
    // A volume with a header placed there is not lost. It ends where the next placed volume starts.
    i64 end = m_totalSectors;
    for (const auto& other : m_candidates) {
        const i64 placed = other->header ? PlacedStart(*other) : -1;
        if (placed == start) return false;
        if (placed > start) end = std::min(end, placed);
    }
    const i64 journalEnd = holder.journalHeaderSector + i64(std::min<u64>(info.size / m_sectorSize, u64(m_totalSectors)));
    const TreeHeader* extents =
        TreeHeaderIn(extkey::kKeyLengthValue, start, end, holder.journalHeaderSector, journalEnd);
    const TreeHeader* catalog = TreeHeaderIn(kCatalogMaxKeyLength, start, end, holder.journalHeaderSector, journalEnd);
    const TreeHeader* attributes =
        TreeHeaderIn(kAttributesMaxKeyLength, start, end, holder.journalHeaderSector, journalEnd);
    if (!extents || !catalog) return false;
    // Block sizes up to the default at which every structure starts on a block, largest first. A volume of
    // small blocks may have them all on larger boundaries: sizes at which the files of its catalog leaves
    // would end past the room are not its own. Of the others, the size is the first whose allocation file
    // is found, counts every block of those files and ends before the room does (read as larger blocks, a
    // dense bitmap of small ones marks every block it may hold, so a count up to the limit proves
    // nothing); else the first found; else the largest.
    const auto alignedAt = [&](u32 size, i64 sector) { return (u64(sector - start) * m_sectorSize) % size == 0; };
    std::vector<u32> sizes;
    for (u32 size = kDefaultBlockSize; size >= std::max<u32>(m_sectorSize, 512); size /= 2) {
        if (alignedAt(size, holder.journalInfoSector) && alignedAt(size, extents->sector) &&
            alignedAt(size, catalog->sector) && (!attributes || alignedAt(size, attributes->sector)))
            sizes.push_back(size);
    }
    if (sizes.empty()) return false;
    const u64 filesEnd = FilesEndBlock(start, end);
    std::vector<u32> fitting;
    for (const u32 size : sizes)
        if (filesEnd * size <= u64(end - start) * m_sectorSize) fitting.push_back(size);
    if (!fitting.empty()) sizes = fitting;
    u32 blockSize = sizes.front();
    const auto block = [&](i64 sector) { return u32(std::min<u64>(u64(sector - start) * m_sectorSize / blockSize, UINT32_MAX)); };
    // Its size: from its allocation file when that is found, else up to the next volume.
    u32 counted = 0;
    u32 firstSize = 0;
    u32 firstCount = 0;
    for (const u32 size : sizes) {
        blockSize = size;
        std::vector<BlockRun> used{
            {block(holder.journalInfoSector), 1},
            {block(holder.journalHeaderSector), u32(std::min<u64>((info.size + blockSize - 1) / blockSize, UINT32_MAX))}};
        for (const TreeHeader* tree : {extents, catalog, attributes}) {
            if (tree)
                used.push_back({block(tree->sector), u32(std::min<u64>(
                                                         (u64(tree->nodeSize) * tree->totalNodes + blockSize - 1) / blockSize,
                                                         UINT32_MAX))});
        }
        counted = BlocksInAllocationFile(start, blockSize, block(end), used);
        // A count that leaves out blocks of its files is no count of this volume.
        if (counted < filesEnd) counted = 0;
        if (counted && counted < block(end)) break;
        if (counted && !firstSize) {
            firstSize = size;
            firstCount = counted;
        }
        counted = 0;
    }
    if (!counted) {
        blockSize = firstSize ? firstSize : sizes.front();
        counted = firstCount;
    }
    const u32 totalBlocks = counted ? counted : block(end);
    const i64 sectors = std::min(end - start, BlocksToSectors(totalBlocks, blockSize, m_sectorSize));

    // The header such a volume had, as far as these structures tell: every catalog ID and date taken.
    std::vector<u8> bytes(kSlice, 0);
    ByteWriter out(bytes.data(), bytes.size());
    out.Be16(vh::kSignature, catalog->keyCompareType == header::kBinaryCompare ? kSignatureHFSX : kSignatureHFSPlus);
    out.Be16(vh::kVersion, 4);
    out.Be32(vh::kAttributes, kVolumeJournaledBit | kVolumeCatalogIdsReusedBit);
    out.Be32(vh::kJournalInfoBlock, block(holder.journalInfoSector));
    out.Be32(vh::kModifyDate, UINT32_MAX);
    out.Be32(vh::kBlockSize, blockSize);
    out.Be32(vh::kTotalBlocks, totalBlocks);
    out.Be32(vh::kNextCatalogID, UINT32_MAX);
    // Each tree in one extent from its header node, inside the volume.
    const auto putFork = [&](size_t at, const TreeHeader* tree) {
        if (!tree) return true;
        const u64 blocks = (u64(tree->nodeSize) * tree->totalNodes + blockSize - 1) / blockSize;
        if (blocks > totalBlocks - block(tree->sector)) return false;
        out.Be64(at + fork::kLogicalSize, blocks * blockSize);
        out.Be32(at + fork::kTotalBlocks, u32(blocks));
        out.Be32(at + fork::kExtents + extent::kStartBlock, block(tree->sector));
        out.Be32(at + fork::kExtents + extent::kBlockCount, u32(blocks));
        return true;
    };
    if (!putFork(vh::kExtentsFile, extents) || !putFork(vh::kCatalogFile, catalog) ||
        !putFork(vh::kAttributesFile, attributes) || !CHFSPlusVolume::IsValidVolumeHeader(bytes.data(), u16(kSlice)))
        return false;
    auto header = std::make_unique<HFSPlusVolumeHeader>();
    if (!DecodeVolumeHeader(ByteReader(bytes.data(), bytes.size()), *header)) return false;

    // A candidate that holds nothing else becomes the volume; else the volume is a candidate of its own.
    const bool bare = !holder.header && holder.fileCount == 0 && holder.folderCount == 0 && !holder.partitionDevice &&
                      !holder.volume;
    CompleteSearchPatition* volume = bare ? &holder : AddCandidate(start, sectors);
    if (!volume) return false;
    EngineDebug("Rebuild VolumeHeader StartSector[%llx],BlockSize[%u]\n", static_cast<unsigned long long>(start),
                blockSize);
    volume->startSector = start;
    volume->sectorCount = sectors;
    // Its record's cluster size: the end of the search keeps it when the tree builder took none of its
    // files from the leaves (all listed already by its whole search).
    volume->blockSize = blockSize;
    volume->header = std::move(header);
    volume->headerSector = start + HeaderOffset();
    volume->headerBytes = std::move(bytes);
    if (!bare) {
        volume->journalInfo = std::move(holder.journalInfo);
        volume->journalInfoSector = holder.journalInfoSector;
        volume->journalHeader = std::move(holder.journalHeader);
        volume->journalHeaderSector = holder.journalHeaderSector;
        holder.journalInfoSector = -1;
        holder.journalHeaderSector = -1;
    }
    // The leaves met in it that had no owner then, read again.
    std::vector<Leaf> inside;
    for (const Leaf& leaf : m_unownedLeaves)
        if (leaf.sector >= start && leaf.sector < end) inside.push_back(leaf);
    ReadLeaves(inside, volume);
    return true;
}

bool CHFSPlusCompleteFileSystemSearchController::InJournal(i64 sector) const {
    for (const auto& candidate : m_candidates) {
        if (!candidate->journalHeader || candidate->journalHeaderSector < 0 || sector < candidate->journalHeaderSector)
            continue;
        if (u64(sector - candidate->journalHeaderSector) < candidate->journalHeader->size / m_sectorSize) return true;
    }
    return false;
}

void CHFSPlusCompleteFileSystemSearchController::ReadLeaves(const std::vector<Leaf>& leaves,
                                                            CompleteSearchPatition* owner) {
    std::vector<u8> node;
    for (const bool journal : {false, true}) {
        if (journal) {
            // The journal's copies are checked against the records that leaves in place gave.
            for (auto& candidate : m_candidates) {
                std::sort(candidate->leafRecords.begin(), candidate->leafRecords.end());
                candidate->leafRecords.erase(std::unique(candidate->leafRecords.begin(), candidate->leafRecords.end()),
                                             candidate->leafRecords.end());
            }
        }
        for (const Leaf& leaf : leaves) {
            if (InJournal(leaf.sector) != journal || IsListedLeaf(leaf.sector)) continue;
            const u8* bytes = View(leaf.sector, std::max<i64>(leaf.nodeSize / m_sectorSize, 1));
            if (!bytes || !CHFSPlusBTNode::IsValidNode(bytes, leaf.nodeSize)) continue;
            // Copied: the volume reads while the leaf is analysed.
            node.assign(bytes, bytes + leaf.nodeSize);
            AnalyseNode(leaf.sector, node.data(), leaf.nodeSize, owner, journal ? LeafPass::Journal : LeafPass::Again);
        }
    }
}

void CHFSPlusCompleteFileSystemSearchController::ReadKeptLeaves() {
    std::vector<Leaf> kept = std::move(m_unownedLeaves);
    m_unownedLeaves.clear();
    kept.insert(kept.end(), m_journalLeaves.begin(), m_journalLeaves.end());
    m_journalLeaves.clear();
    // Without any header no leaf has an owner yet: they stay for a volume rebuilt from its journal.
    if (std::none_of(m_candidates.begin(), m_candidates.end(), [](const auto& c) { return bool(c->header); })) {
        m_unownedLeaves = std::move(kept);
        return;
    }
    std::sort(kept.begin(), kept.end(), [](const Leaf& a, const Leaf& b) { return a.sector < b.sector; });
    ReadLeaves(kept, nullptr);
}

u32 CHFSPlusCompleteFileSystemSearchController::BlocksInAllocationFile(i64 start, u32 blockSize, u32 limit,
                                                                       const std::vector<BlockRun>& used) {
    if (!m_device || blockSize < m_sectorSize || blockSize % m_sectorSize != 0 || limit == 0) return 0;
    const u32 reserved = u32((kVolumeHeaderOffset + kSlice + blockSize - 1) / blockSize);
    u32 first = limit;
    for (const BlockRun& run : used) {
        if (run.count == 0 || run.first >= limit || run.count > limit - run.first) return 0;
        first = std::min(first, run.first);
    }
    // The volume's bytes one device sector at a time, the last one kept.
    std::vector<u8> sector(m_sectorSize);
    i64 held = -1;
    const auto byteAt = [&](u64 volumeByte, u8& value) {
        const i64 at = start + i64(volumeByte / m_sectorSize);
        if (at != held) {
            if (at < 0 || at >= m_totalSectors || !m_device->ReadSector(sector.data(), at, 1)) return false;
            held = at;
        }
        value = sector[volumeByte % m_sectorSize];
        return true;
    };
    // Formatters put it right after the header's blocks: a few blocks further at most are tried.
    for (u32 candidate = reserved; candidate < std::min(first, reserved + kAllocationFileTries); ++candidate) {
        const u64 base = u64(candidate) * blockSize;
        // Bits it may hold: up to the next structure and the limit.
        const u64 bits = std::min<u64>(u64(first - candidate) * blockSize * 8, limit);
        const auto marked = [&](u64 blockIndex) {
            u8 value = 0;
            return blockIndex < bits && byteAt(base + blockIndex / 8, value) && (value & (0x80 >> (blockIndex % 8)));
        };
        // The blocks of the header, of the allocation file itself and of every structure met are used.
        bool allMarked = marked(0) && marked(reserved - 1) && marked(candidate);
        for (const BlockRun& run : used)
            allMarked = allMarked && marked(run.first) && marked(u64(run.first) + run.count - 1);
        if (!allMarked) continue;
        for (u64 byte = (bits + 7) / 8; byte-- > 0;) {
            u8 value = 0;
            if (!byteAt(base + byte, value)) return 0;
            if (byte * 8 + 8 > bits) value &= u8(0xFF << (byte * 8 + 8 - bits));
            if (value != 0) return u32(byte * 8 + 7 - u64(std::countr_zero(value))) + 1;
        }
    }
    return 0;
}

void CHFSPlusCompleteFileSystemSearchController::RecoverHeaderlessVolumes() {
    const size_t known = m_candidates.size();
    for (size_t i = 0; i < known; ++i) {
        CompleteSearchPatition& holder = *m_candidates[i];
        // A journal info block that places no header it holds: another volume's, perhaps a lost one.
        if (!holder.journalInfo || !holder.journalHeader || (holder.header && JournalStart(holder) >= 0)) continue;
        RecoverHeaderless(holder);
    }
    m_unownedLeaves.clear();
}

int CHFSPlusCompleteFileSystemSearchController::EndSearch(int build) {
    if (!build) return 1;
    ReadKeptLeaves();
    RecoverHeaderlessVolumes();
    if (m_builder) m_builder->FlashBuild(SEARCHER_HFSPLUS);
    for (auto& candidate : m_candidates) {
        if (candidate->fileCount == 0) continue;
        i64 start = candidate->startSector;
        i64 sectors = candidate->sectorCount;
        u32 blockSize = candidate->blockSize;
        if (const HFSPlusVolumeHeader* header = candidate->header.get()) {
            sectors = VolumeSectors(*header, m_sectorSize);
            if (JournalStart(*candidate) < 0) EngineDebug("ErrorLine:%d Can't Find Volume Start Sector!\n", __LINE__);
            // Without its journal info block a candidate keeps its start, unless the header it holds
            // was met elsewhere (the first candidate spans the device and takes the first header met
            // anywhere): its volume was opened there, and its files are read from there.
            if (const i64 placed = PlacedStart(*candidate); placed >= 0) start = placed;
            blockSize = header->blockSize;
        } else {
            EngineDebug("ErrorLine:%d Can't Find Volume Head!\n", __LINE__);
        }
        candidate->startSector = start;
        candidate->sectorCount = std::max<i64>(std::min(sectors, m_totalSectors - start), 0);
        candidate->blockSize = blockSize;
    }
    m_bitmap = nullptr;
    return 1;
}

bool CHFSPlusCompleteFileSystemSearchController::IsReported(const CompleteSearchPatition& candidate) const {
    return candidate.header || candidate.journalInfo || candidate.fileCount || candidate.folderCount ||
           candidate.recordedVolume;
}

int CHFSPlusCompleteFileSystemSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    const int count = int(std::count_if(m_candidates.begin(), m_candidates.end(),
                                        [this](const auto& c) { return IsReported(*c); }));
    if (!out || capacity < count) return count;
    int written = 0;
    for (const auto& candidate : m_candidates) {
        if (!IsReported(*candidate)) continue;
        auto* record = new (std::nothrow) CSearchedPartitionInfo(m_sectorSize);
        if (!record) break;
        record->m_partitionIndex = i32(candidate->partitionIndex);
        record->m_cluster0Sector = candidate->startSector;
        record->m_partitionStartSector = candidate->startSector;
        record->SetTotalSectors(u64(std::max<i64>(candidate->sectorCount, 0)));
        record->m_fileSystemType = FILE_SYSTEM_HFSPLUS;
        u32 perCluster = candidate->blockSize / m_sectorSize;
        if (perCluster == 0) {
            EngineDebug("Warn:SectorsperCluster calc Error!\n");
            perCluster = std::max<u32>(4096 / m_sectorSize, 1);
        }
        record->m_sectorsPerCluster = perCluster;
        out[written++] = record;
    }
    return written;
}

ICompleteFileSystemSearchController* CreateHFSPlusSearcher() {
    return new (std::nothrow) CHFSPlusCompleteFileSystemSearchController;
}
