// The hostile table (tests/fixtures/ntfs/hostile.tsv): each case damages a copy of a fixture; the quick
// search and every record parser run over it without a crash, a hang or a sanitizer report, and the
// cases with a known answer give it.
#include <gtest/gtest.h>

#include <cstring>

#include "NtfsTestSupport.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSIndexRecord.h"
#include "engine/NTFSLib/NTFSLayout.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "support/MemoryDevice.h"

namespace {

// Every FILE, INDX and RCRD structure of the image through the readers, on copies.
void ParseEveryStructure(testsupport::MemoryDevice& device) {
    const std::vector<u8>& bytes = device.Bytes();
    for (size_t at = 0; at + 4096 <= bytes.size(); at += 512) {
        std::vector<u8> copy(bytes.begin() + at, bytes.begin() + at + 4096);
        if (std::memcmp(copy.data(), "FILE", 4) == 0) {
            CNTFSFileRecord record(copy.data(), 1024, 1);
            for (u32 type : {0x10u, 0x20u, 0x30u, 0x80u, 0x90u, 0xA0u}) {
                const ByteReader a = record.FindAttibute(type, 0);
                if (type == 0x30) CNTFSFileRecordFileNameAttribute::GetFileName(a);
                if (type == 0x90) CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(a);
            }
            GetExtendFileRecordInfoList(copy.data(), 1024, 0, 4, device);
            u8 spc = 0;
            CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(copy.data(), spc, 512);
        } else if (std::memcmp(copy.data(), "INDX", 4) == 0) {
            CIndexRecord::IsValid(copy.data(), 4096);
            CIndexRecord::GetParentFileReference(copy.data(), 4096);
        } else if (std::memcmp(copy.data(), "RCRD", 4) == 0) {
            CRCRDRecord::Unfixup(copy.data(), 4096);
        }
    }
}

TEST(NtfsHostile, EveryCaseEndsWithoutHarm) {
    testsupport::TempDir dir;
    size_t cases = 0;
    for (const std::string& name : ntfstest::HostileCases()) {
        SCOPED_TRACE(name);
        const auto image = ntfstest::PatchedImage(name, dir.path());
        ntfstest::QuickScan scan(image, 512);
        const u64 code = scan.Run();
        const auto listed = scan.ByPath();
        if (name.rfind("boot-record-size", 0) == 0) {
            EXPECT_EQ(code, ntfsquick::kNotNTFS);
        } else if (name == "ntfs512-mft-and-mirror-damaged") {
            EXPECT_EQ(code, ntfsquick::kNoMFTRecord);
        } else {
            EXPECT_EQ(code, 0u);
            EXPECT_TRUE(listed.count("Docs/Nested/gone away.txt"));
        }
        if (name == "ntfs512-mft-record-damaged" || name == "mft-run-past-volume") {
            EXPECT_TRUE(listed.count("Deleted Report.txt"));
        }
        if (name == "name-past-attribute" || name == "attribute-header-at-1008" || name == "data-pairs-overflow") {
            EXPECT_FALSE(listed.count("Deleted Report.txt"));
        }
        if (name == "log-oversized-undo" || name == "log-record-at-page-end") {
            ASSERT_TRUE(listed.count("Deleted Empty.txt"));
            EXPECT_EQ(listed.at("Deleted Empty.txt").node->GetFileSize(), 0);
        }
        auto device = testsupport::MemoryDevice::FromFile(image);
        ParseEveryStructure(*device);
        ++cases;
    }
    EXPECT_GE(cases, 14u);
}

// The damaged index blocks are refused, and the walk over them ends.
TEST(NtfsHostile, DamagedIndexBlocksAreRefused) {
    testsupport::TempDir dir;
    for (const char* name : {"index-entry-length-0", "index-first-entry-past-block"}) {
        SCOPED_TRACE(name);
        auto device = testsupport::MemoryDevice::FromFile(ntfstest::PatchedImage(name, dir.path()));
        auto clean = testsupport::MemoryDevice::FromFile(ntfstest::Image("ntfs512"));
        size_t blocks = 0;
        for (size_t at = 0; at + 4096 <= device->Bytes().size(); at += 4096) {
            if (std::memcmp(clean->Bytes().data() + at, "INDX", 4) != 0) continue;
            const bool damaged = std::memcmp(clean->Bytes().data() + at, device->Bytes().data() + at, 4096) != 0;
            EXPECT_TRUE(CIndexRecord::IsValid(clean->Bytes().data() + at, 4096));
            EXPECT_EQ(CIndexRecord::IsValid(device->Bytes().data() + at, 4096), !damaged);
            blocks += damaged;
        }
        EXPECT_EQ(blocks, 1u);
    }
}

}  // namespace
