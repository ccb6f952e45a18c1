#include "engine/DataRecovery/FileReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/Utility/DataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "support/MemoryDevice.h"
#include "support/SimpleFileNode.h"

namespace {

using testsupport::MemoryDevice;
using testsupport::SimpleFileNode;

constexpr u32 kSector = 512;
constexpr u32 kSpc = 2;  // 1 KiB clusters
constexpr i64 kCluster0 = 4;
constexpr u32 kCluster = kSector * kSpc;

// Device byte i holds a value that tells its position apart.
std::vector<u8> PatternBytes(size_t n) {
    std::vector<u8> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = u8((i * 131 + i / 251) & 0xFF);
    return bytes;
}

IDataRunList* Runs(std::initializer_list<DataRun> runs) {
    IDataRunList* list = CreateDataRunList();
    // Appended one by one without merging neighbours, so run boundaries stay where the test put them.
    for (const DataRun& r : runs) list->AddDataRun(&r);
    return list;
}

// What the file holds: each run's clusters from the device, zeros for sparse runs.
std::string ModelContent(const std::vector<u8>& device, std::initializer_list<DataRun> runs, i64 size) {
    std::string out;
    for (const DataRun& r : runs) {
        for (u64 c = 0; c < r.length; ++c) {
            if (r.start < 0) {
                out.append(kCluster, '\0');
                continue;
            }
            const size_t at = size_t((kCluster0 + (r.start + i64(c)) * kSpc) * kSector);
            out.append(reinterpret_cast<const char*>(device.data() + at), kCluster);
        }
    }
    if (i64(out.size()) > size) out.resize(size_t(size));
    return out;
}

class FileReaderTest : public ::testing::Test {
protected:
    FileReaderTest() : device(PatternBytes(200 * kSector), kSector), partition(kSector) {
        partition.m_sectorsPerCluster = kSpc;
        partition.m_cluster0Sector = kCluster0;
    }

    SimpleFileNode& NewNode(i64 size, IDataRunList* runs) {
        node = std::make_unique<SimpleFileNode>(1, 0, "f", false, size);
        node->SetDataRunList(runs);
        return *node;
    }

