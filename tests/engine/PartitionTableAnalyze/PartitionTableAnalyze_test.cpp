#include "engine/PartitionTableAnalyze/PartitionTableAnalyze.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <cctype>
#include <cstdio>
#include <map>
#include <sstream>

#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/PartitionTableAnalyze/PartitionTableCodes.h"
#include "engine/StorageDevice/DeviceTestSupport.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "support/Fixtures.h"
#include "support/LoopDevice.h"
#include "support/PutBytes.h"
#include "support/TempDir.h"

using testsupport::AppendTo;

namespace {

using testsupport::FixturePath;

struct Expected {
    i32 number;
    i64 start;
    i64 count;
    std::string typeGuid;    // GUID text as tools print it, or empty
    std::string uniqueGuid;  // GUID text, or empty
    std::string typeName;    // Apple type text, or empty
};

std::string ReadText(const std::string& name) {
    std::ifstream in(FixturePath("partitions/" + name));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// GUID text of on-disk bytes: the first three fields little-endian, the rest as stored.
std::string GuidText(const u8* g) {
    char text[40];
    std::snprintf(text, sizeof(text), "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                  g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text;
}

// A disk device over an image file, with a disk record of the given sector size.
std::unique_ptr<IStorageDevice> OpenDisk(const std::filesystem::path& path, i64 sectorSize = 512, u32 kind = 0) {
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(path.c_str()));
    if (!disk->Open(nullptr)) return nullptr;
    disk->SetPrivateData(
        devtest::DiskData(sectorSize, static_cast<i64>(std::filesystem::file_size(path)) / sectorSize, kind));
    return disk;
}

u64 Analyze(IStorageDevice* disk, PartitionEntryList& out) {
    std::unique_ptr<IPartitionTableAnalyze> analyzer(CreatePartitionTableAnalyze());
    return analyzer->AnalyzePartitionTable(disk, out);
}

void ExpectListing(const PartitionEntryList& got, const std::vector<Expected>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].number, expected[i].number);
        EXPECT_EQ(got[i].startSector, expected[i].start);
        EXPECT_EQ(got[i].sectorCount, expected[i].count);
        if (!expected[i].typeGuid.empty()) {
            EXPECT_EQ(GuidText(got[i].typeGuid), expected[i].typeGuid);
        }
        if (!expected[i].uniqueGuid.empty()) {
            EXPECT_EQ(GuidText(got[i].uniqueGuid), expected[i].uniqueGuid);
        }
        EXPECT_EQ(std::string(got[i].typeName, strnlen(got[i].typeName, 32)), expected[i].typeName);
    }
}

// "mbr.img5 : start=  43008, size=  8192, type=83" -> number 5 ...; the extended container is not listed.
std::vector<Expected> FromSfdisk(const std::string& text) {
    std::vector<Expected> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(" : start=");
        if (at == std::string::npos) continue;
        size_t digits = at;
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(line[digits - 1]))) --digits;
        long long start = 0, size = 0;
        char type[64] = {}, uuid[64] = {};
        if (std::sscanf(line.c_str() + at, " : start= %lld, size= %lld, type=%63[0-9A-Fa-f-], uuid=%63[0-9A-F-]", &start,
                        &size, type, uuid) < 3)
            continue;
        const std::string typeText = type;
        if (typeText == "5" || typeText == "f") continue;  // the extended container is not listed
        const bool gpt = typeText.size() == 36;
        out.push_back({std::stoi(line.substr(digits, at - digits)), start, size, gpt ? typeText : "",
                       gpt ? std::string(uuid) : "", ""});
    }
    return out;
}

// The value after "key" on the first line of text (from pos) that has it.
std::string ValueAfter(const std::string& text, size_t pos, const std::string& key) {
    const size_t at = text.find(key, pos);
    if (at == std::string::npos) return "";
    const size_t begin = at + key.size();
    return text.substr(begin, text.find_first_of(" \n", begin) - begin);
}

class PartitionTables : public ::testing::Test {
protected:
    std::filesystem::path Unpack(const std::string& name) {
        return testsupport::UnpackXz(FixturePath("partitions/" + name + ".img.xz"), dir.path());
    }
    testsupport::TempDir dir;
};

TEST_F(PartitionTables, MbrWithExtendedChainMatchesSfdisk) {
    auto disk = OpenDisk(Unpack("mbr"));
    PartitionEntryList out;
    ASSERT_EQ(Analyze(disk.get(), out), 0u);
    const std::vector<Expected> expected = FromSfdisk(ReadText("mbr.sfdisk.txt"));
    ASSERT_EQ(expected.size(), 5u);  // 1, 2, then logical 5, 6, 7
    ExpectListing(out, expected);
}

