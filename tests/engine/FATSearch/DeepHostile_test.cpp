// The deep FAT search over hostile copies of the fixture disk (tests/fixtures/fat-disk/hostile.tsv): every
// case ends without a crash, a hang or a sanitizer report, with a bounded tree, and still finds both
// volumes through what the damage left (boot sectors with absurd counts are passed over: the volumes are
// then known from their sub-folders alone).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/FATSearch/FatDiskSupport.h"
#include "support/TempDir.h"

TEST(FatDeepHostile, EveryCaseEndsWithBothVolumesAndABoundedTree) {
    // Case -> the scores of the FAT16 and the FAT32 volume.
    const std::map<std::string, std::pair<i64, i64>> scores = {
        {"absurd-counts", {20, 20}},  {"cyclic-chains", {100, 100}},         {"data-past-end", {20, 95}},
        {"dot-cluster-0", {100, 100}}, {"dot-cluster-1", {100, 100}}, {"folder-contains-itself", {100, 100}},
    };
    const i64 dataStarts[2] = {fatdisk::Volumes()[0].start + fatdisk::FsstatOf("p1").clusterArea,
                               fatdisk::Volumes()[1].start + fatdisk::FsstatOf("p2").clusterArea};
    testsupport::TempDir dir;
    const auto cases = fatdisk::HostileCases();
    EXPECT_EQ(cases.size(), scores.size());
    for (const auto& name : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(scores.count(name));
        fatdisk::DeepScan scan(fatdisk::Hostile(name, dir.path()));
        scan.Run();
        const auto found = scan.Partitions();
        ASSERT_EQ(found.size(), 2u);
        for (size_t k = 0; k < 2; ++k) {
            EXPECT_EQ(found[k].m_cluster0Sector, dataStarts[k]);
            EXPECT_EQ(found[k].m_score, k == 0 ? scores.at(name).first : scores.at(name).second);
        }
        // The undamaged disk lists 224 nodes; no loop may multiply them or nest folders without end.
        EXPECT_LE(scan.builder.m_nodes.size(), 300u);
        for (const auto& [partition, listed] : fatdisk::ByPartition(scan.builder)) {
            for (const auto& [key, l] : listed) EXPECT_LE(std::count(l.path.begin(), l.path.end(), '/'), 4) << l.path;
        }
    }
}
