// Tables of the edge cases of the NTFS readers: boot sector, mapping pairs and their encoding, file
// records and attributes, index and log pages, and the saved forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/FileArchive/RSData.h"
#include "engine/NTFSLib/NTFSDBR.h"
#include "engine/NTFSLib/NTFSDataRun.h"
#include "engine/NTFSLib/NTFSDataRunLists.h"
#include "engine/NTFSLib/NTFSFileProperties.h"
#include "engine/NTFSLib/NTFSFilePropertiesBuilder.h"
#include "engine/NTFSLib/NTFSFileRecord.h"
#include "engine/NTFSLib/NTFSMultiFileRecord.h"
#include "engine/NTFSLib/NTFSFindings.h"
#include "engine/NTFSLib/NTFSIndexRecord.h"
#include "engine/NTFSLib/NTFSRecordAnalyzer.h"
#include "engine/NTFSLib/SearchedNTFSPartitionInfo.h"
#include "engine/NTFSSearch/NtfsTestSupport.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"
#include "support/MemoryDevice.h"
#include "support/TempDir.h"

namespace {

std::vector<u8> BootSector() {
    std::vector<u8> s(512, 0);
    std::memcpy(s.data() + 3, "NTFS    ", 8);
    s[11] = 0x00;
    s[12] = 0x02;  // 512 bytes per sector
    s[13] = 8;
    s[64] = 0xF6;
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

TEST(NtfsBootSector, FullValidityRules) {
    struct Case {
        size_t offset;
        std::vector<u8> bytes;
        bool valid;
    };
    const Case cases[] = {
        {11, {0x00, 0x00}, false}, {11, {0x00, 0x01}, false}, {11, {0x08, 0x02}, false},  // 0, 256, 520
        {11, {0x00, 0x04}, true},  {11, {0x00, 0x08}, true},  {11, {0x00, 0x10}, true},   // 1024..4096
        {13, {128}, true},         {13, {0}, false},          {13, {3}, false},
        {13, {96}, false},         {13, {129}, false},        {13, {255}, false},
        {13, {0xF4}, true},        {13, {0xF8}, true},        {13, {0xF3}, false},  // 2 MiB, 128 KiB, 4 MiB
        {13, {0xF9}, false},                                                        // 128: its own form
        {21, {0xF8}, true},        {28, {1, 2, 3, 4}, true},  {22, {1}, false},
        {14, {1}, false},          {3, {'N', 'T', 'F', 'X'}, false}, {510, {0x55, 0xAB}, false},
    };
    for (const Case& c : cases) {
        std::vector<u8> s = BootSector();
        std::memcpy(s.data() + c.offset, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(CNTFSDBR::IsFullValidDBR(s.data()), c.valid) << "offset " << c.offset;
    }
    EXPECT_FALSE(CNTFSDBR::IsFullValidDBR(nullptr));
}

// Byte 13 as sectors per cluster: 1..128 as they stand, the exponent form above 128 up to 2 MiB clusters.
TEST(NtfsBootSector, SectorsPerClusterByte) {
    const struct {
        u8 byte;
        u16 bytesPerSector;
        u32 sectors;
    } cases[] = {{1, 512, 1},      {8, 512, 8},       {128, 512, 128},  {0, 512, 0},      {6, 512, 0},
                 {0xF4, 512, 4096}, {0xF7, 512, 512}, {0xF8, 512, 256}, {0xF9, 512, 0},   {0xFF, 512, 0},
                 {0xF4, 4096, 0},   {0xF7, 4096, 512}, {0xF3, 512, 0},  {0x81, 512, 0},   {0xF4, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(CNTFSDBR::DecodeSectorsPerCluster(c.byte, c.bytesPerSector), c.sectors)
            << std::hex << int(c.byte) << " " << std::dec << c.bytesPerSector;
    }
    std::vector<u8> s = BootSector();
    s[13] = 0xF4;
    CNTFSDBR dbr;
    ASSERT_TRUE(dbr.InitFromBuffer(s.data()));
    EXPECT_EQ(dbr.GetSectorsperCluster(), 4096u);
}

TEST(NtfsBootSector, RecordSizeByte64) {
    struct Case {
        u8 byte64;
        u8 spc;
        u32 accepted;  // 0: refused
    };
    const Case cases[] = {{0xF6, 8, 1024}, {0x00, 8, 1024}, {0xF4, 1, 4096}, {0x01, 8, 4096}, {0x01, 1, 512},
                          {0x02, 8, 0},    {0x80, 8, 0},    {0xE0, 8, 0},    {0xE1, 8, 0},    {0x7F, 8, 0}};
    for (const Case& c : cases) {
        std::vector<u8> s = BootSector();
        s[64] = c.byte64;
        s[13] = c.spc;
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.InitFromBuffer(s.data()));
        EXPECT_EQ(dbr.GetFileRecordSizeByByte(), c.accepted) << std::hex << int(c.byte64);
    }
    EXPECT_EQ(CNTFSDBR::RecordSizeRule(0x02, 8, 512), 8192u);
    EXPECT_EQ(CNTFSDBR::RecordSizeRule(0xE1, 8, 512), u64{1} << 31);
}

TEST(NtfsBootSector, VolumeRecognition) {
    for (const auto& image : ntfstest::kImages) {
        auto device = testsupport::MemoryDevice::FromFile(ntfstest::Image(image.name), image.sectorSize);
        std::unique_ptr<IVolumeAnalyze> analyzer(CreateNTFSVolumeAnalyze(device.get(), 0));
        ASSERT_TRUE(analyzer) << image.name;
        EXPECT_EQ(analyzer->GetFileSystemType(), FILE_SYSTEM_NTFS);
        EXPECT_EQ(analyzer->GetTotalSector(), device->GetTotalSectors() - 1);
        char label[8] = "x";
        analyzer->GetLabel(label, sizeof label);
        EXPECT_STREQ(label, "");
        device->FailSector(0);
        EXPECT_FALSE(CreateNTFSVolumeAnalyze(device.get(), 0)) << "a failed read";
    }
    testsupport::MemoryDevice big(8, 8192);
    std::vector<u8> s = BootSector();
    big.Put(0, s.data(), s.size());
    EXPECT_FALSE(CreateNTFSVolumeAnalyze(&big, 0)) << "sectors above 4096 bytes are refused";
    EXPECT_FALSE(CreateNTFSVolumeAnalyze(nullptr, 0));
}

TEST(NtfsDataRuns, DecodingTable) {
    struct Case {
        std::vector<u8> pairs;
        std::vector<CDataRun> runs;  // lcn, vcn, length
    };
    const Case cases[] = {
        {{0x11, 0x18, 0x34, 0x00}, {{0x34, 0, 0x18}}},
        {{0x11, 0x30, 0x60, 0x21, 0x10, 0x00, 0x01, 0x00}, {{0x60, 0, 0x30}, {0x160, 0x30, 0x10}}},
        {{0x11, 0x30, 0x60, 0x11, 0x10, 0xF0, 0x00}, {{0x60, 0, 0x30}, {0x50, 0x30, 0x10}}},
        {{0x31, 0x01, 0x00, 0x00, 0x80, 0x00}, {{-8388608, 0, 1}}},
        {{0x11, 0x04, 0x10, 0x01, 0x05, 0x11, 0x02, 0x01, 0x00}, {{0x10, 0, 4}, {-1, 4, 5}, {0x11, 9, 2}}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(CNTFSDataRunList::IsValid(c.pairs.data(), int(c.pairs.size())));
        CNTFSDataRunList list;
        ASSERT_TRUE(list.InitFromBuffer(c.pairs.data(), int(c.pairs.size())));
        EXPECT_EQ(list.Runs(), c.runs);
    }
    const std::vector<u8> five = {0x15, 1, 0, 0, 0, 0, 1, 0};
    EXPECT_FALSE(CNTFSDataRunList::IsValid(five.data(), int(five.size()))) << "a length of 5 bytes";
    const std::vector<u8> open = {0x11, 0x18, 0x34};
    EXPECT_FALSE(CNTFSDataRunList::IsValid(open.data(), int(open.size()))) << "terminator outside";
    CNTFSDataRunList list;
    list.InitFromBuffer(cases[1].pairs.data(), int(cases[1].pairs.size()));
    EXPECT_EQ(list.GetLCN(0x35), 0x165);
    EXPECT_EQ(list.GetLCN(0x40), -1) << "past the last run";
    EXPECT_EQ(list.GetVCN(0x161), 0x31);
    // Cluster sums in 64 bits: two runs of 2^31 - 1 clusters.
    const std::vector<u8> huge = {0x04, 0xFF, 0xFF, 0xFF, 0x7F, 0x04, 0xFF, 0xFF, 0xFF, 0x7F, 0x00};
    EXPECT_EQ(CNTFSDataRunList::GetTotalClusters(huge.data(), int(huge.size())), 2 * i64(0x7FFFFFFF));
}

TEST(NtfsDataRuns, EncodingAndNeedBytes) {
    EXPECT_EQ(GetNeedBytes(-128), 1);
    EXPECT_EQ(GetNeedBytes(-129), 2);
    EXPECT_EQ(GetNeedBytes(127), 1);
    EXPECT_EQ(GetNeedBytes(128), 2);
    EXPECT_EQ(GetNeedBytes(INT64_MAX), 8);
    EXPECT_EQ(GetNeedBytes(INT64_MIN), 8);
    CNoneResidentNTFSDataRunList runs;
    runs.AddDataRun(DataRun{300, 128});
    EXPECT_EQ(CreateCompressedDataRun(&runs), (std::vector<u8>{0x22, 0x80, 0x00, 0x2C, 0x01, 0x00}));
    runs.AddDataRun(DataRun{-1, 16});
    runs.AddDataRun(DataRun{310, 2});
    // The sparse run has no offset and leaves the previous start: the next offset is 310 - 300.
    EXPECT_EQ(CreateCompressedDataRun(&runs),
              (std::vector<u8>{0x22, 0x80, 0x00, 0x2C, 0x01, 0x01, 0x10, 0x11, 0x02, 0x0A, 0x00}));
    std::unique_ptr<CCompressedDataRunList> packed(CCompressedDataRunList::Compress(&runs));
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->GetCompressedDataRunSize(), 11u);
    IDataRunList* back = packed->Decompress();
    ASSERT_TRUE(back);
    std::vector<DataRun> got;
    for (DataRun* r = back->GetFirst(); r; r = back->GetNext()) got.push_back(*r);
    back->Release();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1].start, -1);
    EXPECT_EQ(got[2].start, 310);
    CResidentNTFSDataRunList resident;
    resident.InitList(12345, 1, 0x98);
    std::unique_ptr<CCompressedDataRunList> packedResident(CCompressedDataRunList::Compress(&resident));
    ASSERT_TRUE(packedResident);
    IDataRunList* r = packedResident->Decompress();
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->IsResident());
    EXPECT_EQ(r->GetOffset(), 0x98);
    EXPECT_EQ(r->GetFirst()->start, 12345);
    r->Release();
}