// GPT: the 16,384-sector partition is not listed, the 16,385-sector one is; GUIDs as sgdisk prints them.
TEST_F(PartitionTables, GptMatchesSgdisk) {
    auto disk = OpenDisk(Unpack("gpt"));
    PartitionEntryList out;
    ASSERT_EQ(Analyze(disk.get(), out), 0u);
    const std::string text = ReadText("gpt.sgdisk.txt");
    std::vector<Expected> expected;
    for (size_t at = text.find("--- partition "); at != std::string::npos; at = text.find("--- partition ", at + 1)) {
        const int number = std::stoi(ValueAfter(text, at, "--- partition "));
        const i64 first = std::stoll(ValueAfter(text, at, "First sector: "));
        const i64 count = std::stoll(ValueAfter(text, at, "Last sector: ")) - first + 1;
        if (count <= 16384) continue;  // 8 MiB or less is not listed
        expected.push_back({number, first, count, ValueAfter(text, at, "Partition GUID code: "),
                            ValueAfter(text, at, "Partition unique GUID: "), ""});
    }
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(expected[0].count, 16385);
    ExpectListing(out, expected);
}

// Apple map: every map entry with its type text, as The Sleuth Kit's mmls lists them.
TEST_F(PartitionTables, ApmMatchesMmlsAndParted) {
    auto disk = OpenDisk(Unpack("apm"));
    PartitionEntryList out;
    ASSERT_EQ(Analyze(disk.get(), out), 0u);
    const std::string text = ReadText("apm.mmls.txt");
    std::vector<Expected> expected;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        int row = 0, slot = 0;
        long long start = 0, end = 0, length = 0;
        char description[64] = {};
        if (std::sscanf(line.c_str(), "%d: %d %lld %lld %lld %63s", &row, &slot, &start, &end, &length, description) == 6)
            expected.push_back({slot + 1, start, length, "", "", description});
    }
    std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.number < b.number; });
    ASSERT_EQ(expected.size(), 5u);
    ExpectListing(out, expected);
    // parted lists the same data partitions.
    const std::string parted = ReadText("apm.parted.txt");
    EXPECT_NE(parted.find("2:2048s:18431s:16384s"), std::string::npos);
    EXPECT_EQ(out[1].startSector, 2048);
    EXPECT_EQ(out[1].sectorCount, 16384);
}

// The 4K GPT read through a disk whose sectors are 4096 bytes: through an image record without root,
// and through a real 4K loop device as root.
TEST_F(PartitionTables, FourKGptMatchesSfdisk) {
    const std::filesystem::path image = Unpack("gpt4k");
    std::vector<Expected> expected;
    for (const Expected& e : FromSfdisk(ReadText("gpt4k.sfdisk.txt")))
        if (e.count > 16384) expected.push_back(e);  // listed only above 16,384 sectors, whatever their size
    ASSERT_EQ(expected.size(), 1u);
    auto disk = OpenDisk(image, 4096);
    ASSERT_EQ(disk->GetSectorSize(), 4096u);
    PartitionEntryList out;
    ASSERT_EQ(Analyze(disk.get(), out), 0u);
    ExpectListing(out, expected);

    if (!testsupport::IsRoot() || !std::filesystem::exists("/dev/loop-control"))
        GTEST_SKIP() << "the loop-device half needs root and loop devices";
    testsupport::LoopDevice loop(image, 4096, false);
    if (loop.empty()) GTEST_SKIP() << "losetup --sector-size 4096 is not available";
    {
        std::unique_ptr<IStorageDevice> real(CreateDiskDevice(loop.Device().c_str()));
        ASSERT_TRUE(real->Open(nullptr));
        EXPECT_EQ(real->GetSectorSize(), 4096u);
        real->SetPrivateData(devtest::DiskData(real->GetSectorSize(), real->GetTotalSectors()));
        PartitionEntryList fromLoop;
        EXPECT_EQ(Analyze(real.get(), fromLoop), 0u);
        ExpectListing(fromLoop, expected);
    }
}

TEST_F(PartitionTables, RefusesWhatIsNotAPhysicalWholeDisk) {
    const std::filesystem::path image = Unpack("mbr");
    PartitionEntryList out;
    EXPECT_EQ(Analyze(nullptr, out), partition_codes::kNoDevice);
    std::unique_ptr<IStorageDevice> volume(CreateVolumeDevice(image.c_str()));
    EXPECT_EQ(Analyze(volume.get(), out), partition_codes::kNotWholeDisk);
    std::unique_ptr<IStorageDevice> bare(CreateDiskDevice(image.c_str()));
    ASSERT_TRUE(bare->Open(nullptr));
    EXPECT_EQ(Analyze(bare.get(), out), partition_codes::kNoPrivateData);
    bare->SetPrivateData(CreateDiskDeviceData(nullptr));
    EXPECT_EQ(Analyze(bare.get(), out), partition_codes::kNoDiskRecord);
    auto notPhysical = OpenDisk(image, 512, 1);
    EXPECT_EQ(Analyze(notPhysical.get(), out), partition_codes::kNotPhysicalDisk);
    EXPECT_TRUE(out.empty());
}