    MemoryDevice device;
    CSearchedPartitionInfo partition;
    std::unique_ptr<SimpleFileNode> node;
};

// Fragmented runs with a sparse run in the middle: every read, at any offset and length, gives
// exactly the model's bytes and never writes past the length.
TEST_F(FileReaderTest, ReadsExactBytesAtAnyAlignment) {
    const auto runs = {DataRun{10, 2}, DataRun{-1, 1}, DataRun{3, 3}, DataRun{40, 1}};
    const i64 size = 6 * kCluster + 300;  // ends inside the last run
    const std::string model = ModelContent(device.Bytes(), runs, size);
    NewNode(size, Runs(runs));
    CFileReader reader;
    ASSERT_TRUE(reader.Open(&device, node.get(), &partition));
    struct Case {
        i64 offset;
        int length;
    };
    const Case cases[] = {
        {0, 1},    {0, int(kCluster)},   {1, 10},         {511, 3},       {kCluster - 1, 2},     {2 * kCluster - 7, 20},
        {2 * kCluster + 5, 1500},       {3 * kCluster, int(kCluster)},   {100, int(size) - 100}, {0, int(size)},
        {size - 1, 1}, {size - 10, 100} /* cut at the size */,           {777, 4099},
    };
    for (const Case& c : cases) {
        const size_t expected = size_t(std::min<i64>(c.length, size - c.offset));
        std::vector<char> buffer(size_t(c.length) + 64, '\x5A');
        u32 got = reader.ReadData(c.offset, buffer.data(), u32(c.length), nullptr);
        ASSERT_EQ(got, expected) << c.offset << "+" << c.length;
        EXPECT_EQ(std::string(buffer.data(), got), model.substr(size_t(c.offset), expected)) << c.offset << "+" << c.length;
        for (size_t i = got; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '\x5A') << "written past the bytes read";
    }
}

// With room past the buffer, a read ending inside a sector takes that sector in place: the same exact
// bytes from one device read instead of two, and nothing written past the room. Too little room
// (less than the rest of the sector) keeps the bounced read.
TEST_F(FileReaderTest, SpareRoomTakesTheLastSectorInPlace) {
    const auto runs = {DataRun{10, 2}, DataRun{-1, 1}, DataRun{3, 3}};
    const i64 size = 5 * kCluster + 300;  // ends 300 bytes into a sector
    const std::string model = ModelContent(device.Bytes(), runs, size);
    NewNode(size, Runs(runs));
    struct Case {
        i64 offset;
        int length;
        size_t spare;
        int deviceReads;
    };
    const Case cases[] = {
        {0, int(size), kSector, 2},             // one read per run on the device; the last takes its tail
        {3 * kCluster, int(size - 3 * kCluster), kSector - 300, 1},
        {3 * kCluster, 700, kSector, 1},         // ends 188 bytes into a sector of the run
        {3 * kCluster, int(size - 3 * kCluster), kSector - 301, 2},  // short of room: bounced
        {3 * kCluster + 100, 1000, kSector, 2},  // a partial first sector is always bounced
        {3 * kCluster, 1024, 0, 1},
    };
    for (const Case& c : cases) {
        CFileReader reader;
        ASSERT_TRUE(reader.Open(&device, node.get(), &partition));
        reader.SetSpareBytes(c.spare);
        const size_t expected = size_t(std::min<i64>(c.length, size - c.offset));
        std::vector<char> buffer(size_t(c.length) + c.spare + 64, '\x5A');
        const int before = device.ReadCount();
        const u32 got = reader.ReadData(c.offset, buffer.data(), u32(c.length), nullptr);
        ASSERT_EQ(got, expected) << c.offset << "+" << c.length;
        EXPECT_EQ(std::string(buffer.data(), got), model.substr(size_t(c.offset), expected)) << c.offset << "+" << c.length;
        EXPECT_EQ(device.ReadCount() - before, c.deviceReads) << c.offset << "+" << c.length;
        for (size_t i = got + c.spare; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '\x5A') << "written past the room";
        // A clone has no room: it never writes past the bytes read.
        std::unique_ptr<IFileReader, void (*)(IFileReader*)> clone(reader.Clone(), [](IFileReader* r) { r->Release(); });
        std::fill(buffer.begin(), buffer.end(), '\x5A');
        ASSERT_EQ(clone->ReadData(c.offset, buffer.data(), u32(c.length), nullptr), expected);
        for (size_t i = got; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '\x5A') << "a clone wrote past the bytes read";
    }
}

TEST_F(FileReaderTest, SparseRunsReadAsZerosWithoutTouchingTheDevice) {
    NewNode(3 * kCluster, Runs({DataRun{-1, 3}}));
    CFileReader reader;
    ASSERT_TRUE(reader.Open(&device, node.get(), &partition));
    const int before = device.ReadCount();
    std::vector<char> buffer(3 * kCluster, 'x');
    ASSERT_EQ(reader.ReadData(0, buffer.data(), u32(buffer.size()), nullptr), buffer.size());
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(buffer.size(), '\0'));
    EXPECT_EQ(device.ReadCount(), before);
}

TEST_F(FileReaderTest, EdgesOfTheFile) {
    NewNode(5 * kCluster, Runs({DataRun{10, 2}}));  // runs cover less than the size
    CFileReader reader;
    ASSERT_TRUE(reader.Open(&device, node.get(), &partition));
    std::vector<char> buffer(8 * kCluster);
    EXPECT_EQ(reader.ReadData(5 * kCluster, buffer.data(), 10, nullptr), 0u) << "offset at the size";
    EXPECT_EQ(reader.ReadData(-1, buffer.data(), 10, nullptr), 0u);
    EXPECT_EQ(reader.ReadData(0, buffer.data(), u32(buffer.size()), nullptr), 2 * kCluster) << "short runs";
    EXPECT_EQ(reader.GetDataSize(), 5 * kCluster);
}

TEST_F(FileReaderTest, RefusedDeviceReadFailsWithError) {
    NewNode(4 * kCluster, Runs({DataRun{10, 4}}));
    device.SetFailHook([](i64 first, i64 count) { return first <= kCluster0 + 22 && kCluster0 + 22 < first + count; });
    CFileReader reader;
    ASSERT_TRUE(reader.Open(&device, node.get(), &partition));
    std::vector<char> buffer(4 * kCluster);
    int error = 0;
    EXPECT_EQ(reader.ReadData(0, buffer.data(), u32(buffer.size()), &error), 0u);
    EXPECT_EQ(error, -1);
    error = 0;
    EXPECT_EQ(reader.ReadData(0, buffer.data(), kCluster, &error), kCluster) << "the readable first cluster";
    EXPECT_EQ(error, 0);
}