// A resident value's run encoded straight from its record sector equals the encoding of the resident
// list, for sectors of every width and offsets at and past the 16-bit limit.
TEST(NtfsDataRuns, ResidentEncodingEqualsTheListEncoding) {
    for (const i64 sector : {i64{0}, i64{1}, i64{127}, i64{128}, i64{0x7FFF}, i64{0x8000}, i64{12345678},
                             i64{1} << 40, INT64_MAX, i64{-1}}) {
        for (const u32 offset : {0u, 1u, 0x98u, 0xFFFFu, 0x10000u}) {
            CResidentNTFSDataRunList list;
            list.InitList(sector, 1, offset);
            std::unique_ptr<CCompressedDataRunList> expected(CCompressedDataRunList::Compress(&list));
            std::unique_ptr<CCompressedDataRunList> got(CCompressedDataRunList::CompressResident(sector, offset));
            ASSERT_EQ(got != nullptr, expected != nullptr) << sector << " " << offset;
            if (!got) continue;
            EXPECT_EQ(got->Bytes(), expected->Bytes()) << sector << " " << offset;
            EXPECT_EQ(got->GetDataOffset(), expected->GetDataOffset()) << sector << " " << offset;
            EXPECT_EQ(got->GetCompressedDataRunSize(), expected->GetCompressedDataRunSize()) << sector << " " << offset;
            // Decoded again: the same list as the one decoded from the list's own encoding.
            std::unique_ptr<IDataRunList> decoded(got->Decompress()), reference(expected->Decompress());
            ASSERT_EQ(decoded != nullptr, reference != nullptr) << sector << " " << offset;
            if (!decoded) continue;
            EXPECT_EQ(decoded->GetDataRunListType(), reference->GetDataRunListType()) << sector << " " << offset;
            EXPECT_EQ(decoded->GetOffset(), reference->GetOffset()) << sector << " " << offset;
            std::vector<std::pair<i64, u64>> runs, referenceRuns;
            for (DataRun* r = decoded->GetFirst(); r; r = decoded->GetNext()) runs.emplace_back(r->start, u64(r->length));
            for (DataRun* r = reference->GetFirst(); r; r = reference->GetNext()) referenceRuns.emplace_back(r->start, u64(r->length));
            EXPECT_EQ(runs, referenceRuns) << sector << " " << offset;
        }
    }
}

