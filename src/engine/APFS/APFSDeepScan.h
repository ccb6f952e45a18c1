// The deep searcher of APFS: handed the device range by range, it reads it in groups of 16 blocks,
// opens a container at every container superblock it meets (a checkpoint copy of a known container
// opens nothing), a volume-only container at a volume superblock met before any container, and
// offers every other plausible block to each container it knows. Each range ends with a flush of
// every container; EndSearch makes the final flushes and hands the tree to the builder.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "engine/APFS/APFSContainer.h"
#include "engine/APFS/APFSDelegate.h"
#include "engine/APFS/APFSLayout.h"
#include "engine/Common/ICompleteFileSystemSearchController.h"

class CStorageDeviceWithCache;
class IDirecotryTreeBuilder;
class IProgress;

class APFSDeepScan : public ICompleteFileSystemSearchController, public APFSDelegate {
public:
    static constexpr u32 kGroupBlocks = 16;
    // The work buffer holds one group of blocks read from the device.
    static constexpr size_t kWorkBufferSize = size_t{kGroupBlocks} * apfs::kBlockSize;
    static constexpr u32 kFileSystemType = 9;

    APFSDeepScan();
    ~APFSDeepScan() override;
    APFSDeepScan(const APFSDeepScan&) = delete;
    APFSDeepScan& operator=(const APFSDeepScan&) = delete;

    void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override { m_builder = builder; }
    // One record per container in order of start sector: partition index = position, file-system type
    // 9, cluster 0 and start at the container's start, one sector per cluster. At most `capacity`
    // records; 0 when capacity is below 1 or nothing was found; the count alone for a null array.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) override;
    void SetDevice(IStorageDevice* device) override;
    void SetBlockSize(int) override {}
    int PreparetoSearch() override { return 1; }
    // With a non-zero argument and at least one container: final flushes, then the builder's
    // SetPartitonDevice(null, device) and FlashBuild(37). Nothing else reaches the builder.
    int EndSearch(int build) override;
    int AnalyzeBlock(i64 startSector, i64 sectorCount) override;
    void SetIProgressSink(IProgress* progress) override { m_progress = progress; }

    bool ContinueScan() override;
    int PublishNode(APFSFileNode* node) override;
    int ReadBlocks(APFSContainer* container, u64 firstBlock, i32 byteCount, u8* buffer) override;

    // The containers found so far, by the sector under which each was entered.
    const std::map<u64, std::unique_ptr<APFSContainer>>& Containers() const { return m_containers; }
    // The container with this index, or null.
    APFSContainer* Container(int index) const;
    // The record GetSearchedPartitionInfo gives for the container at this position.
    CSearchedPartitionInfo PartitionOf(int position) const;

    // How many groups were read (of them, taken in place from the read-ahead cache's current block)
    // and the blocks examined so far (a benchmark and test aid).
    u64 GroupsRead() const { return m_groupsRead; }
    u64 GroupsInPlace() const { return m_groupsInPlace; }
    u64 BlocksExamined() const { return m_blocksExamined; }

private:
    // The existing blocks of the group at `block` (at most 16, none past the device's end; their
    // number in `blocks`): in place when the cache's current block holds them all, otherwise read
    // into the work buffer, whose rest is zeroed. Null (and 0 blocks) on failure.
    const u8* ReadGroup(u64 block, u64& blocks);
    // A block whose header is plausible: the superblock rules, then offered to the containers.
    // False when the continue test failed.
    bool Examine(u64 block, const u8* bytes);
    // Whether the sector lies inside a container other than container 0.
    bool InsideLaterContainer(u64 sector) const;
    bool TakeContainerSuperblock(u64 sector, const u8* bytes);
    bool TakeVolumeSuperblock(u64 sector, const u8* bytes);
    APFSContainer* Open(u64 key, int index, u64 startSector);
    u64 DeviceSectors() const;

    IDirecotryTreeBuilder* m_builder = nullptr;
    IStorageDevice* m_device = nullptr;
    CStorageDeviceWithCache* m_cache = nullptr;  // m_device when it is the read-ahead cache
    IProgress* m_progress = nullptr;
    std::map<u64, std::unique_ptr<APFSContainer>> m_containers;
    std::vector<APFSContainer*> m_inOrder;  // the same containers, in the map's order
    i32 m_sectorSize = 512;
    std::vector<u8> m_buffer;
    u64 m_groupsRead = 0;
    u64 m_groupsInPlace = 0;
    u64 m_blocksExamined = 0;
};

ICompleteFileSystemSearchController* CreateAPFSDeepSearcher();
