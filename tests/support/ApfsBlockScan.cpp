#include "support/ApfsBlockScan.h"

#include <algorithm>
#include <cstring>

#include "engine/APFS/APFSFileNode.h"
#include "engine/APFS/APFSLayout.h"
#include "engine/APFS/APFSObject.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/StorageDevice/IStorageDevice.h"

namespace testsupport {

ApfsBlockScan::ApfsBlockScan(IStorageDevice* device, IDirecotryTreeBuilder* builder)
    : m_device(device), m_builder(builder), m_sectorSize(device ? device->GetSectorSize() : 512) {
    if (m_sectorSize == 0) m_sectorSize = 512;
    m_buffer.resize(size_t{kGroupBlocks} * apfs::kBlockSize);
}

ApfsBlockScan::~ApfsBlockScan() = default;

bool ApfsBlockScan::ContinueScan() {
    return !keepGoing || keepGoing();
}

int ApfsBlockScan::PublishNode(APFSFileNode* node) {
    ++published;
    const int taken = m_builder ? m_builder->AddNode(node, SEARCHER_APFS) : 0;
    if (taken) ++accepted;
    return taken;
}

int ApfsBlockScan::ReadBlocks(APFSContainer* container, u64 firstBlock, i32 byteCount, u8* buffer) {
    if (byteCount < 0) return 0;
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

APFSContainer* ApfsBlockScan::Container(int index) const {
    for (const auto& [sector, container] : m_containers) {
        if (container->GetIndex() == index) return container.get();
    }
    return nullptr;
}

CSearchedPartitionInfo ApfsBlockScan::PartitionOf(int index) const {
    CSearchedPartitionInfo record(m_sectorSize);
    int position = 0;
    for (const auto& [sector, container] : m_containers) {
        if (position == index) {
            record.m_partitionIndex = position;
            record.m_fileSystemType = 9;
            record.m_cluster0Sector = static_cast<i64>(container->GetStartSector());
            record.m_partitionStartSector = static_cast<i64>(container->GetStartSector());
            record.SetTotalSectors(container->GetSectorCount());
            record.m_sectorsPerCluster = 1;
        }
        ++position;
    }
    return record;
}

void ApfsBlockScan::Run(u64 rangeSectors) {
    const u64 total = static_cast<u64>(std::max<i64>(m_device->GetTotalSectors(), 0));
    for (u64 first = 0; first < total && ContinueScan(); first += rangeSectors)
        AnalyzeRange(first, std::min(rangeSectors, total - first));
}

void ApfsBlockScan::AnalyzeRange(u64 firstSector, u64 sectorCount) {
    const u64 deviceBytes = static_cast<u64>(std::max<i64>(m_device->GetTotalSectors(), 0)) * m_sectorSize;
    const u64 deviceBlocks = deviceBytes / apfs::kBlockSize;
    const u64 firstBlock = firstSector * m_sectorSize / apfs::kBlockSize;
    const u64 endBlock = (firstSector + sectorCount) * m_sectorSize / apfs::kBlockSize;
    for (u64 group = firstBlock; group < endBlock && group < deviceBlocks && ContinueScan(); group += kGroupBlocks) {
        const u64 blocks = std::min<u64>(kGroupBlocks, deviceBlocks - group);
        std::fill(m_buffer.begin(), m_buffer.end(), 0);
        if (!apfs::ReadDeviceBytes(m_device, group * apfs::kBlockSize, m_buffer.data(), blocks * apfs::kBlockSize))
            continue;
        for (u64 i = 0; i < blocks && ContinueScan(); ++i) Examine(group + i, m_buffer.data() + i * apfs::kBlockSize);
    }
    for (auto& [sector, container] : m_containers) {
        if (!ContinueScan()) break;
        container->Flush(static_cast<i64>(endBlock));
    }
}

APFSContainer* ApfsBlockScan::Open(u64 sector, int index, u64 startSector) {
    auto container = std::make_unique<APFSContainer>(this, index, startSector);
    container->SetSectorSize(static_cast<int>(m_sectorSize));
    if (m_containers.empty() && m_builder) {
        m_builder->AddSearcherInfo(SEARCHER_APFS, 2);
        ++searcherInfoCalls;
    }
    APFSContainer* raw = container.get();
    m_containers[sector] = std::move(container);
    return raw;
}

void ApfsBlockScan::Examine(u64 block, const u8* bytes) {
    const ByteReader view(bytes, apfs::kBlockSize);
    if (!apfs::IsPlausibleObject(view)) return;
    const u64 sector = block * apfs::kBlockSize / m_sectorSize;
    if (view.Le64(apfs::obj::kOid) == 1u && view.Le16(apfs::obj::kType) == apfs::obj::kContainerSuperblock &&
        view.Le64(apfs::nx::kMagic) == apfs::nx::kMagicAnd4096) {
        for (const auto& [start, known] : m_containers) {
            if (view.Equals(apfs::nx::kUuid, known->GetUuid().data(), known->GetUuid().size()) &&
                sector - start < known->GetSectorCount())
                return;  // a checkpoint copy of a known superblock
        }
        Open(sector, static_cast<int>(m_containers.size()), sector)->WalkContainer();
        return;
    }
    if (m_containers.empty() && view.Le32(apfs::apsb::kMagic) == apfs::apsb::kMagicValue) {
        // Known only by this volume: a container over the whole device from sector 0.
        APFSContainer* raw = Open(sector, 0, 0);
        raw->SetVolumeOnly(static_cast<u64>(std::max<i64>(m_device->GetTotalSectors(), 0)));
        raw->WalkVolume(sector * m_sectorSize / apfs::kBlockSize);
        raw->SetWalked();
        return;
    }
    for (auto& [start, container] : m_containers) {
        if (!ContinueScan()) return;
        container->AnalyzeBlock(sector, block, bytes);
    }
}

void ApfsBlockScan::Finish() {
    if (m_containers.empty()) return;
    for (auto& [sector, container] : m_containers) container->Flush(-1);
    if (m_builder) {
        m_builder->SetPartitonDevice(nullptr, m_device);
        m_builder->FlashBuild(SEARCHER_APFS);
    }
}

}  // namespace testsupport