// Saved forms: written frame by frame, read back; counts from a damaged file allocate nothing.
class NtfsSavedForms : public ::testing::Test {
protected:
    static constexpr tagGUIDSIGN kTag{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    template <class Write>
    u32 WriteFrame(Write&& write) {
        return ntfstest::WriteFrame(path, kTag, write);
    }
    template <class Read>
    void ReadFrame(Read&& body) {
        ASSERT_TRUE(ntfstest::ReadFrame(path, kTag, body));
    }
    testsupport::TempDir dir;
    std::string path = (dir / "saved.rs").string();
};

TEST_F(NtfsSavedForms, PartitionRecordIs96BytesAndRoundTrips) {
    CSearchedNTFSPartitionInfo info;
    info.m_serialNumber = 0x1122334455667788;
    info.m_sectorsPerRecord = 8;
    info.m_buildFrom = 0x55;
    info.m_keep = 1;
    info.m_reservedNTFS = 9;
    info.m_clusterCount = 1000;
    i64 next = 10;
    for (i64* field : {&info.m_logFileMatches, &info.m_attrDefMatches, &info.m_upCaseMatches, &info.m_mftSector,
                       &info.m_logFileSector, &info.m_attrDefSector, &info.m_upCaseSector, &info.m_adjustedSectors})
        *field = next++;
    EXPECT_EQ(WriteFrame([&](CRSData& rs) { info.Save(rs); }), CSearchedNTFSPartitionInfo::kSavedSize);
    CSearchedNTFSPartitionInfo back;
    ReadFrame([&](CRSData& rs) { EXPECT_TRUE(back.Restore(rs)); });
    EXPECT_EQ(back.m_serialNumber, info.m_serialNumber);
    EXPECT_EQ(back.m_sectorsPerRecord, 8u);
    EXPECT_EQ(back.m_buildFrom, 0x55u);
    EXPECT_EQ(back.m_keep, 1u);
    EXPECT_EQ(back.m_reservedNTFS, 9u);
    EXPECT_EQ(back.m_clusterCount, 1000);
    EXPECT_EQ(back.m_logFileMatches, 10);
    EXPECT_EQ(back.m_adjustedSectors, 17);
}

TEST_F(NtfsSavedForms, MftInfoWithThreeRunsIs90Bytes) {
    CMFTInfo info;
    const std::vector<u8> pairs = {0x11, 0x04, 0x10, 0x11, 0x04, 0x10, 0x11, 0x04, 0x10, 0x00};
    info.GetDataRunList().InitFromBuffer(pairs.data(), int(pairs.size()));
    EXPECT_EQ(WriteFrame([&](CRSData& rs) { info.Save(rs); }), 90u);
    CMFTInfo back;
    ReadFrame([&](CRSData& rs) { EXPECT_TRUE(back.Restore(rs)); });
    EXPECT_TRUE(back.GetDataRunList().IsEqual(info.GetDataRunList()));
}

// A resident list saves the bytes of its encoding, and reads back as the same list.
TEST_F(NtfsSavedForms, ResidentRunListRoundTrips) {
    for (const i64 sector : {i64{0}, i64{129}, i64{1} << 40}) {
        std::unique_ptr<CCompressedDataRunList> list(CCompressedDataRunList::CompressResident(sector, 0x98));
        ASSERT_NE(list, nullptr);
        const std::vector<u8> bytes = list->Bytes();
        EXPECT_EQ(WriteFrame([&](CRSData& rs) { EXPECT_TRUE(list->Save(&rs)); }), 4 + bytes.size() + 2) << sector;
        std::unique_ptr<CCompressedDataRunList> back;
        ReadFrame([&](CRSData& rs) { back.reset(CCompressedDataRunList::Restore(&rs)); });
        ASSERT_NE(back, nullptr) << sector;
        EXPECT_EQ(back->Bytes(), bytes) << sector;
        EXPECT_EQ(back->GetDataOffset(), 0x98) << sector;
        EXPECT_EQ(back->GetCompressedDataRunSize(), list->GetCompressedDataRunSize()) << sector;
        std::unique_ptr<IDataRunList> decoded(back->Decompress());
        ASSERT_NE(decoded, nullptr);
        ASSERT_NE(decoded->GetFirst(), nullptr);
        EXPECT_EQ(decoded->GetFirst()->start, sector);
        EXPECT_EQ(decoded->GetFirst()->length, 1u);
        EXPECT_EQ(decoded->GetOffset(), 0x98);
        std::unique_ptr<CCompressedDataRunList> copy(list->Clone());
        EXPECT_EQ(copy->Bytes(), bytes);
    }
}

TEST_F(NtfsSavedForms, DamagedCountsAreRefused) {
    const u64 runs = u64{1} << 40;
    WriteFrame([&](CRSData& rs) { rs.WriteCurFrame(&runs, 8); });
    CNTFSDataRunList list;
    ReadFrame([&](CRSData& rs) { EXPECT_FALSE(list.Restore(rs)); });
    EXPECT_TRUE(list.IsEmpty());
    const u32 bytes = 0xFFFFFFF0;
    WriteFrame([&](CRSData& rs) { rs.WriteCurFrame(&bytes, 4); });
    ReadFrame([&](CRSData& rs) { EXPECT_EQ(CCompressedDataRunList::Restore(&rs), nullptr); });
}

// Records of the mkntfs fixture; a writable copy of record n.
std::vector<u8> Record(const std::string& image, i64 n) {
    auto device = testsupport::MemoryDevice::FromFile(ntfstest::Image(image));
    CNTFSDBR dbr;
    dbr.InitFromBuffer(device->Bytes().data());
    const size_t size = dbr.GetFileRecordSizeByByte();
    const size_t at = size_t(dbr.GetMFTStartCluster()) * dbr.GetSectorsperCluster() * dbr.GetBytesPerSector() + n * size;
    return std::vector<u8>(device->Bytes().begin() + at, device->Bytes().begin() + at + size);
}

TEST(NtfsFileRecord, FixtureRecordsValidateAndAreNeverWritten) {
    for (const auto& image : ntfstest::kImages) {
        for (i64 n : {0, 5, 64}) {
            std::vector<u8> rec = Record(image.name, n);
            const std::vector<u8> before = rec;
            std::vector<u8> unprotected = rec;
            ASSERT_TRUE(CNTFSFileRecord::UnfixupFileRecord(unprotected.data(), int(unprotected.size())));
            ASSERT_NE(unprotected, before);
            ASSERT_TRUE(CNTFSFileRecord::IsValid(rec.data(), int(rec.size()))) << image.name << " " << n;
            EXPECT_EQ(rec, before);
            CNTFSFileRecord wrapped(rec.data(), int(rec.size()), 0);
            ASSERT_TRUE(wrapped.IsValid());
            EXPECT_EQ(rec, before) << "the caller's bytes are only read";
            EXPECT_NE(wrapped.GetBuffer(), rec.data());
            EXPECT_EQ(std::vector<u8>(wrapped.GetBuffer(), wrapped.GetBuffer() + wrapped.GetSize()), unprotected)
                << "the record is read with its protection removed";
            EXPECT_FALSE(wrapped.FindAttibute(0x30, 0).empty());
        }
    }
}

TEST(NtfsFileRecord, HeaderAndAttributeEdgeCases) {
    const std::vector<u8> base = Record("ntfs512", 64);
    auto valid = [](std::vector<u8> r) { return CNTFSFileRecord::IsValid(r.data(), int(r.size())); };
    auto with = [&](size_t offset, std::vector<u8> bytes) {
        std::vector<u8> r = base;
        std::memcpy(r.data() + offset, bytes.data(), bytes.size());
        return r;
    };
    EXPECT_FALSE(valid(with(4, {40, 0}))) << "update-sequence offset 40";
    EXPECT_FALSE(valid(with(4, {2, 1}))) << "update-sequence offset 258";
    EXPECT_FALSE(valid(with(6, {17, 0}))) << "17 entries";
    EXPECT_FALSE(valid(with(6, {0, 0}))) << "no entry";
    std::vector<u8> late = with(20, {0xFC, 0x03});  // first attribute at 1020
    EXPECT_TRUE(valid(late));
    EXPECT_TRUE(CNTFSFileRecord::FindAttibute(late.data(), int(late.size()), 0x30, 0).empty());
    // An attribute header at byte 1008: its non-resident form does not fit.
    std::vector<u8> at1008 = with(20, {0xF0, 0x03});
    const u8 header[] = {0x80, 0, 0, 0, 0x10, 0, 0, 0, 0x01};
    std::copy(std::begin(header), std::end(header), at1008.begin() + 1008);
    EXPECT_FALSE(valid(at1008));
    // A name longer than its attribute, and forbidden characters.
    const u32 fn = CNTFSFileRecord::GetAttributeOffset(base.data(), int(base.size()), 0x30, 0);
    EXPECT_FALSE(valid(with(fn + 88, {255})));
    EXPECT_FALSE(valid(with(fn + 90, {'?', 0})));
    EXPECT_TRUE(valid(with(fn + 90, {'a', 0, '.', 0, 'b', 0})));
    // Bad fix-ups: the record is examined unrepaired and stands by its attributes.
    std::vector<u8> stale = with(510, {0xAB, 0xCD});
    EXPECT_FALSE(CNTFSFileRecord::IsValidUpdateSequence(stale.data(), int(stale.size())));
    CNTFSFileRecord unrepaired(stale.data(), int(stale.size()), 1);
    EXPECT_EQ(stale, with(510, {0xAB, 0xCD}));
}

// A wrapped record answers attribute lookups from the attributes its validation walked: the same
// offsets as the walk over the bytes for every type and index, with the attributes checked or (for
// bytes found valid before) only walked; more attributes than are kept fall back to the walk; an
// attribute running past the record ends both forms.
TEST(NtfsFileRecord, KeptAttributesAnswerAsTheWalk) {
    auto sameAnswers = [](std::vector<u8> rec, bool checked, const std::string& what) {
        CNTFSFileRecord wrapped(rec.data(), int(rec.size()), 0, checked);
        ASSERT_TRUE(wrapped.IsValid()) << what;
        for (u32 type = 0x10; type <= 0x100; type += 0x10) {
            for (u32 n = 0; n < 24; ++n) {
                const u32 walked = CNTFSFileRecord::GetAttributeOffset(wrapped.GetBuffer(), wrapped.GetSize(), type, n);
                EXPECT_EQ(wrapped.GetAttributeOffset(type, n), walked) << what << " type " << type << " n " << n;
                EXPECT_EQ(wrapped.FindAttibute(type, n).data(),
                          CNTFSFileRecord::FindAttibute(wrapped.GetBuffer(), wrapped.GetSize(), type, n).data());
            }
        }
    };
    for (const auto& image : ntfstest::kImages) {
        auto device = testsupport::MemoryDevice::FromFile(ntfstest::Image(image.name));
        CNTFSDBR dbr;
        dbr.InitFromBuffer(device->Bytes().data());
        const size_t size = dbr.GetFileRecordSizeByByte();
        const size_t mft = size_t(dbr.GetMFTStartCluster()) * dbr.GetSectorsperCluster() * dbr.GetBytesPerSector();
        for (size_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 64, 65, 70}) {
            const auto at = device->Bytes().begin() + i64(mft + n * size);
            const std::vector<u8> rec(at, at + i64(size));
            if (!CNTFSFileRecord(std::vector<u8>(rec).data(), int(rec.size()), 0).IsValid()) continue;
            for (bool checked : {false, true})
                sameAnswers(rec, checked, std::string(image.name) + " record " + std::to_string(n));
        }
    }
    // The second attribute of length 0 ends the walk, and is still found (as the walk finds it).
    std::vector<u8> zero = Record("ntfs512", 64);
    {
        CNTFSFileRecord::UnfixupFileRecord(zero.data(), int(zero.size()));
        const ByteReader r(zero.data(), zero.size());
        const u32 second = r.Le16(20).value_or(0) + r.Le32(r.Le16(20).value_or(0) + 4).value_or(0);
        ByteWriter(zero.data(), zero.size()).Le32(second + 4, 0);
        CNTFSFileRecord::FixupFileRecord(zero.data(), int(zero.size()));
        std::vector<u8> copy = zero;
        CNTFSFileRecord wrapped(copy.data(), int(copy.size()), 0);
        ASSERT_TRUE(wrapped.IsValid());
        EXPECT_EQ(wrapped.GetAttributeOffset(r.Le32(second).value_or(0), 0), second);
    }
    for (bool checked : {false, true}) sameAnswers(zero, checked, "second attribute of length 0");
    // Record 64 holding 20 resident attributes of 24 bytes (more than are kept), protected again.
    std::vector<u8> many = Record("ntfs512", 64);
    {
        CNTFSFileRecord::UnfixupFileRecord(many.data(), int(many.size()));
        ByteWriter w(many.data(), many.size());
        const u32 first = ByteReader(many.data(), many.size()).Le16(20).value_or(0);
        for (u32 k = 0; k < 20; ++k) {
            const size_t at = first + 24 * k;
            std::fill(many.begin() + at, many.begin() + at + 24, u8(0));
            w.Le32(at, 0x40);
            w.Le32(at + 4, 24);
            w.Le16(at + 20, 24);
        }
        w.Le32(first + 24 * 20, 0xFFFFFFFF);
        CNTFSFileRecord::FixupFileRecord(many.data(), int(many.size()));
    }
    for (bool checked : {false, true}) sameAnswers(many, checked, "twenty attributes");
    {
        std::vector<u8> copy = many;
        CNTFSFileRecord wrapped(copy.data(), int(copy.size()), 0, true);
        EXPECT_EQ(wrapped.GetAttributeOffset(0x40, 19), ByteReader(copy.data(), copy.size()).Le16(20).value_or(0) + 24 * 19);
        EXPECT_EQ(wrapped.GetAttributeOffset(0x40, 20), 0xFFFFFFFFu);
    }
    // The first attribute's length runs past the record.
    std::vector<u8> past = Record("ntfs512", 64);
    const u32 first = ByteReader(past.data(), past.size()).Le16(20).value_or(0);
    ByteWriter(past.data(), past.size()).Le32(first + 4, 2000);
    for (bool checked : {false, true}) {
        std::vector<u8> copy = past;
        EXPECT_FALSE(CNTFSFileRecord(copy.data(), int(copy.size()), 0, checked).IsValid()) << checked;
        EXPECT_EQ(copy, past) << "returned as it was";
    }
}

