#include "engine/APFS/APFSDeepScan.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/APFS/APFSFileNode.h"
#include "engine/APFS/APFSLayout.h"
#include "engine/APFS/APFSObject.h"
#include "engine/Common/ByteReader.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "engine/Utility/SearchedPartitionInfo.h"

APFSDeepScan::APFSDeepScan() : m_buffer(kWorkBufferSize, 0) {}

// The containers delete the nodes the builder never took; the builder owns the others.
APFSDeepScan::~APFSDeepScan() = default;

void APFSDeepScan::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_cache = dynamic_cast<CStorageDeviceWithCache*>(device);
    const u32 size = device ? device->GetSectorSize() : 512;
    m_sectorSize = size < 1 || size > u32(INT32_MAX) ? 512 : static_cast<i32>(size);
}

u64 APFSDeepScan::DeviceSectors() const {
    if (!m_device) return 0;
    // Bounded so that a byte offset on the device always fits in 64 bits.
    const u64 total = static_cast<u64>(std::max<i64>(m_device->GetTotalSectors(), 0));
    return std::min<u64>(total, UINT64_MAX / 2 / u64(m_sectorSize));
}

bool APFSDeepScan::ContinueScan() {
    return !m_progress || m_progress->Continued() != 0;
}

int APFSDeepScan::PublishNode(APFSFileNode* node) {
    // The container marks the node published before handing it over; a node is never offered twice.
    if (!node || !m_builder) return 0;
    return m_builder->AddNode(node, SEARCHER_APFS);
}

int APFSDeepScan::ReadBlocks(APFSContainer* container, u64 firstBlock, i32 byteCount, u8* buffer) {
    if (byteCount < 0 || !m_device) return 0;
    const u64 base = container ? container->GetStartSector() : 0;
    u64 baseByte = 0;
    u64 offset = 0;
    u64 byte = 0;
    if (__builtin_mul_overflow(base, u64(m_sectorSize), &baseByte) ||
        __builtin_mul_overflow(firstBlock, u64(apfs::kBlockSize), &offset) ||
        __builtin_add_overflow(baseByte, offset, &byte))
        return 0;
    return apfs::ReadDeviceBytes(m_device, byte, buffer, size_t(byteCount)) ? 1 : 0;
}

APFSContainer* APFSDeepScan::Container(int index) const {
    for (const auto& [key, container] : m_containers) {
        if (container->GetIndex() == index) return container.get();
    }
    return nullptr;
}

CSearchedPartitionInfo APFSDeepScan::PartitionOf(int position) const {
    const u32 sectorSize = m_sectorSize <= 0 || m_sectorSize % 512 != 0 ? 512 : u32(m_sectorSize);
    CSearchedPartitionInfo record(sectorSize);
    int at = 0;
    for (const auto& [key, container] : m_containers) {
        if (at++ != position) continue;
        record.m_partitionIndex = position;
        record.m_fileSystemType = kFileSystemType;
        record.m_cluster0Sector = static_cast<i64>(container->GetStartSector());
        record.m_partitionStartSector = static_cast<i64>(container->GetStartSector());
        record.SetTotalSectors(container->GetSectorCount());
        record.m_sectorsPerCluster = 1;
        break;
    }
    return record;
}

int APFSDeepScan::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) {
    const int count = static_cast<int>(m_containers.size());
    if (!out) return count;
    if (capacity < 1 || count == 0) return 0;
    const int given = std::min(count, capacity);
    for (int i = 0; i < given; ++i) {
        out[i] = new (std::nothrow) CSearchedPartitionInfo(PartitionOf(i));
        if (out[i]) continue;
        for (int j = 0; j < i; ++j) {
            delete out[j];
            out[j] = nullptr;
        }
        return 0;
    }
    return given;
}

const u8* APFSDeepScan::ReadGroup(u64 block, u64& blocks) {
    blocks = 0;
    const u64 deviceBlocks = DeviceSectors() * u64(m_sectorSize) / apfs::kBlockSize;
    if (block >= deviceBlocks) return nullptr;
    const u64 count = std::min<u64>(kGroupBlocks, deviceBlocks - block);
    const size_t bytes = size_t(count) * apfs::kBlockSize;
    const size_t groupBytes = size_t{kGroupBlocks} * apfs::kBlockSize;
    bool read = false;
    if (apfs::kBlockSize % u32(m_sectorSize) == 0) {
        // Blocks start on sector boundaries: the cache's bytes as they stand, or straight into the
        // work buffer.
        const u64 perBlock = apfs::kBlockSize / u32(m_sectorSize);
        const i64 first = static_cast<i64>(block * perBlock);
        const i64 sectors = static_cast<i64>(count * perBlock);
        if (const u8* inPlace = m_cache ? m_cache->CurrentBlockSectors(first, sectors) : nullptr) {
            ++m_groupsRead;
            ++m_groupsInPlace;
            blocks = count;
            return inPlace;
        }
        read = m_device->ReadSector(m_buffer.data(), first, sectors) != 0;
    } else {
        read = apfs::ReadDeviceBytes(m_device, block * apfs::kBlockSize, m_buffer.data(), bytes);
    }
    if (!read) return nullptr;
    // No stale bytes of an earlier group behind the device's last block.
    std::memset(m_buffer.data() + bytes, 0, groupBytes - bytes);
    ++m_groupsRead;
    blocks = count;
    return m_buffer.data();
}

