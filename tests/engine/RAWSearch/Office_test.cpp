// The office analysers inside the whole signature search: compound files sized while the search reads
// on or from the device (a DIFAT met before or after the FAT, sectors of 4096 bytes, a summary in the
// mini stream), ZIP archives (metadata that crosses a block, sizes behind the data, a 4 KiB name at the
// reader's window end, an archive evicted from the guesses), PDFs the device fallback sizes, and the
// device walks stopping when the user stops.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "OfficeTestSupport.h"
#include "engine/Common/IProgress.h"
#include "engine/RAWSearch/Analysers/FileOLEAnalyser.h"
#include "engine/RAWSearch/Analysers/FileZIPAnalyser.h"
#include "engine/RAWSearch/Analysers/PdfAnalyzer.h"
#include "engine/RAWSearch/Core/NotifyCenter.h"
#include "engine/StorageDevice/IStorageDevice.h"

using namespace officetest;
using rawtest::MemoryDevice;
using rawtest::RecordingTreeBuilder;

namespace {

class UtcZone : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

class OfficeSearch : public UtcZone {};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A stop request after `allowed` questions.
class StopAfter : public IProgress {
public:
    explicit StopAfter(int allowed) : m_allowed(allowed) {}
    int UpdateProgress(_PROGRESS_INFO*) override { return 1; }
    int Continued() override { return ++asked <= m_allowed ? 1 : 0; }
    int shouldBuild() override { return 1; }
    int asked = 0;

private:
    int m_allowed;
};

// A large device that makes up its sectors: the first one is `head`, every other one `fill` bytes
// that never end a file; it counts the sectors read.
class EndlessDevice : public IStorageDevice {
public:
    EndlessDevice(Bytes head, unsigned char fill) : m_head(std::move(head)), m_fill(fill) {}
    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* out, i64 first, i64 count) override {
        auto* p = static_cast<unsigned char*>(out);
        for (i64 s = first; s < first + count; ++s, p += 512) {
            memset(p, m_fill, 512);
            if (s == 0) memcpy(p, m_head.data(), std::min<size_t>(m_head.size(), 512));
        }
        read += count;
        return 1;
    }
    u32 GetSectorSize() override { return 512; }
    i64 GetTotalSectors() override { return i64{1} << 32; }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData* data) override { delete data; }
    u32 GetType() override { return STORAGE_DEVICE_DISK; }
    u64 GetLastError() override { return 0; }
    i64 read = 0;

private:
    Bytes m_head;
    unsigned char m_fill;
};

}  // namespace

TEST_F(OfficeSearch, ASummaryInTheMiniStreamNamesTheDocument) {
    // A short SummaryInformation lies in the mini stream, 64-byte aligned inside a sector.
    Bytes mini(128, 0x20);
    const Bytes summary = Summary("Minutes", "Ann", "Ben Clerk", FileTime(2010, 1, 2, 3, 4, 5), FileTime(2010, 2, 3, 4, 5, 6));
    mini.insert(mini.end(), summary.begin(), summary.end());
    const Bytes doc = CompoundFile({{"Root Data", mini}, {"WordDocument", Random(3000, 1)}});
    RecordingTreeBuilder builder;
    const auto files = Carve(Place({{10, doc}}, 60), builder);
    const rawtest::Received* found = FileAt(files, 10);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, "Ben Clerk_Minutes_2010-02-03-04-05-06000.DOC");
    EXPECT_EQ(found->size, static_cast<i64>(doc.size()));
    EXPECT_EQ(found->type, SEARCHER_RAW_TAG);
}

TEST_F(OfficeSearch, ADifatMetBeforeOrAfterTheFatIsSizedExactly) {
    // More than 109 FAT sectors: a DIFAT sector names the rest. Met before the last FAT sector, the
    // search sizes the file as it reads; met long after it (past the search's buffer), the device does.
    const Bytes big = Random(7300000, 2);
    for (const bool difatFirst : {true, false}) {
        SCOPED_TRACE(difatFirst ? "DIFAT first" : "DIFAT last");
        CompoundOptions options;
        options.difatFirst = difatFirst;
        const Bytes file = CompoundFile({{"Workbook", big}}, options);
        ASSERT_GT(ByteReader(file.data(), file.size()).Le32(72).value_or(0), 0u) << "a DIFAT sector";
        const Bytes image = Place({{3, file}}, 3 + file.size() / 512 + 20);
        FileOLEAnalyser::OleRawFileInfo record;
        record.m_startSector = 3;
        const i64 end = Drive(record, image, 512, 256);
        if (difatFirst) {
            EXPECT_EQ(record.m_size, file.size());
            // The directory, the file's last sector, is read with the sector after it.
            EXPECT_EQ(end, 3 + static_cast<i64>(file.size() / 512));
        } else {
            EXPECT_EQ(record.m_size, 0u) << "given up to the device";
        }
        RecordingTreeBuilder builder;
        const auto files = Carve(image, builder, 512, 256);
        const rawtest::Received* found = FileAt(files, 3);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->size, static_cast<i64>(file.size()));
        EXPECT_EQ(found->name.substr(found->name.size() - 4), ".XLS");
    }
}

