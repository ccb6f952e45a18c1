#include "engine/NTFSLib/CompressFileReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/Utility/DataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "support/CompressedNtfsFixture.h"
#include "support/MemoryDevice.h"
#include "support/RecordingProgress.h"
#include "support/Sha256.h"
#include "support/SimpleFileNode.h"
#include "support/TempDir.h"

namespace {

using testsupport::MemoryDevice;
using testsupport::SimpleFileNode;

IDataRunList* Runs(const std::vector<DataRun>& runs) {
    IDataRunList* list = CreateDataRunList();
    for (const DataRun& r : runs) list->AddDataRun(&r);
    return list;
}

struct Piece {
    i64 lcn;
    i32 length;
    i32 type;
    bool operator==(const Piece&) const = default;
};

std::vector<Piece> Regroup(const std::vector<DataRun>& runs, u64 maxClusters = 1u << 20) {
    IDataRunList* list = Runs(runs);
    std::vector<Piece> out;
    for (const tagCompressDataRun& p : ReGroupCompressDataRunList(list, maxClusters)) out.push_back({p.s64LCN, p.length, p.eType});
    list->Release();
    return out;
}

TEST(ReGroupCompressDataRunList, CutsRunsIntoUnits) {
    struct Case {
        const char* what;
        std::vector<DataRun> runs;
        std::vector<Piece> expected;
    };
    const Case cases[] = {
        {"20 clusters: a unit of 16 and a last piece of 4", {{100, 20}}, {{100, 16, 0}, {116, 4, 0}}},
        {"10 + 6 sparse: one compressed unit", {{100, 10}, {-1, 6}}, {{100, 10, 1}, {-1, 6, 1}}},
        {"32 sparse: two sparse units", {{-1, 32}}, {{-1, 16, 2}, {-1, 16, 2}}},
        {"a unit over two runs and a hole",
         {{100, 3}, {200, 2}, {-1, 11}},
         {{100, 3, 1}, {200, 2, 1}, {-1, 11, 1}}},
        {"raw unit then compressed unit", {{50, 16}, {80, 4}, {-1, 12}}, {{50, 16, 0}, {80, 4, 1}, {-1, 12, 1}}},
        {"last incomplete sparse piece", {{100, 16}, {-1, 5}}, {{100, 16, 0}, {-1, 5, 1}}},
    };
    for (const Case& c : cases) EXPECT_EQ(Regroup(c.runs), c.expected) << c.what;
}

TEST(ReGroupCompressDataRunList, AbsurdRunLengthsStopAtTheFileSize) {
    std::vector<Piece> pieces = Regroup({{-1, UINT64_MAX}}, 40);
    EXPECT_EQ(pieces.size(), 3u);  // units up to cluster 48 cover the 40 wanted
    pieces = Regroup({{7, UINT64_MAX - 3}}, 16);
    EXPECT_EQ(pieces, (std::vector<Piece>{{7, 16, 0}}));
}

class CompressedNode : public SimpleFileNode {
public:
    CompressedNode(i64 size) : SimpleFileNode(1, 0, "c", false, size) { m_compressed = 1; }
};

class CompressedFixtureTest : public ::testing::Test {
protected:
    void SetUp() override {
        fx = testsupport::LoadCompressedNtfsFixture(dir.path());
        device = MemoryDevice::FromFile(fx.image);
        partition.m_sectorsPerCluster = fx.clusterSize / 512;
        partition.m_cluster0Sector = 0;
    }

    std::unique_ptr<CompressedNode> Node(const testsupport::FixtureFile& f) {
        auto node = std::make_unique<CompressedNode>(f.size);
        std::vector<DataRun> runs;
        for (const testsupport::FixtureRun& r : f.runs) runs.push_back(DataRun{r.lcn, u64(r.length)});
        node->SetDataRunList(Runs(runs));
        return node;
    }

    testsupport::TempDir dir;
    testsupport::CompressedNtfsFixture fx;
    std::unique_ptr<MemoryDevice> device;
    CSearchedPartitionInfo partition{512};
};

// Files that ntfs-3g compressed (compressed units, a raw unit, sparse units, stored chunks, a short
// last unit) come back byte for byte, in file mode and in memory mode, twice on one reader.
TEST_F(CompressedFixtureTest, FileAndMemoryModeGiveTheOriginal) {
    for (const testsupport::FixtureFile& f : fx.files) {
        auto node = Node(f);
        CCompressFileReader reader;
        ASSERT_TRUE(reader.Open(device.get(), node.get(), &partition)) << f.name;
        EXPECT_TRUE(reader.IsCompressFile());
        for (int round = 0; round < 2; ++round) {
            testsupport::RecordingProgress progress;
            const std::string out = (dir / (f.name + ".out")).string();
            bool resident = true;
            ASSERT_TRUE(reader.Recovery(out.c_str(), &progress, resident)) << f.name;
            EXPECT_FALSE(resident);
            EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(out)), f.sha256) << f.name << " file mode " << round;
            ASSERT_GT(progress.RecordCount(), 0u);
            EXPECT_EQ(progress.Last().current, u64(f.size));
            EXPECT_EQ(progress.Last().total, u64(f.size));

            std::vector<char> memory(size_t(f.size) + 100, '\x7F');
            ASSERT_TRUE(reader.Recovery(memory.data(), int(f.size), nullptr));
            ASSERT_EQ(reader.GetWrittenCount(), u32(f.size)) << f.name << " memory mode " << round;
            EXPECT_EQ(testsupport::Sha256Hex(memory.data(), size_t(f.size)), f.sha256) << f.name;
            EXPECT_EQ(memory[size_t(f.size)], '\x7F');
        }
    }
}

