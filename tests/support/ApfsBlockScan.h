// Runs the APFS deep searcher over a whole device the way the complete recovery controller hands it
// the blocks, without the controller: every range in device order, then EndSearch(1). A stop
// condition and counts of what reached the tree builder are the test's to read.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "engine/APFS/APFSContainer.h"
#include "engine/APFS/APFSDeepScan.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/Common/IProgress.h"
#include "engine/Utility/SearchedPartitionInfo.h"

class IStorageDevice;

namespace testsupport {

class ApfsBlockScan : private IDirecotryTreeBuilder, private IProgress {
public:
    // Neither is owned; the builder may be null (nodes are then refused and stay the containers').
    ApfsBlockScan(IStorageDevice* device, IDirecotryTreeBuilder* builder);
    ~ApfsBlockScan() override;

    // Offers every block of the device, rangeSectors sectors per range.
    void Run(u64 rangeSectors = 8192);
    // One range, as the controller hands it over.
    void AnalyzeRange(u64 firstSector, u64 sectorCount);
    // EndSearch(1): the final flush of every container, then SetPartitonDevice(null, device) and FlashBuild(37).
    void Finish();

    APFSDeepScan& Searcher() { return m_scan; }
    // Containers by start sector.
    const std::map<u64, std::unique_ptr<APFSContainer>>& Containers() const { return m_scan.Containers(); }
    APFSContainer* Container(int index) const { return m_scan.Container(index); }
    // The partition record of container `index` (sectors per cluster 1, cluster 0 at its start).
    CSearchedPartitionInfo PartitionOf(int index) const { return m_scan.PartitionOf(index); }

    // Asked before each block, walk step and flush step; the scan stops when it answers false.
    std::function<bool()> keepGoing;
    int published = 0;
    int accepted = 0;
    int searcherInfoCalls = 0;

private:
    // The searcher's builder: counts, then forwards to the test's builder.
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) override;
    void FlashBuild(_tagSearcherType type) override;
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo* record, IStorageDevice* device) override;
    // The searcher's progress sink: keepGoing.
    int UpdateProgress(_PROGRESS_INFO*) override { return 1; }
    int Continued() override { return !keepGoing || keepGoing() ? 1 : 0; }
    int shouldBuild() override { return 1; }

    IStorageDevice* m_device;
    IDirecotryTreeBuilder* m_builder;
    APFSDeepScan m_scan;
};

}  // namespace testsupport