TEST_F(OfficeSearch, CompoundFilesOnSectorsOf4096BytesAndAcrossBlocks) {
    const Bytes summary = Summary("Plan", "Cy", "", FileTime(2011, 5, 6, 7, 8, 9), 0);
    const Bytes v3 = CompoundFile({{"PowerPoint Document", Random(7000, 3)}, {"\x05SummaryInformation", summary}});
    const Bytes v4 = CompoundFile({{"WordDocument", Random(20000, 4)}, {"\x05SummaryInformation", summary}},
                                  CompoundOptions{4});
    for (const unsigned sectorSize : {512u, 4096u}) {
        for (const Bytes* file : {&v3, &v4}) {
            SCOPED_TRACE(std::to_string(sectorSize) + (file == &v3 ? " v3" : " v4"));
            RecordingTreeBuilder builder;
            // Blocks of 8 KiB: the header, the FAT, the summary and the directory in different blocks (a
            // 4096-byte OLE sector always lies in the search's buffer as a whole).
            const auto files = Carve(Place({{2, *file}}, 2 + file->size() / sectorSize + 8, sectorSize), builder,
                                     sectorSize, static_cast<int>(8192 / sectorSize));
            const rawtest::Received* found = FileAt(files, 2);
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->size, static_cast<i64>(file->size()));
            EXPECT_EQ(found->name, std::string("Cy_Plan_2011-05-06-07-08-09000.") + (file == &v3 ? "PPT" : "DOC"));
        }
    }
}

TEST_F(OfficeSearch, EachArchiveReadsItsOwnMetadataAcrossABlockEnd) {
    auto docx = [](const std::string& title, const std::string& person) {
        return Zip({{"[Content_Types].xml", Random(900, 5)},
                    {"word/_rels/document.xml.rels", Text("<Relationships/>")},
                    {"docProps/core.xml", Text(CoreXml(title, "Nobody", person, "2009-08-07T06:05:04Z")), true},
                    {"word/document.xml", Random(1500, 6)}});
    };
    const Bytes first = docx("First Plan", "Ada");
    const Bytes second = docx("Second Plan", "Bea");
    // Blocks of 2 sectors: the first archive's core.xml starts in the last sector of a block and ends in
    // the next, where the second archive begins.
    RecordingTreeBuilder builder;
    const auto files = Carve(Place({{1, first}, {8, second}}, 30), builder, 512, 2);
    const rawtest::Received* a = FileAt(files, 1);
    const rawtest::Received* b = FileAt(files, 8);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->name, "Ada_First Plan_2009-08-07 06-05-04000.DOCX");
    EXPECT_EQ(b->name, "Bea_Second Plan_2009-08-07 06-05-04001.DOCX");
    EXPECT_EQ(a->size, static_cast<i64>(first.size()));
    EXPECT_EQ(b->size, static_cast<i64>(second.size()));
}

TEST_F(OfficeSearch, SizesBehindTheDataEndAtTheEndRecord) {
    // The office writer's streaming form: every entry's sizes follow its data, so the walk stops at the
    // first entry and the archive's own end record (its central directory ends where it begins) ends the
    // file wherever it lies: in one sector with zeros after it, across two sectors, or followed by other
    // bytes. An archive stored inside, with its own end record, does not end it. "word/" names type it.
    struct Case {
        const char* what;
        size_t lowTail, highTail;  // the archive's length modulo 512 lies in [lowTail, highTail]
        bool inner;                // a stored archive inside
        bool bytesAfter;           // random bytes right after the archive's last sector
    };
    const Case cases[] = {
        {"end record in one sector, zeros after", 22, 492, false, false},
        {"end record across two sectors", 1, 21, false, false},
        {"fewer than 17 zero bytes after the end record", 497, 508, false, true},
        {"an archive stored inside", 100, 400, true, true},
    };
    const Bytes inner = Zip({{"inner.txt", Random(900, 11)}});
    for (const Case& c : cases) {
        Bytes doc;
        for (size_t filler = 2300; filler < 2300 + 512; ++filler) {
            std::vector<ZipEntry> entries = {{"_rels/.rels", Text("<Relationships/>"), true, true},
                                             {"word/document.xml", Random(filler, 7), false, true}};
            if (c.inner) entries.push_back({"word/embeddings/package.zip", inner, false, true});
            entries.push_back({"word/styles.xml", Random(700, 8), false, true});
            doc = Zip(entries);
            if (doc.size() % 512 >= c.lowTail && doc.size() % 512 <= c.highTail) break;
        }
        ASSERT_TRUE(doc.size() % 512 >= c.lowTail && doc.size() % 512 <= c.highTail) << c.what;
        const size_t sectors = (doc.size() + 511) / 512;
        const Bytes image = c.bytesAfter ? Place({{0, doc}, {sectors, Random(8 * 512, 12)}}, sectors + 14)
                                         : Place({{0, doc}}, sectors + 6);
        FileZIPAnalyser zip;
        CRawFileInfo accepted;
        ASSERT_EQ(zip.AnalyseBuffer(const_cast<unsigned char*>(image.data()), accepted), 1) << c.what;
        std::unique_ptr<CRawFileInfo> record(zip.CreateRawFileInfo());
        record->m_type = accepted.m_type;
        const i64 end = Drive(*record, image);
        EXPECT_EQ(end, static_cast<i64>((doc.size() - 1) / 512)) << c.what;
        EXPECT_EQ(record->m_size, doc.size()) << c.what;
        EXPECT_EQ(record->m_type, RAW_TYPE_DOCX) << c.what;
        EXPECT_EQ(record->GetRawFileName(), "0-" + std::to_string(end) + "_") << c.what;
    }
}

