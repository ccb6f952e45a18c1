// One deep exFAT scan of a device as a text the tests compare between two ways of running it.
#pragma once

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/EXFatSearch/ExFatCompleteSearch.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "support/CapturingTreeBuilder.h"
#include "support/DeepBlockFeeder.h"
#include "support/Fixtures.h"

namespace exfattest {

// The bytes of a committed exFAT image (xz-packed).
inline std::vector<u8> FixtureBytes(const std::string& name) {
    const auto path = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/" + name));
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything one deep scan of the device leaves: the evidence counts, every set the pre-analysis handed
// over (with its files), then the records and the listing of the end.
inline std::string ScanTrace(IStorageDevice& device, bool quickRefusal, i64 block, bool joinIndex = true) {
    CExFatCompleteSearch search;
    testsupport::CapturingTreeBuilder tree;
    testsupport::DeepBlockFeeder feeder(search, device, &tree);
    feeder.SetBlockSectors(block);
    feeder.Prepare();
    search.PreAnalyzer().SetQuickRefusal(quickRefusal);
    search.PreAnalyzer().SetJoinIndex(joinIndex);
    feeder.FeedAll();
    std::ostringstream out;
    out << "boot " << search.BootSectors() << " fat " << search.FatSectors() << " upcase " << search.UpCaseSectors()
        << " waiting " << search.PreAnalyzer().WaitingNotEnded() << "/" << search.PreAnalyzer().WaitingAbridged()
        << " processed " << search.Builder().ProcessedCount() << "\n";
    for (const CFileSet* set : search.Builder().PushedSets()) {
        out << "set " << set->GetFirstSector() << "+" << set->GetSectorCounts() << " flags " << set->GetFlags()
            << " clusters " << set->GetMinClusterSize() << ".." << set->GetMaxClusterSize() << " links "
            << (set->GetLast() != nullptr) << (set->GetNext() != nullptr) << "\n";
        for (const auto* files : {&set->InUseFiles(), &set->DeletedFiles()}) {
            for (const CExFatSetFile& f : *files) {
                out << "  " << set->Name(f) << " " << f.firstCluster << " " << f.dataLength << " " << int{f.inUse} << " "
                    << f.sector << "\n";
            }
        }
    }
    feeder.End(1);
    const int count = search.GetSearchedPartitionInfo(nullptr, 0);
    std::vector<CSearchedPartitionInfo*> records(static_cast<size_t>(count), nullptr);
    if (count > 0) search.GetSearchedPartitionInfo(records.data(), count);
    for (CSearchedPartitionInfo* r : records) {
        out << "volume " << r->m_partitionStartSector << " " << r->m_cluster0Sector << " " << r->m_sectorsPerCluster
            << "\n";
        delete r;
    }
    for (const auto& e : tree.List(SEARCHER_EXFAT)) {
        out << "node " << e.path << " " << e.size << " " << e.deleted << " " << e.node->GetCurrentNodeID() << "\n";
    }
    return out.str();
}

}  // namespace exfattest