// A character a name may not hold, at every place of the name, alone and after a non-ASCII unit;
// units after a NUL are not looked at.
TEST(NtfsFileRecord, ForbiddenNameCharactersAtEveryPlace) {
    const std::vector<u8> base = Record("ntfs512", 64);
    const u32 fn = CNTFSFileRecord::GetAttributeOffset(base.data(), int(base.size()), 0x30, 0);
    const size_t chars = base[fn + 88];
    ASSERT_GE(chars, 10u);
    auto valid = [&](const std::vector<std::pair<size_t, u16>>& units) {
        std::vector<u8> r = base;
        for (const auto& [at, unit] : units) ByteWriter(r.data() + fn + 90, 2 * chars).Le16(2 * at, unit);
        return CNTFSFileRecord::IsValid(r.data(), int(r.size()));
    };
    ASSERT_TRUE(valid({}));
    for (const u16 c : {u16('"'), u16('*'), u16('/'), u16(':'), u16('<'), u16('>'), u16('?'), u16('\\'), u16('|')}) {
        for (size_t at = 0; at < chars; ++at) {
            EXPECT_FALSE(valid({{at, c}})) << c << " at " << at;
            if (at == 0) continue;
            EXPECT_FALSE(valid({{at - 1, 0x00E9}, {at, c}})) << c << " after a non-ASCII unit at " << at;
            EXPECT_TRUE(valid({{at - 1, 0}, {at, c}})) << c << " after a NUL at " << at;
        }
    }
    for (const u16 c : {u16(' '), u16('.'), u16('~'), u16(0x7F), u16(0x2022), u16(0xFF1F), u16(0x013F)}) {
        for (size_t at = 0; at < chars; ++at) EXPECT_TRUE(valid({{at, c}})) << c << " at " << at;
    }
}