TEST_F(FileReaderTest, OpenRefusals) {
    CFileReader reader;
    NewNode(100, nullptr);
    EXPECT_FALSE(reader.Open(&device, node.get(), &partition)) << "no run list";
    NewNode(0, Runs({DataRun{10, 1}}));
    EXPECT_FALSE(reader.Open(&device, node.get(), &partition)) << "size 0";
    NewNode(100, Runs({DataRun{10, 1}}));
    EXPECT_FALSE(reader.Open(nullptr, node.get(), &partition));
    EXPECT_FALSE(reader.Open(&device, nullptr, &partition));
    EXPECT_FALSE(reader.Open(&device, node.get(), nullptr));
    CSearchedPartitionInfo noClusters(kSector);
    EXPECT_FALSE(reader.Open(&device, node.get(), &noClusters)) << "zero cluster size";
    EXPECT_TRUE(reader.Open(&device, node.get(), &partition));
}

// Run values from a corrupt disk: absurd starts and lengths fail or read zeros, never overflow.
TEST_F(FileReaderTest, HostileRunsAreSafe) {
    struct Case {
        DataRun run;
        u32 expected;
    };
    const Case cases[] = {
        {DataRun{INT64_MAX, 4}, 0},                    // start x sectors per cluster overflows
        {DataRun{INT64_MAX / 2, 4}, 0},                // past the device
        {DataRun{10, UINT64_MAX}, 2 * kCluster},       // length overflows the byte count: read to the size
        {DataRun{-5, UINT64_MAX}, 2 * kCluster},       // sparse, endless
        {DataRun{1000000, 1}, 0},                      // past the device
    };
    for (const Case& c : cases) {
        NewNode(2 * kCluster, Runs({c.run}));
        CFileReader reader;
        ASSERT_TRUE(reader.Open(&device, node.get(), &partition));
        std::vector<char> buffer(2 * kCluster);
        EXPECT_EQ(reader.ReadData(0, buffer.data(), u32(buffer.size()), nullptr), c.expected) << c.run.start;
    }
}

// The resident stream sits in a temporary buffer: an offset inside it and a short caller buffer
// give exactly the asked bytes.
class ResidentReader : public CFileReader {
public:
    std::string stream;

protected:
    int FetchResidentStream(u8* buffer, u32 capacity, i64* length) override {
        const size_t n = std::min<size_t>(capacity, stream.size());
        std::memcpy(buffer, stream.data(), n);
        *length = i64(stream.size());
        return 1;
    }
};

class ResidentRuns : public CDataRunList {
public:
    ResidentRuns() { m_resident = 1; }
};

TEST_F(FileReaderTest, ResidentDataFromAnOffsetIntoAShortBuffer) {
    auto* runs = new ResidentRuns;
    DataRun record{100, 1};
    runs->AddDataRun(&record);
    NewNode(700, runs);
    ResidentReader reader;
    for (int i = 0; i < 700; ++i) reader.stream.push_back(char('a' + i % 26));
    ASSERT_TRUE(reader.Open(&device, node.get(), &partition));
    std::vector<char> buffer(16, '#');
    EXPECT_EQ(reader.ReadData(300, buffer.data(), 10, nullptr), 10u);
    EXPECT_EQ(std::string(buffer.data(), 10), reader.stream.substr(300, 10));
    EXPECT_EQ(buffer[10], '#');
    EXPECT_EQ(reader.ReadData(695, buffer.data(), 16, nullptr), 5u);
    EXPECT_EQ(std::string(buffer.data(), 5), reader.stream.substr(695));
    EXPECT_EQ(reader.ReadData(700, buffer.data(), 16, nullptr), 0u);
    // Without the NTFS search the product's fetch finds nothing.
    CFileReader plain;
    ASSERT_TRUE(plain.Open(&device, node.get(), &partition));
    EXPECT_EQ(plain.ReadData(0, buffer.data(), 16, nullptr), 0u);
}

TEST_F(FileReaderTest, CloneReadsTheSameFile) {
    NewNode(3 * kCluster, Runs({DataRun{7, 3}}));
    CFileReader reader;
    ASSERT_TRUE(reader.Open(&device, node.get(), &partition));
    IFileReader* copy = reader.Clone();
    ASSERT_NE(copy, nullptr);
    std::vector<char> a(3 * kCluster), b(3 * kCluster);
    EXPECT_EQ(reader.ReadData(0, a.data(), u32(a.size()), nullptr), a.size());
    EXPECT_EQ(copy->ReadData(0, b.data(), u32(b.size()), nullptr), b.size());
    EXPECT_EQ(a, b);
    copy->Release();
}

}  // namespace
