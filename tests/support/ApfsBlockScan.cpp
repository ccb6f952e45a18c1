#include "support/ApfsBlockScan.h"

#include <algorithm>

#include "engine/StorageDevice/IStorageDevice.h"

namespace testsupport {

ApfsBlockScan::ApfsBlockScan(IStorageDevice* device, IDirecotryTreeBuilder* builder)
    : m_device(device), m_builder(builder) {
    m_scan.SetDevice(device);
    m_scan.SetDirecotryTreeBuilder(this);
    m_scan.SetIProgressSink(this);
    m_scan.SetBlockSize(0);
    m_scan.PreparetoSearch();
}

ApfsBlockScan::~ApfsBlockScan() = default;

int ApfsBlockScan::AddNode(IFileNode* node, _tagSearcherType type) {
    ++published;
    const int taken = m_builder ? m_builder->AddNode(node, type) : 0;
    if (taken) ++accepted;
    return taken;
}

int ApfsBlockScan::AddSearcherInfo(_tagSearcherType type, i64 rootFolderID) {
    ++searcherInfoCalls;
    return m_builder ? m_builder->AddSearcherInfo(type, rootFolderID) : 1;
}

void ApfsBlockScan::FlashBuild(_tagSearcherType type) {
    if (m_builder) m_builder->FlashBuild(type);
}

void ApfsBlockScan::SetPartitonDevice(CSearchedPartitionInfo* record, IStorageDevice* device) {
    if (m_builder) m_builder->SetPartitonDevice(record, device);
}

void ApfsBlockScan::Run(u64 rangeSectors) {
    const u64 total = static_cast<u64>(std::max<i64>(m_device->GetTotalSectors(), 0));
    for (u64 first = 0; first < total && Continued(); first += rangeSectors)
        AnalyzeRange(first, std::min(rangeSectors, total - first));
}

void ApfsBlockScan::AnalyzeRange(u64 firstSector, u64 sectorCount) {
    m_scan.AnalyzeBlock(static_cast<i64>(firstSector), static_cast<i64>(sectorCount));
}

void ApfsBlockScan::Finish() {
    m_scan.EndSearch(1);
}

}  // namespace testsupport