// Names as they are stored (UTF-16LE) to UTF-8: ASCII ones are copied, a name that turns non-ASCII
// after an ASCII start, or with a unit of 0x80 and more, is converted whole; a unit that is no character
// (an unpaired surrogate, the byte left of a cut unit) becomes U+FFFD and the rest of the name stays.
TEST(NtfsFileRecord, NameConversionTable) {
    struct Row {
        std::u16string units;
        size_t cutBytes;  // bytes dropped from the end
        bool converted;
        std::string utf8;
    };
    const Row rows[] = {
        {u"", 0, true, ""},
        {u"plain name.txt", 0, true, "plain name.txt"},
        {u"caf\u00e9", 0, true, "caf\xc3\xa9"},
        {u"abcdefgh\u65e5\u672c", 0, true, "abcdefgh\xe6\x97\xa5\xe6\x9c\xac"},
        {u"\u00ff", 0, true, "\xc3\xbf"},
        {u"x\u0100y", 0, true, "x\xc4\x80y"},
        {u"\x7f", 0, true, "\x7f"},
        {u"odd", 1, true, "od\xef\xbf\xbd"},
        {u"a\xd800" u"b.txt", 0, true, "a\xef\xbf\xbd" "b.txt"},
        {u"a\xdc00\xd800", 0, true, "a\xef\xbf\xbd\xef\xbf\xbd"},
        {u"\xd83d\xde00.txt", 0, true, "\xf0\x9f\x98\x80.txt"},
        {u"abcdefghijklmnopq", 0, true, "abcdefghijklmnopq"},
        {std::u16string(u"abcd\0efgh", 9), 0, true, std::string("abcd\0efgh", 9)},
        {std::u16string(255, u'n'), 0, true, std::string(255, 'n')},
        {std::u16string(256, u'n'), 0, true, std::string(256, 'n')},
        {std::u16string(300, u'l'), 0, true, std::string(300, 'l')},
        {std::u16string(299, u'l') + u"\u00e9", 0, true, std::string(299, 'l') + "\xc3\xa9"},
    };
    for (const Row& row : rows) {
        std::vector<u8> bytes;
        for (const char16_t c : row.units) {
            bytes.push_back(u8(c & 0xFF));
            bytes.push_back(u8(c >> 8));
        }
        bytes.resize(bytes.size() - row.cutBytes);
        std::string out = "left over";
        EXPECT_EQ(Utf16LeToUtf8(bytes.data(), bytes.size(), out), row.converted) << row.utf8;
        if (row.converted) {
            EXPECT_EQ(out, row.utf8);
        }
    }
    // One non-ASCII unit at every place of a name of 13 units: the whole name is converted.
    for (size_t at = 0; at < 13; ++at) {
        std::u16string units = u"abcdefghijklm";
        std::string utf8 = "abcdefghijklm";
        units[at] = u'\u00e9';
        utf8.replace(at, 1, "\xc3\xa9");
        std::vector<u8> bytes;
        for (const char16_t c : units) {
            bytes.push_back(u8(c & 0xFF));
            bytes.push_back(u8(c >> 8));
        }
        std::string out;
        EXPECT_TRUE(Utf16LeToUtf8(bytes.data(), bytes.size(), out)) << at;
        EXPECT_EQ(out, utf8) << at;
    }
}