// Byte patches of the real images: refusals and hostile tables never crash and list nothing bogus.
struct Patch {
    const char* name;
    const char* image;
    std::vector<std::pair<u64, std::vector<u8>>> bytes;  // file offset -> bytes
    u64 code;
    std::vector<std::pair<i64, i64>> listed;  // start, count of every listed partition
};

std::vector<u8> Le32(u32 x) {
    std::vector<u8> v;
    AppendTo(v).Le32(x);
    return v;
}
std::vector<u8> Le64(u64 x) {
    std::vector<u8> v;
    AppendTo(v).Le64(x);
    return v;
}
std::vector<u8> Be32(u32 x) { return {u8(x >> 24), u8(x >> 16), u8(x >> 8), u8(x)}; }

TEST_F(PartitionTables, PatchedTables) {
    using namespace partition_codes;
    const u64 gptEntry = 2 * 512;           // entry 1 of the GUID array
    const u64 ebr1 = 40960 * 512ull;        // first extended boot record of mbr.img
    const u64 ebr3 = 69632 * 512ull;        // third one
    const std::vector<std::pair<i64, i64>> mbrAll = {
        {2048, 16384}, {18432, 20480}, {43008, 8192}, {53248, 16384}, {71680, 59392}};
    const std::vector<Patch> patches = {
        {"zero sector 0: no scheme", "mbr", {{0, std::vector<u8>(512, 0)}}, 0, {}},
        {"boot flag 0x01 in an empty slot", "mbr", {{446 + 48, {0x01}}}, kMbrBadBootFlag, {}},
        {"no signature: no scheme", "mbr", {{510, {0, 0}}}, 0, {}},
        {"type 0x42: dynamic MBR disk", "mbr", {{450, {0x42}}}, kMbrDynamicDisk, {}},
        {"type 0x42 in the last slot", "mbr", {{498, {0x42}}}, kMbrDynamicDisk, {}},
        {"type 0x85 is an ordinary partition", "mbr", {{482, {0x85}}}, 0,
         {{2048, 16384}, {18432, 20480}, {40960, 90112}}},
        {"primary starting past the end", "mbr", {{446 + 8, Le32(200000)}}, 0,
         {{18432, 20480}, {43008, 8192}, {53248, 16384}, {71680, 59392}}},
        {"primary running past the end is cut", "mbr", {{446 + 16 + 12, Le32(500000)}}, 0,
         {{2048, 16384}, {18432, 131072 - 18432}, {43008, 8192}, {53248, 16384}, {71680, 59392}}},
        {"EBR pointing back to the first EBR", "mbr", {{ebr3 + 446 + 16, {0, 0, 0, 0, 0x05, 0, 0, 0}},
                                                       {ebr3 + 446 + 16 + 8, Le32(0)}, {ebr3 + 446 + 16 + 12, Le32(100)}},
         0, mbrAll},
        {"EBR pointing to itself", "mbr", {{ebr1 + 446 + 16 + 8, Le32(0)}}, 0, {{2048, 16384}, {18432, 20480}, {43008, 8192}}},
        {"EBR link past the end of the disk", "mbr", {{ebr1 + 446 + 16 + 8, Le32(0x7FFFFFF0)}}, 0,
         {{2048, 16384}, {18432, 20480}, {43008, 8192}}},
        {"EBR with two links", "mbr", {{ebr1 + 446 + 32, {0, 0, 0, 0, 0x05, 0, 0, 0}}, {ebr1 + 446 + 40, Le32(9)}},
         kEbrTwoLinks, {{2048, 16384}, {18432, 20480}, {43008, 8192}}},
        {"EBR without signature", "mbr", {{ebr3 + 510, {0, 0}}}, kEbrNoSignature,
         {{2048, 16384}, {18432, 20480}, {43008, 8192}, {53248, 16384}}},
        {"EBR with a bad boot flag", "mbr", {{ebr1 + 446, {0x7F}}}, kEbrBadBootFlag, {{2048, 16384}, {18432, 20480}}},
        {"GPT dynamic", "gpt", {{466, {0x42}}}, kGptDynamicDisk, {}},
        {"GPT damaged header still read", "gpt", {{512, std::vector<u8>(512, 0)}}, 0,
         {{18432, 16385}, {36864, 90112}}},
        {"GPT first past the end", "gpt", {{gptEntry + 128 + 32, Le64(1ull << 40)}}, 0, {{36864, 90112}}},
        {"GPT first above 2^63", "gpt", {{gptEntry + 128 + 32, Le64(0x8000000000000010ull)}}, 0, {{36864, 90112}}},
        {"GPT first > last", "gpt", {{gptEntry + 256 + 40, Le64(36000)}}, 0, {{18432, 16385}}},
        {"GPT last past the end is cut", "gpt", {{gptEntry + 256 + 40, Le64(~0ull)}}, 0,
         {{18432, 16385}, {36864, 131072 - 36864}}},
        {"APM map count 32", "apm", {{512 + 4, Be32(32)}}, kApmTooManyEntries, {}},
        {"APM zero block size", "apm", {{2, {0, 0}}}, 0,
         {{1, 63}, {2048, 16384}, {18432, 32768}, {64, 1984}, {51200, 14336}}},
        {"APM no ER", "apm", {{0, {0, 0}}}, 0, {}},
        {"APM first entry unsigned", "apm", {{512, {'X', 'X'}}}, kApmNoMapEntry, {}},
        {"APM entry past the end", "apm", {{2 * 512 + 8, Be32(0xFFFFFFF0)}}, 0,
         {{1, 63}, {18432, 32768}, {64, 1984}, {51200, 14336}}},
        {"APM entry running past the end is cut", "apm", {{2 * 512 + 12, Be32(0xFFFFFFF0)}}, 0,
         {{1, 63}, {2048, 65536 - 2048}, {18432, 32768}, {64, 1984}, {51200, 14336}}},
    };
    std::map<std::string, std::filesystem::path> pristine;
    for (const Patch& p : patches) {
        SCOPED_TRACE(p.name);
        if (!pristine.count(p.image)) pristine[p.image] = Unpack(p.image);
        const std::filesystem::path copy = dir / (std::string("patched-") + p.image + ".img");
        std::filesystem::copy_file(pristine[p.image], copy, std::filesystem::copy_options::overwrite_existing);
        int fd = ::open(copy.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        for (const auto& [offset, bytes] : p.bytes)
            ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
                      static_cast<ssize_t>(bytes.size()));
        ::close(fd);
        auto disk = OpenDisk(copy);
        PartitionEntryList out;
        EXPECT_EQ(Analyze(disk.get(), out), p.code);
        std::vector<std::pair<i64, i64>> listed;
        for (const PartitionEntry& e : out) {
            listed.emplace_back(e.startSector, e.sectorCount);
            EXPECT_GE(e.startSector, 0);
            EXPECT_GT(e.sectorCount, 0);
            EXPECT_LE(e.startSector + e.sectorCount, disk->GetTotalSectors());
        }
        EXPECT_EQ(listed, p.listed);
    }
}