TEST_F(OfficeSearch, AFourKilobyteNameAtTheWindowEndIsReadByTheDevice) {
    // The guess walk reads no name over 1024 bytes and leaves the file to the device, which reads the
    // name across its 64 KiB window through the bounded copy.
    const std::string longName = std::string(3990, 'n') + "/deep.txt";
    const Bytes zip = Zip({{"big.bin", Random(65363, 9)}, {longName, Text("deep")}, {"tail.txt", Text("tail")}});
    ASSERT_EQ(ByteReader(zip.data(), zip.size()).Le16(65400 + 26).value_or(0), longName.size());
    RecordingTreeBuilder builder;
    const auto files = Carve(Place({{5, zip}}, 5 + zip.size() / 512 + 10), builder);
    const rawtest::Received* found = FileAt(files, 5);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->size, static_cast<i64>(zip.size()));
    EXPECT_EQ(found->name, "tail.txt000.ZIP");
}

TEST_F(OfficeSearch, AnArchiveEvictedFromTheGuessesIsSizedByTheDevice) {
    // 32 PDF heads that never end start inside the archive's stored data: the 33rd open guess evicts the
    // archive, which keeps no partial size and is sized at the end of the search.
    Bytes payload(64 * 512, 'z');
    for (int k = 0; k < 32; ++k) {
        const std::string head = "%PDF-1.4\n";
        std::copy(head.begin(), head.end(), payload.begin() + (2 * k + 1) * 512 - 0);
    }
    // The stored data begins 30 + 8 bytes into the archive: shift the heads onto sector starts.
    Bytes stored(payload.begin() + 38, payload.end());
    const Bytes zip = Zip({{"data.bin", stored}, {"more.txt", Text("more")}});
    for (int k = 0; k < 32; ++k) ASSERT_EQ(zip[(2 * k + 1) * 512], '%');
    RecordingTreeBuilder builder;
    const auto files = Carve(Place({{0, zip}}, zip.size() / 512 + 10), builder);
    const rawtest::Received* found = FileAt(files, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->size, static_cast<i64>(zip.size()));
}

TEST_F(OfficeSearch, AShortPdfEndsAtItsOwnMarker) {
    const Bytes pdf = Pdf(3000, "/Title (Short) /Author (Al) /Creator (W)");
    RecordingTreeBuilder builder;
    const auto files = Carve(Place({{4, pdf}}, 4 + pdf.size() / 512 + 4), builder);
    const rawtest::Received* found = FileAt(files, 4);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->size, static_cast<i64>(pdf.size()));
    EXPECT_EQ(found->name, "Short000.PDF");
}

TEST_F(UtcZone, DeviceWalksStopWhenTheUserStops) {
    struct Case {
        const char* name;
        std::unique_ptr<IRawFileAnalyser> analyser;
        Bytes head;
        unsigned char fill;
    };
    Bytes zipHead = Zip({{"a.txt", Text("a")}});
    zipHead.resize(50);  // a local header with its sizes zeroed: the end is searched for
    ByteWriter(zipHead.data(), zipHead.size()).Le32(18, 0);
    ByteWriter(zipHead.data(), zipHead.size()).Le32(22, 0);
    std::vector<Case> cases;
    cases.push_back({"PDF fallback", std::make_unique<FilePDFAnalyser>(), Text("%PDF-1.4\n"), 'x'});
    cases.push_back({"ZIP end search", std::make_unique<FileZIPAnalyser>(), zipHead, 0});
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EndlessDevice device(c.head, c.fill);
        StopAfter stop(40);
        CNotifyCenter::Instance().SetProgress(&stop);
        CRawFileInfo info;
        const bool sized = c.analyser->GetRawFileSize(info, &device);
        CNotifyCenter::Instance().Reset();
        EXPECT_LE(stop.asked, 41);
        EXPECT_LE(device.read, 41 * 129) << "no read after the stop";
        EXPECT_TRUE(!sized || info.m_size < u64{41} * 129 * 512);
    }
}