int APFSDeepScan::AnalyzeBlock(i64 startSector, i64 sectorCount) {
    if (!m_device || startSector < 0 || sectorCount <= 0) return 1;
    // Nothing lies past the device's end: the range is cut there, so the products below cannot overflow.
    const u64 total = DeviceSectors();
    const u64 first = std::min<u64>(u64(startSector), total);
    const u64 end = std::min<u64>(total, first + std::min<u64>(u64(sectorCount), total - first));
    const u64 firstBlock = first * u64(m_sectorSize) / apfs::kBlockSize;
    const u64 endBlock = end * u64(m_sectorSize) / apfs::kBlockSize;
    bool going = true;
    // The continue test before each group and, for a block that may be an object, before each
    // container it is offered to: a block that is no object costs only its header test.
    for (u64 group = firstBlock; group < endBlock && (going = ContinueScan()); group += kGroupBlocks) {
        u64 blocks = 0;
        const u8* const bytes = ReadGroup(group, blocks);
        if (!bytes) continue;
        // Every block of the group is examined, also those past the range's end block.
        const u8* const end = bytes + blocks * apfs::kBlockSize;
        const u8* at = bytes;
        while (at != end) {
            const u8* const block = at;
            at += apfs::kBlockSize;
            // Most blocks are no object at all (zeros, file data): the cheap header test comes first.
            if (apfs::IsPlausibleObject(ByteReader(block, apfs::kBlockSize)) &&
                !(going = Examine(group + u64(block - bytes) / apfs::kBlockSize, block)))
                break;
        }
        m_blocksExamined += u64(at - bytes) / apfs::kBlockSize;
        if (!going) break;
    }
    for (auto& [key, container] : m_containers) {
        if (!going || !(going = ContinueScan())) break;
        container->Flush(static_cast<i64>(endBlock));
    }
    return 1;
}

APFSContainer* APFSDeepScan::Open(u64 key, int index, u64 startSector) {
    auto container = std::make_unique<APFSContainer>(this, index, startSector);
    container->SetSectorSize(m_sectorSize);
    if (m_containers.empty() && m_builder) m_builder->AddSearcherInfo(SEARCHER_APFS, 2);
    APFSContainer* raw = container.get();
    m_containers[key] = std::move(container);
    m_inOrder.clear();
    for (const auto& [at, known] : m_containers) m_inOrder.push_back(known.get());
    return raw;
}

bool APFSDeepScan::TakeContainerSuperblock(u64 sector, const u8* bytes) {
    const ByteReader view(bytes, apfs::kBlockSize);
    if (view.Le64(apfs::obj::kOid) != 1u || view.Le16(apfs::obj::kType) != apfs::obj::kContainerSuperblock ||
        view.Le64(apfs::nx::kMagic) != apfs::nx::kMagicAnd4096)
        return false;
    for (const auto& [key, known] : m_containers) {
        // A checkpoint copy of a known superblock, inside its container.
        if (view.Equals(apfs::nx::kUuid, known->GetUuid().data(), known->GetUuid().size()) &&
            sector - known->GetStartSector() < known->GetSectorCount())
            return true;
    }
    // A key already taken (a volume-only container entered under this sector) is kept: the new
    // container would replace one whose nodes the builder may hold.
    if (m_containers.count(sector)) return true;
    Open(sector, static_cast<int>(m_containers.size()), sector)->WalkContainer();
    return true;
}

bool APFSDeepScan::TakeVolumeSuperblock(u64 sector, const u8* bytes) {
    if (!m_containers.empty()) return false;
    const ByteReader view(bytes, apfs::kBlockSize);
    if (view.Le32(apfs::apsb::kMagic) != apfs::apsb::kMagicValue) return false;
    // Known only by this volume: a container over the whole device from sector 0.
    APFSContainer* container = Open(sector, 0, 0);
    container->SetVolumeOnly(DeviceSectors());
    container->WalkVolume(sector * u64(m_sectorSize) >> 12);
    container->SetWalked();
    return true;
}

inline bool APFSDeepScan::Examine(u64 block, const u8* bytes) {
    const u64 sector = block * apfs::kBlockSize / u64(m_sectorSize);
    // The superblock rules, asked only of blocks that can pass them (a container superblock has its
    // magic; a volume superblock counts only before any container).
    if (ByteReader(bytes, apfs::kBlockSize).Le64(apfs::nx::kMagic) == apfs::nx::kMagicAnd4096 &&
        TakeContainerSuperblock(sector, bytes))
        return true;
    if (m_containers.empty() && TakeVolumeSuperblock(sector, bytes)) return true;
    // Container 0 reads tree nodes from anywhere on the device, but not those inside another known
    // container: their extents count from that container's start, so under container 0 their copies
    // would be read from the wrong place.
    const bool another = InsideLaterContainer(sector);
    for (APFSContainer* container : m_inOrder) {
        if (!ContinueScan()) return false;
        if (another && container->GetIndex() == 0) continue;
        container->AnalyzeBlock(sector, block, bytes);
    }
    return true;
}

inline bool APFSDeepScan::InsideLaterContainer(u64 sector) const {
    for (const APFSContainer* container : m_inOrder) {
        if (container->GetIndex() != 0 && sector - container->GetStartSector() < container->GetSectorCount())
            return true;
    }
    return false;
}

int APFSDeepScan::EndSearch(int build) {
    if (build == 0 || m_containers.empty()) return 1;
    for (auto& [key, container] : m_containers) container->Flush(-1);
    if (m_builder) {
        m_builder->SetPartitonDevice(nullptr, m_device);
        m_builder->FlashBuild(SEARCHER_APFS);
    }
    return 1;
}

ICompleteFileSystemSearchController* CreateAPFSDeepSearcher() {
    return new (std::nothrow) APFSDeepScan();
}
