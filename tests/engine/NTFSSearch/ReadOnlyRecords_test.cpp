// The record readers only read the bytes they are given: FILE records and index blocks (whose update
// sequence must be undone before their attributes and entries mean anything) are read from a mapping
// that refuses every write, and from a block that other threads read at the same time, as the deep
// search reads the blocks of the read-ahead cache. A write would end the first with a fault and show in
// the second as a race (ThreadSanitizer) or as a block that changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "NtfsTestSupport.h"
#include "engine/NTFSLib/NTFSDBR.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSFindings.h"
#include "engine/NTFSLib/NTFSIndexRecord.h"
#include "engine/NTFSSearch/NTFSSearchController.h"
#include "support/MemoryDevice.h"

namespace {

constexpr size_t kRecord = 1024;
constexpr size_t kIndex = 4096;

// A block of the 512-byte fixture: its first records of the master file table (each protected by its
// update sequence), then an index block of one of its folders below the root.
std::vector<u8> RecordsAndIndexBlock() {
    auto device = testsupport::MemoryDevice::FromFile(ntfstest::Image("ntfs512"));
    const std::vector<u8>& bytes = device->Bytes();
    CNTFSDBR dbr;
    EXPECT_TRUE(dbr.InitFromBuffer(bytes.data()));
    const size_t mft = size_t(dbr.GetMFTStartCluster()) * dbr.GetSectorsperCluster() * dbr.GetBytesPerSector();
    std::vector<u8> block(bytes.begin() + i64(mft), bytes.begin() + i64(mft + 16 * kRecord));
    for (size_t at = 0; at + kIndex <= bytes.size(); at += 512) {
        if (std::memcmp(bytes.data() + at, "INDX", 4) != 0) continue;
        std::vector<u8> index(bytes.begin() + i64(at), bytes.begin() + i64(at + kIndex));
        if (CIndexRecord::GetParentFileReference(index.data(), kIndex) <= ntfsdeep::kRootRecord) continue;
        block.insert(block.end(), index.begin(), index.end());
        return block;
    }
    ADD_FAILURE() << "no index block in the fixture";
    return block;
}

// What the readers tell of the block: per record its validity, folder mark and first name's offset,
// the parent of the index block.
struct Reading {
    std::vector<int> records;
    i64 indexParent = -2;
    bool operator==(const Reading&) const = default;
};

Reading Read(const u8* block, size_t size) {
    Reading out;
    const size_t records = (size - kIndex) / kRecord;
    for (size_t n = 0; n < records; ++n) {
        const u8* at = block + n * kRecord;
        const CNTFSFileRecord record(at, int(kRecord), 0);
        const bool valid = CNTFSFileRecord::IsValid(at, int(kRecord));
        EXPECT_EQ(valid, record.IsValid()) << "record " << n;
        out.records.push_back(!record.IsValid() ? -1 : int(record.IsFolder()) * 100000 + int(record.GetAttributeOffset(0x30, 0)));
        CFolderIndexAllocationInfo folder;
        folder.InitFromBuffer(record, i64(n), 512);
        CMFTInfo table;
        table.InitFromBuffer(record, i64(n), 512);
    }
    const u8* index = block + records * kRecord;
    if (CIndexRecord::IsValid(index, kIndex)) out.indexParent = CIndexRecord::GetParentFileReference(index, kIndex);
    return out;
}

TEST(NtfsReadOnlyRecords, RecordsAndIndexBlocksAreReadFromAMappingThatRefusesWrites) {
    const std::vector<u8> block = RecordsAndIndexBlock();
    ASSERT_EQ(block.size(), 16 * kRecord + kIndex);
    const Reading expected = Read(block.data(), block.size());
    ASSERT_GT(std::count_if(expected.records.begin(), expected.records.end(), [](int r) { return r >= 0; }), 10);
    ASSERT_GT(expected.indexParent, ntfsdeep::kRootRecord);

    testsupport::TempDir dir;
    const auto path = dir / "block";
    testsupport::WriteFile(path, std::string(block.begin(), block.end()));
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    void* mapped = ::mmap(nullptr, block.size(), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    ASSERT_NE(mapped, MAP_FAILED);
    const auto* bytes = static_cast<const u8*>(mapped);
    EXPECT_EQ(Read(bytes, block.size()), expected);

    // The deep search's sector analyses over the same mapping, as over a block of the cache.
    CNTFSSearchController controller;
    testsupport::MemoryDevice device(block, 512, STORAGE_DEVICE_DISK);
    controller.SetDevice(&device);
    controller.SetBlockSize(int(block.size() / 512));
    ASSERT_EQ(controller.PreparetoSearch(), 1);
    const i64 sectors = i64(block.size() / 512);
    for (i64 s = 0; s < sectors; ++s)
        controller.AnalyzeSector(bytes + s * 512, s, std::min<i64>(sectors - s, ntfsdeep::kSectorsAvailable) * 512);
    EXPECT_GT(controller.GetValidFileRecordSectors().RunCount(), 0u);
    EXPECT_EQ(controller.GetIndexRecords().size(), 1u);
    ::munmap(mapped, block.size());
}

TEST(NtfsReadOnlyRecords, ABlockReadByAnotherThreadAtTheSameTime) {
    const std::vector<u8> block = RecordsAndIndexBlock();
    const Reading expected = Read(block.data(), block.size());
    std::atomic<bool> go{false};
    std::atomic<int> differing{0};
    auto reader = [&] {
        while (!go.load()) std::this_thread::yield();
        for (int round = 0; round < 200; ++round) {
            if (!(Read(block.data(), block.size()) == expected)) ++differing;
        }
    };
    std::thread other(reader);
    std::thread another(reader);
    go = true;
    other.join();
    another.join();
    EXPECT_EQ(differing.load(), 0);
    EXPECT_EQ(Read(block.data(), block.size()), expected);
}

}  // namespace
