// Reading found files: resident streams, the file reader over fragmented, resident and sparse files,
// and a deleted empty file given its size and runs back by a log built here from the log-page layout.
#include <gtest/gtest.h>

#include <cstring>

#include "NtfsLogWriter.h"
#include "NtfsTestSupport.h"
#include "engine/NTFSLib/FileReaderEx.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "engine/NTFSLib/ResidentDataStream.h"
#include "support/MemoryDevice.h"
#include "support/Sha256.h"

namespace {

using ntfstest::QuickScan;

CNTFSFileNode* Node(const QuickScan& scan, const std::string& path) {
    const auto listed = scan.ByPath();
    auto it = listed.find(path);
    return it == listed.end() ? nullptr : dynamic_cast<CNTFSFileNode*>(it->second.node);
}

std::string ReadAll(IStorageDevice* device, CNTFSFileNode* node, u32 spc) {
    return ntfstest::ReadAll(device, node, 0, spc);
}

TEST(NtfsReaders, ResidentStreams) {
    for (const auto& [image, size] : {std::pair<const char*, i64>{"ntfs512", 400}, {"ntfs4k", 700}}) {
        SCOPED_TRACE(image);
        QuickScan scan(ntfstest::Image(image), std::string(image) == "ntfs4k" ? 4096 : 512);
        ASSERT_EQ(scan.Run(), 0u);
        CNTFSFileNode* node = Node(scan, "tiny note.txt");
        ASSERT_TRUE(node);
        ASSERT_TRUE(node->GetDataRunList()->IsResident());
        std::vector<u8> buffer(4096);
        i64 length = 0;
        EXPECT_TRUE(GetResidentDataRunsStream(*node, *scan.device, &length, buffer.data(), u32(buffer.size())));
        EXPECT_EQ(length, size);
        EXPECT_EQ(testsupport::Sha256Hex(std::string(reinterpret_cast<char*>(buffer.data()), size_t(length))),
                  ntfstest::IcatSums(image).at("tiny note.txt").sha256);
        EXPECT_FALSE(GetResidentDataRunsStream(*node, *scan.device, &length, buffer.data(), u32(size - 1)))
            << "a buffer too small";
        CNTFSFileNode* folder = Node(scan, "Docs");
        ASSERT_TRUE(folder);
        EXPECT_FALSE(GetMultiFileRecord(*folder, *scan.device)) << "no multi-record for a folder";
    }
}

// CFileReaderEx reads fragmented, resident and sparse files as icat does (sparse ranges as zeros).
TEST(NtfsReaders, FileReaderEqualsIcat) {
    for (const auto& image : ntfstest::kImages) {
        SCOPED_TRACE(image.name);
        QuickScan scan(ntfstest::Image(image.name), image.sectorSize);
        ASSERT_EQ(scan.Run(), 0u);
        const auto sums = ntfstest::IcatSums(image.name);
        const u32 spc = image.sectorSize == 512 ? 4 : 1;
        for (const char* path : {"frag.bin", "tiny note.txt", "sparse.bin", "Docs/Nested/Deeper/deep.bin"}) {
            SCOPED_TRACE(path);
            CNTFSFileNode* node = Node(scan, path);
            ASSERT_TRUE(node);
            EXPECT_EQ(testsupport::Sha256Hex(ReadAll(scan.device.get(), node, spc)), sums.at(path).sha256);
            EXPECT_EQ(testsupport::Sha256Hex(ReadAll(scan.device.get(), node, spc)), sums.at(path).sha256)
                << "a second read gives the same bytes";
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// A log written from the layout (NtfsLogWriter.h).

TEST(NtfsLogRebuild, ADeletedEmptyFileGetsItsSizeAndRunsFromTheLog) {
    auto device = testsupport::MemoryDevice::FromFile(ntfstest::Image("ntfs512"));
    std::vector<u8>& bytes = device->Bytes();
    const u32 spc = 4;
    const auto sums = ntfstest::IcatSums("ntfs512");
    const ntfslog::PlantedLog planted =
        ntfslog::PlantEmptyFileRebuild(bytes, 0, sums.at("Deleted Empty.txt").inode, sums.at("readme.txt").inode,
                                       sums.at("Deleted Report.txt").inode);
    const i64 cluster = planted.cluster, readme = planted.readmeLcn, pages = planted.pages;

    // The walk joins both continued records and finds the twin.
    CFindFileFromLogFile analysis;
    const CNTFSDataRunList mftRuns = ntfslog::RunsOf(bytes, 0, 0);
    ASSERT_TRUE(analysis.Init(device.get(), &mftRuns, u8(spc)));
    EXPECT_TRUE(analysis.IsFound());
    EXPECT_EQ(analysis.GetLogPageCount(), u64(pages));
    analysis.Analyzer();
    // r1 joined, the twin, a filler, r2 joined (page 4 and 5), and the last page's filler.
    ASSERT_EQ(analysis.GetLogRecords().size(), 5u);
    EXPECT_EQ(analysis.GetLogRecords()[0].length, planted.firstLength);
    EXPECT_EQ(analysis.GetLogRecords()[3].length, planted.secondLength);
    ASSERT_EQ(analysis.GetFoundFiles().size(), 1u);
    EXPECT_STREQ(analysis.GetFoundFiles()[0].properties->GetFileName(), "Deleted Report.txt");
    EXPECT_EQ(analysis.GetFoundFiles()[0].properties->GetFileSize(), 3000);

    testsupport::TempDir dir;
    const auto patched = dir / "log.img";
    testsupport::WriteFile(patched, std::string(bytes.begin(), bytes.end()));
    QuickScan rebuilt(patched, 512);
    ASSERT_EQ(rebuilt.Run(), 0u);
    auto* searcher = dynamic_cast<CNTFSQuickSearch*>(rebuilt.searcher.get());
    ASSERT_TRUE(searcher);
    CNTFSFileNode* node = Node(rebuilt, "Deleted Empty.txt");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->GetFileSize(), 2 * cluster);
    IDataRunList* runs = node->GetDataRunList();
    ASSERT_TRUE(runs && runs->GetFirst());
    EXPECT_EQ(runs->GetFirst()->start, readme);
    EXPECT_EQ(runs->GetFirst()->length, 2u);
    const std::string copy = ReadAll(rebuilt.device.get(), node, spc);
    EXPECT_EQ(testsupport::Sha256Hex(copy.substr(0, 3000)), sums.at("readme.txt").sha256);
}

}  // namespace
