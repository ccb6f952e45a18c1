// Drives APFS containers over a device the way the deep scan does: every block in order, in ranges,
// 16 blocks per read (the device's last blocks read exactly, the rest of the group zero). A container
// superblock opens a container (a copy with the UUID of a known container inside it is skipped); a
// volume superblock met before any container opens a volume-only container; every other plausible
// block is offered to each container in order of start sector. Each range ends with a flush of every
// container; Finish makes the final flushes and flushes the tree builder.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "engine/APFS/APFSContainer.h"
#include "engine/APFS/APFSDelegate.h"
#include "engine/Utility/SearchedPartitionInfo.h"

class IDirecotryTreeBuilder;
class IStorageDevice;

namespace testsupport {

class ApfsBlockScan : public APFSDelegate {
public:
    static constexpr u32 kGroupBlocks = 16;

    // Neither is owned; the builder may be null (nodes are then refused and stay the containers').
    ApfsBlockScan(IStorageDevice* device, IDirecotryTreeBuilder* builder);
    ~ApfsBlockScan() override;

    // Offers every block of the device, rangeSectors sectors per range.
    void Run(u64 rangeSectors = 8192);
    // One range, as the controller hands it over.
    void AnalyzeRange(u64 firstSector, u64 sectorCount);
    // Final flush of every container, then SetPartitonDevice(null, device) and FlashBuild(37).
    void Finish();

    // Containers by start sector.
    const std::map<u64, std::unique_ptr<APFSContainer>>& Containers() const { return m_containers; }
    APFSContainer* Container(int index) const;
    // The partition record of container `index` (sectors per cluster 1, cluster 0 at its start).
    CSearchedPartitionInfo PartitionOf(int index) const;

    // Asked before each block, walk step and flush step; the scan stops when it answers false.
    std::function<bool()> keepGoing;
    int published = 0;
    int accepted = 0;
    int searcherInfoCalls = 0;

    bool ContinueScan() override;
    int PublishNode(APFSFileNode* node) override;
    int ReadBlocks(APFSContainer* container, u64 firstBlock, i32 byteCount, u8* buffer) override;

private:
    void Examine(u64 block, const u8* bytes);
    // A new container entered under `sector`, starting at startSector.
    APFSContainer* Open(u64 sector, int index, u64 startSector);

    IStorageDevice* m_device;
    IDirecotryTreeBuilder* m_builder;
    u32 m_sectorSize;
    std::map<u64, std::unique_ptr<APFSContainer>> m_containers;
    std::vector<u8> m_buffer;
};

}  // namespace testsupport