// A file's name as the properties keep it: the UTF-8 of its $FILE_NAME up to the first 0, a unit that is
// no character as U+FFFD (the name is never cut there); the name type copies, moves and assigns
// (also from its own text) without losing or sharing bytes.
TEST(NtfsFileProperties, NamesAsTakenFromTheFileNameAttribute) {
    const std::vector<u8> base = Record("ntfs512", 64);
    const u32 fn = CNTFSFileRecord::GetAttributeOffset(base.data(), int(base.size()), 0x30, 0);
    ASSERT_NE(fn, 0xFFFFFFFFu);
    const u16 valueAt = u16(base[fn + 20] | base[fn + 21] << 8);
    const size_t room = base[fn + valueAt + 64];  // the fixture's own name length: shorter names fit
    struct Row {
        std::u16string units;
        std::string expected;
    };
    const Row rows[] = {
        {u"a", "a"},
        {u"abc.txt", "abc.txt"},
        {u"caf\u00e9", "caf\xc3\xa9"},
        {std::u16string(u"ab\0cd", 5), "ab"},
        {std::u16string(u"\0abc", 4), ""},
        {u"x\u00e9\0z", "x\xc3\xa9"},
        {u"\xd800", "\xef\xbf\xbd"},  // a lone surrogate
        {u"a\xdc00", "a\xef\xbf\xbd"},
        {u"a\xd800" u"b.txt", "a\xef\xbf\xbd" "b.txt"},
    };
    for (const Row& row : rows) {
        ASSERT_LE(row.units.size(), room) << row.expected;
        std::vector<u8> r = base;
        r[fn + valueAt + 64] = u8(row.units.size());
        for (size_t i = 0; i < row.units.size(); ++i) {
            r[fn + valueAt + 66 + 2 * i] = u8(row.units[i] & 0xFF);
            r[fn + valueAt + 66 + 2 * i + 1] = u8(row.units[i] >> 8);
        }
        CNTFSFileRecord record(r.data(), int(r.size()), 0);
        ASSERT_TRUE(record.IsValid()) << row.expected;
        CNTFSMultiFileRecord multi(record, 100, nullptr, nullptr);
        std::unique_ptr<CNTFSFileProperties> p(CNTFSFilePropertiesBuilder::BuildFileProperties(100, multi, 4096, nullptr));
        ASSERT_TRUE(p) << row.expected;
        EXPECT_EQ(std::string(p->GetFileName()), row.expected);
        EXPECT_EQ(p->GetFileNameLength(), row.expected.size()) << row.expected;
        std::unique_ptr<IFileProperties> copy(p->Clone());
        p->SetFileName("renamed");
        EXPECT_EQ(std::string(copy->GetFileName()), row.expected) << "a clone keeps its own name";
        EXPECT_STREQ(p->GetFileName(), "renamed");
    }

    CNTFSName empty;
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_EQ(empty.size(), 0u);
    for (const size_t size : {size_t(1), size_t(15), size_t(16), size_t(255), size_t(1023), size_t(1024), size_t(5000)}) {
        const std::string text(size, 'q');
        CNTFSName a;
        a = text;
        EXPECT_EQ(std::string(a.c_str()), text);
        EXPECT_EQ(a.size(), size);
        CNTFSName b(a);
        EXPECT_NE(b.c_str(), a.c_str());
        CNTFSName c(std::move(a));
        EXPECT_STREQ(a.c_str(), "");
        EXPECT_EQ(std::string(c.c_str()), text);
        c = c;  // itself: unchanged
        EXPECT_EQ(std::string(c.c_str()), text);
        c.Assign(c.c_str() + 1, size - 1);  // its own bytes
        EXPECT_EQ(std::string(c.c_str()), text.substr(1));
        b = std::move(c);
        EXPECT_EQ(std::string(b.c_str()), text.substr(1));
        b = empty;
        EXPECT_STREQ(b.c_str(), "");
    }
}