// Reads at any offset decompress only what they need and equal the same bytes of the whole file.
TEST_F(CompressedFixtureTest, ReadDataAtOffsets) {
    const testsupport::FixtureFile& f = fx.File("f");
    auto node = Node(f);
    CCompressFileReader reader;
    ASSERT_TRUE(reader.Open(device.get(), node.get(), &partition));
    std::string whole(size_t(f.size), '\0');
    ASSERT_TRUE(reader.Recovery(whole.data(), int(f.size), nullptr));
    ASSERT_EQ(testsupport::Sha256Hex(whole), f.sha256);
    struct Case {
        i64 offset;
        u32 length;
    };
    for (Case c : {Case{0, 10}, Case{65530, 20}, Case{65536, 65536}, Case{131072 + 5, 70000}, Case{f.size - 3, 100},
                   Case{200001, 1}, Case{f.size, 10}}) {
        std::vector<char> buffer(c.length + 8, '#');
        const u32 expected = u32(std::max<i64>(0, std::min<i64>(c.length, f.size - c.offset)));
        ASSERT_EQ(reader.ReadData(c.offset, buffer.data(), c.length, nullptr), expected) << c.offset;
        EXPECT_EQ(std::string(buffer.data(), expected), whole.substr(size_t(std::min<i64>(c.offset, f.size)), expected));
        EXPECT_EQ(buffer[expected], '#');
    }
    // A clone reads the same.
    IFileReader* copy = reader.Clone();
    std::vector<char> a(1000);
    ASSERT_EQ(copy->ReadData(70000, a.data(), 1000, nullptr), 1000u);
    EXPECT_EQ(std::string(a.data(), 1000), whole.substr(70000, 1000));
    copy->Release();
}

// A small buffer in memory mode takes only its capacity.
TEST_F(CompressedFixtureTest, MemoryModeStopsAtTheCapacity) {
    const testsupport::FixtureFile& f = fx.File("h");
    auto node = Node(f);
    CCompressFileReader reader;
    ASSERT_TRUE(reader.Open(device.get(), node.get(), &partition));
    std::vector<char> small(1000, '#');
    ASSERT_TRUE(reader.Recovery(small.data(), 999, nullptr));
    EXPECT_EQ(reader.GetWrittenCount(), 999u);
    EXPECT_EQ(small[999], '#');
    EXPECT_FALSE(reader.Recovery(static_cast<char*>(nullptr), 10, nullptr));
}

TEST_F(CompressedFixtureTest, UnwritableDestinationFails) {
    const testsupport::FixtureFile& f = fx.File("g");
    auto node = Node(f);
    CCompressFileReader reader;
    ASSERT_TRUE(reader.Open(device.get(), node.get(), &partition));
    bool resident = false;
    EXPECT_FALSE(reader.Recovery((dir / "missing/folder/g").c_str(), nullptr, resident));
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_FALSE(reader.Recovery("/dev/full", nullptr, resident)) << "a full disk is a failure";
    }
}

// A link planted where the file goes is not followed: what it points to keeps its bytes.
TEST_F(CompressedFixtureTest, APlantedLinkIsNotFollowed) {
    const testsupport::FixtureFile& f = fx.File("g");
    auto node = Node(f);
    CCompressFileReader reader;
    ASSERT_TRUE(reader.Open(device.get(), node.get(), &partition));
    testsupport::WriteFile(dir / "victim", "keep me");
    std::filesystem::create_symlink(dir / "victim", dir / "g.out");
    bool resident = false;
    EXPECT_FALSE(reader.Recovery((dir / "g.out").c_str(), nullptr, resident));
    EXPECT_EQ(testsupport::ReadFile(dir / "victim"), "keep me");
}

// Units over garbage bytes: whatever the chunks say, nothing is read or written out of bounds
// (checked under ASan) and each unit still stands for its whole size.
TEST(CompressFileReader, GarbageUnitsStayInBounds) {
    std::mt19937 rng(11);
    std::vector<u8> bytes(64 * 4096);
    for (u8& b : bytes) b = u8(rng());
    // Chunk headers that claim the most and end exactly at the unit buffer's end.
    for (size_t at = 0; at + 1 < bytes.size(); at += 4096) {
        bytes[at] = 0xFF;
        bytes[at + 1] = 0xBF;
    }
    MemoryDevice device(bytes);
    CSearchedPartitionInfo partition(512);
    partition.m_sectorsPerCluster = 8;
    CompressedNode node(3 * 65536 + 100);
    node.SetDataRunList(Runs({{1, 16}, {-1, 0}, {17, 15}, {-1, 1}, {32, 5}, {-1, 11}, {48, 16}}));
    CCompressFileReader reader;
    ASSERT_TRUE(reader.Open(&device, &node, &partition));
    std::vector<char> out(size_t(node.GetFileSize()) + 8, '#');
    ASSERT_TRUE(reader.Recovery(out.data(), int(node.GetFileSize()), nullptr));
    EXPECT_EQ(reader.GetWrittenCount(), u32(node.GetFileSize()));
    EXPECT_EQ(out[size_t(node.GetFileSize())], '#');
}

}  // namespace
