// Reading found files: resident streams, the file reader over fragmented, resident and sparse files,
// and a deleted empty file given its size and runs back by a log built here from the log-page layout.
#include <gtest/gtest.h>

#include <cstring>

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
    CFileReaderEx reader;
    if (!reader.Open(device, node, 0, int(spc))) return "<not opened>";
    std::string out;
    std::vector<u8> chunk(5000);
    for (i64 at = 0; at < node->GetFileSize();) {
        int done = 0;
        if (!reader.Read(at, chunk.data(), int(chunk.size()), done) || done <= 0) return "<read failed>";
        out.append(reinterpret_cast<char*>(chunk.data()), size_t(done));
        at += done;
    }
    return out;
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
// A log written from the layout: 4096-byte record pages ("RCRD", update sequence at 40 with 9
// entries, last LSN at 8, last end LSN at 32, records from 64), each record a 48-byte header (LSN at
// 0, client length at 24) and client data (undo offset at 56 and length at 58 counted from 48, record
// offset at 64, attribute offset at 66, cluster index at 68, target VCN at 72).

void Put16(std::vector<u8>& b, size_t at, u16 v) { ByteWriter(b.data(), b.size()).Le16(at, v); }
void Put32(std::vector<u8>& b, size_t at, u32 v) { ByteWriter(b.data(), b.size()).Le32(at, v); }
void Put64(std::vector<u8>& b, size_t at, u64 v) { ByteWriter(b.data(), b.size()).Le64(at, v); }

std::vector<u8> LogRecord(u64 lsn, const std::vector<u8>& data, i64 record, u16 recordOffset, u16 attributeOffset,
                          u32 spc) {
    std::vector<u8> r(88 + data.size(), 0);
    Put64(r, 0, lsn);
    Put32(r, 24, u32(r.size() - 48));
    Put16(r, 56, 40);
    Put16(r, 58, u16(data.size()));
    Put16(r, 64, recordOffset);
    Put16(r, 66, attributeOffset);
    Put16(r, 68, spc < 3 ? 0 : u16((record % 4) * 2));
    Put64(r, 72, u64(spc < 3 ? record : record / 4));
    std::memcpy(r.data() + 88, data.data(), data.size());
    return r;
}

struct Placed {
    size_t at;
    std::vector<u8> bytes;  // cut at the page end
};

std::vector<u8> LogPage(const std::vector<Placed>& records, u64 lastLsn, u64 lastEndLsn) {
    std::vector<u8> p(4096, 0);
    std::memcpy(p.data(), "RCRD", 4);
    Put16(p, 4, 40);
    Put16(p, 6, 9);
    Put64(p, 8, lastLsn);
    Put64(p, 32, lastEndLsn);
    for (const Placed& r : records) std::memcpy(p.data() + r.at, r.bytes.data(), std::min(r.bytes.size(), 4096 - r.at));
    Put16(p, 40, 3);
    for (size_t k = 0; k < 8; ++k) {
        std::memcpy(p.data() + 42 + 2 * k, p.data() + 512 * k + 510, 2);
        Put16(p, 512 * k + 510, 3);
    }
    return p;
}