TEST(NtfsFileRecord, MetaFiles) {
    std::vector<u8> mft = Record("ntfs512", 0);
    CNTFSFileRecord record(mft.data(), int(mft.size()), 1);
    EXPECT_EQ(CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(record), 0u);
    EXPECT_TRUE(CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record, FILE_NAME_MFT));
    EXPECT_FALSE(CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(record, L"$mft"));
    EXPECT_TRUE(CIsMetaFileRecord::IsMetaFileRecord(mft.data(), int(mft.size())));
    EXPECT_TRUE(CIsMetaFileRecord::IsMetaFileRecord(24));
    EXPECT_FALSE(CIsMetaFileRecord::IsMetaFileRecord(25));
    // Without the system bit in $STANDARD_INFORMATION it is no meta file.
    const u32 si = CNTFSFileRecord::GetAttributeOffset(mft.data(), int(mft.size()), 0x10, 0);
    std::vector<u8> plain = mft;
    plain[si + 56] &= u8(~0x04);
    EXPECT_FALSE(CIsMetaFileRecord::IsMetaFileRecord(plain.data(), int(plain.size())));
    std::vector<u8> volume = Record("ntfs512", 3);
    char label[32] = {};
    EXPECT_TRUE(CVolumeFileAnalyzer::GetLabel(volume.data(), label, sizeof label, int(volume.size())));
    EXPECT_STREQ(label, "BRELVOX");
    // A label cut to the room given never splits a character: seven 2-byte characters in 5 bytes are two.
    const u32 name = CNTFSFileRecord::GetAttributeOffset(volume.data(), int(volume.size()), 0x60, 0);
    ASSERT_NE(name, 0xFFFFFFFFu);
    const u16 valueAt = u16(volume[name + 20] | volume[name + 21] << 8);
    for (size_t i = 0; i < 7; ++i) {
        volume[name + valueAt + 2 * i] = 0xE9;
        volume[name + valueAt + 2 * i + 1] = 0;
    }
    char cut[6] = {};
    EXPECT_TRUE(CVolumeFileAnalyzer::GetLabel(volume.data(), cut, sizeof cut, int(volume.size())));
    EXPECT_STREQ(cut, "\xc3\xa9\xc3\xa9");
}