TEST_F(PartitionTables, MbrReaderRefusesASectorWithoutSignature) {
    const std::filesystem::path image = Unpack("gpt");  // a GUID disk's protective MBR has a signature
    auto disk = OpenDisk(image);
    CPartitionTableAnalyze analyzer;
    PartitionEntryList out;
    EXPECT_EQ(analyzer.AnalyzeMBRPartitionTable(nullptr, out), partition_codes::kMbrNoDevice);
    EXPECT_EQ(analyzer.AnalyzeGPTPartitionTable(nullptr, out), partition_codes::kGptNoDevice);
    EXPECT_EQ(analyzer.AnalyzeAPMPartitionTable(nullptr, out), partition_codes::kApmNoDevice);
    EXPECT_EQ(analyzer.AnalyzeAPMPartitionTable(disk.get(), out), partition_codes::kApmNoDriverDescriptor);
    const std::filesystem::path blank = dir / "blank.img";
    { std::ofstream(blank.string()) << std::string(4096, '\0'); }
    auto empty = OpenDisk(blank);
    EXPECT_EQ(analyzer.AnalyzeMBRPartitionTable(empty.get(), out), partition_codes::kMbrNoSignature);
    enumDiskPartitionScheme scheme = DISK_PARTITION_SCHEME_MBR;
    EXPECT_EQ(analyzer.GetDiskType(empty.get(), scheme), 0u);
    EXPECT_EQ(scheme, DISK_PARTITION_SCHEME_NONE);
    EXPECT_TRUE(out.empty());
}

// Logical partitions are numbered from 5 in chain order.
TEST_F(PartitionTables, LogicalNumbersFollowTheChain) {
    auto disk = OpenDisk(Unpack("mbr"));
    PartitionEntryList out;
    ASSERT_EQ(Analyze(disk.get(), out), 0u);
    std::vector<int> numbers;
    for (const PartitionEntry& e : out) numbers.push_back(e.number);
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 5, 6, 7}));
}

}  // namespace