TEST(NtfsLogRebuild, ADeletedEmptyFileGetsItsSizeAndRunsFromTheLog) {
    auto device = testsupport::MemoryDevice::FromFile(ntfstest::Image("ntfs512"));
    std::vector<u8>& bytes = device->Bytes();
    const u32 spc = 4, cluster = 2048;
    const i64 mft = 8 * i64(cluster);  // LCN of $MFT in this image (boot sector byte 48)
    ASSERT_EQ(ByteReader(bytes.data(), 512).Le64(48), 8u);
    auto record = [&](i64 n) { return std::vector<u8>(bytes.begin() + mft + n * 1024, bytes.begin() + mft + (n + 1) * 1024); };
    auto runsOf = [&](i64 n) {
        std::vector<u8> r = record(n);
        CNTFSDataRunList runs;
        CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(r.data(), 1024, runs, 0, nullptr);
        return runs;
    };
    const auto sums = ntfstest::IcatSums("ntfs512");
    const i64 empty = sums.at("Deleted Empty.txt").inode;
    const i64 readme = runsOf(sums.at("readme.txt").inode).GetLCN(0);
    std::vector<u8> target = record(empty);
    CNTFSFileRecord::UnfixupFileRecord(target.data(), 1024);
    const u16 data = u16(CNTFSFileRecord::GetAttributeOffset(target.data(), 1024, 0x80, 0));

    // The undo data turns the empty resident $DATA into a non-resident one of 2 clusters at readme's.
    std::vector<u8> attribute(80, 0);
    attribute[8] = 1;                                     // non-resident
    Put16(attribute, 10, 64);                             // name offset
    Put64(attribute, 24, 1);                              // last VCN
    Put16(attribute, 32, 64);                             // mapping pairs
    Put64(attribute, 40, 2 * cluster);
    Put64(attribute, 48, 2 * cluster);
    Put64(attribute, 56, 2 * cluster);
    const u8 pairs[] = {0x21, 0x02, u8(readme), u8(readme >> 8), 0x00};
    std::memcpy(attribute.data() + 64, pairs, sizeof pairs);
    const std::vector<u8> first(attribute.begin() + 8, attribute.begin() + 40);
    const std::vector<u8> second(attribute.begin() + 40, attribute.end());
    const std::vector<u8> r1 = LogRecord(10, first, empty, data, 8, spc);
    const std::vector<u8> r2 = LogRecord(11, second, empty, data, 40, spc);
    // A whole FILE record written by the log: a twin of "Deleted Report.txt".
    std::vector<u8> twin(88 + 1024, 0);
    Put64(twin, 0, 12);
    Put32(twin, 24, u32(twin.size() - 48));
    const std::vector<u8> report = record(sums.at("Deleted Report.txt").inode);
    std::memcpy(twin.data() + 88, report.data(), 1024);

    const CNTFSDataRunList logRuns = runsOf(2);
    const i64 log = logRuns.GetLCN(0) * cluster;
    const i64 pages = logRuns.GetTotalClusters() * cluster / 4096;
    // Records follow one another on a page; fillers (undo data aimed at no record) bring r1 to the end
    // of the last page, whence it carries into page 4, and r2 to the end of page 4, whence it carries
    // into page 5, after the twin.
    auto filler = [&](u64 lsn, size_t total) { return LogRecord(lsn, std::vector<u8>(total - 88, 0), -4, 0, 0, spc); };
    const size_t tail = 4096 - 64;
    std::vector<u8> page4tail(r1.begin() + 64, r1.end());
    auto place = [&](i64 page, const std::vector<u8>& p) { std::memcpy(bytes.data() + log + page * 4096, p.data(), 4096); };
    place(pages - 1, LogPage({{64, filler(9, tail - 64)}, {tail, r1}}, 10, 9));
    const size_t afterCarry = 64 + ((page4tail.size() + 7) & ~size_t(7));
    const size_t afterTwin = afterCarry + ((twin.size() + 7) & ~size_t(7));
    const size_t r2at = 4096 - 48;
    place(4, LogPage({{64, page4tail}, {afterCarry, twin}, {afterTwin, filler(13, r2at - afterTwin)}, {r2at, r2}}, 11, 10));
    place(5, LogPage({{64, std::vector<u8>(r2.begin() + 48, r2.end())}}, 11, 11));

    // The walk joins both continued records and finds the twin.
    CFindFileFromLogFile analysis;
    const CNTFSDataRunList mftRuns = runsOf(0);
    ASSERT_TRUE(analysis.Init(device.get(), &mftRuns, u8(spc)));
    EXPECT_TRUE(analysis.IsFound());
    EXPECT_EQ(analysis.GetLogPageCount(), u64(pages));
    analysis.Analyzer();
    // r1 joined, the twin, a filler, r2 joined (page 4 and 5), and the last page's filler.
    ASSERT_EQ(analysis.GetLogRecords().size(), 5u);
    EXPECT_EQ(analysis.GetLogRecords()[0].length, r1.size());
    EXPECT_EQ(analysis.GetLogRecords()[3].length, r2.size());
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