TEST(NtfsIndexAndLogPages, Table) {
    EXPECT_TRUE(NTFSPublicFunction::IsClusterNOMatch(1008, 125, 8, 8));
    EXPECT_FALSE(NTFSPublicFunction::IsClusterNOMatch(1009, 125, 8, 8));
    EXPECT_FALSE(NTFSPublicFunction::IsClusterNOMatch(1008, 125, 8, 3)) << "an odd spc";
    // The index blocks of the fixture validate, name their folder, and stay unchanged.
    auto device = testsupport::MemoryDevice::FromFile(ntfstest::Image("ntfs512"));
    size_t blocks = 0;
    for (size_t at = 0; at + 4096 <= device->Bytes().size(); at += 2048) {
        u8* b = device->Bytes().data() + at;
        if (std::memcmp(b, "INDX", 4) != 0) continue;
        const std::vector<u8> before(b, b + 4096);
        EXPECT_TRUE(CIndexRecord::IsValid(b, 4096));
        EXPECT_GE(CIndexRecord::GetParentFileReference(b, 4096), 5);
        EXPECT_EQ(std::vector<u8>(b, b + 4096), before);
        std::vector<u8> stale = before;
        stale[7 * 512 + 510] ^= 0xFF;
        EXPECT_FALSE(CIndexRecord::IsValid(stale.data(), 4096)) << "stale sector 7";
        ++blocks;
    }
    EXPECT_GE(blocks, 1u);
    std::vector<u8> page(4096, 0);
    std::memcpy(page.data(), "RCRD\x28\0\x09\0", 8);
    EXPECT_TRUE(CRCRDRecord::IsValid(page.data(), 4096));
    EXPECT_TRUE(CRCRDRecord::IsValidRCRDRecordFirstSector(page.data(), 512));
    page[6] = 8;
    EXPECT_FALSE(CRCRDRecord::IsValid(page.data(), 4096)) << "8 entries";
}

// Valid record sectors as runs of records `step` apart: a sector out of order is left out (its record
// is checked in full), sectors between records and outside every run are not held.
TEST(NtfsFindings, ValidRecordSectors) {
    CValidFileRecordSectors valid;
    valid.Reset(2);
    for (i64 s : {100, 102, 104, 110, 108, 110, 111, 200, -4}) valid.Add(s);
    EXPECT_EQ(valid.RunCount(), 3u);
    const std::pair<i64, bool> cases[] = {{98, false},  {99, false},  {100, true},  {101, false}, {102, true},
                                          {104, true},  {106, false}, {108, false}, {110, true},  {111, false},
                                          {112, false}, {200, true},  {202, false}, {-4, false},  {0, false}};
    for (const auto& [sector, held] : cases) EXPECT_EQ(valid.Contains(sector), held) << sector;
    valid.Reset(0);
    EXPECT_FALSE(valid.Contains(100));
    for (i64 s : {7, 8, 9}) valid.Add(s);
    EXPECT_EQ(valid.RunCount(), 1u);
    EXPECT_TRUE(valid.Contains(8));
    EXPECT_FALSE(valid.Contains(10));
}

TEST(NtfsFindings, PositionsMerge) {
    CCommonFileRecordPositionInfo p(1000);
    EXPECT_TRUE(p.Merge(1002));
    EXPECT_FALSE(p.Merge(1005));
    EXPECT_TRUE(p.Merge(1004));
    EXPECT_TRUE(p.Merge(1006));
    EXPECT_EQ(p.GetFileRecordCount(), 4);
}

}  // namespace
