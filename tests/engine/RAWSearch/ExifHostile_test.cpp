// The Exif reader on crafted blocks: directories linked many times over (three links per level, a
// ladder of overlapping directories), values of zero components at the block's very end, and loops.
// Each block lies in a heap buffer of exactly its size, so a read past it is an AddressSanitizer error.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RawTestSupport.h"
#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/FileJPGAnalyser.h"
#include "engine/RAWSearch/Exif/ExifLayout.h"
#include "engine/RAWSearch/Exif/ExifReader.h"

using namespace exif_layout;

namespace {

struct Entry {
    u16 tag;
    u16 format;
    u32 components;
    u32 value;  // inline value or offset, as written
};

// TIFF data (little-endian) built directory by directory; offsets count from the TIFF header.
class TiffWriter {
public:
    explicit TiffWriter(size_t size) : m_bytes(size, 0) {
        ByteWriter w(m_bytes);
        w.Bytes(kByteOrder, "II", 2);
        w.Le16(kMagic, kTiffMagic);
        w.Le32(kFirstDirectory, kTiffHeaderSize);
    }
    // The directory at `at` with its entries and the link to the next one; false when it does not fit.
    bool Directory(size_t at, const std::vector<Entry>& entries, u32 next) {
        ByteWriter w(m_bytes);
        bool ok = w.Le16(at + kEntryCount, static_cast<u16>(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) ok = ok && Put(at + kEntries + i * kEntrySize, entries[i]);
        const size_t link = at + kEntries + entries.size() * kEntrySize;
        return ok && (link == m_bytes.size() || w.Le32(link, next));
    }
    bool Put(size_t at, const Entry& e) {
        ByteWriter w(m_bytes);
        return w.Le16(at + kTag, e.tag) && w.Le16(at + kFormat, e.format) && w.Le32(at + kComponents, e.components) &&
               w.Le32(at + kValue, e.value);
    }
    // "Exif", two zero bytes and the TIFF data.
    std::vector<unsigned char> Block() const {
        std::vector<unsigned char> block = {'E', 'x', 'i', 'f', 0, 0};
        block.insert(block.end(), m_bytes.begin(), m_bytes.end());
        return block;
    }

private:
    std::vector<unsigned char> m_bytes;
};

u32 Text4(const char (&text)[5]) {
    u32 v = 0;
    std::memcpy(&v, text, 4);  // as the bytes lie in the entry, whatever the host's order
    return v;
}

// A block of `levels` directories where each directory links to the next by its Exif link, its
// interoperability link and its next-directory link: a walk that re-reads what it reached before takes
// 3^levels steps. The deepest directory holds the camera model "Deep". About 30 bytes a level.
std::vector<unsigned char> ThreeLinksPerLevel(int levels) {
    const size_t dirSize = kEntries + 2 * kEntrySize + 4;
    TiffWriter tiff(kTiffHeaderSize + static_cast<size_t>(levels) * dirSize);
    for (int k = 0; k < levels; ++k) {
        const size_t at = kTiffHeaderSize + static_cast<size_t>(k) * dirSize;
        if (k + 1 < levels) {
            const u32 next = static_cast<u32>(at + dirSize);
            EXPECT_TRUE(tiff.Directory(
                at, {{kTagExifDirectory, 4, 1, next}, {kTagInteroperabilityDirectory, 4, 1, next}}, next));
        } else {
            EXPECT_TRUE(tiff.Directory(at, {{0x0110, 2, 4, Text4("Deep")}, {0x8827, 3, 1, 100}}, 0));
        }
    }
    return tiff.Block();
}

struct Result {
    bool ok = false;
    std::string error;
    tag_ExifInfo info{};
};

// Reads a block on a thread of its own; false when it has not returned within the time (the thread is
// then left to run on its own copy of the block, and the test fails instead of hanging).
bool ReadWithin(std::vector<unsigned char> bytes, std::chrono::seconds limit, Result& out) {
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        Result result;
        std::vector<unsigned char> block;
    };
    auto shared = std::make_shared<Shared>();
    shared->block = std::move(bytes);
    std::thread([shared] {
        Result r;
        SetExitInfo(&r.info);
        r.ok = EXIF_process_EXIF(nullptr, 0, shared->block.data(), static_cast<unsigned>(shared->block.size()));
        r.error = EXIF_GetErrorString();
        SetExitInfo(nullptr);
        std::lock_guard<std::mutex> lock(shared->m);
        shared->result = r;
        shared->done = true;
        shared->cv.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(shared->m);
    if (!shared->cv.wait_for(lock, limit, [&] { return shared->done; })) return false;
    out = shared->result;
    return true;
}

Result Read(std::vector<unsigned char> block) {
    Result r;
    // An exactly sized heap copy: AddressSanitizer reports any byte read past the block.
    auto exact = std::make_unique<unsigned char[]>(block.size());
    std::memcpy(exact.get(), block.data(), block.size());
    SetExitInfo(&r.info);
    r.ok = EXIF_process_EXIF(nullptr, 0, exact.get(), static_cast<unsigned>(block.size()));
    r.error = EXIF_GetErrorString();
    SetExitInfo(nullptr);
    return r;
}

}  // namespace

TEST(ExifHostile, DirectoriesReachedByManyLinksAreReadOnce) {
    const auto block = ThreeLinksPerLevel(30);
    ASSERT_LE(block.size(), 1024u);
    Result r;
    // A generous limit: the walk takes microseconds; one that re-reads directories would take 3^30 steps.
    ASSERT_TRUE(ReadWithin(block, std::chrono::seconds(60), r)) << "the walk of a 1 KB block did not end";
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_STREQ(r.info.cameraModel, "Deep");  // the deepest level was reached
    EXPECT_EQ(r.info.isoEquivalent, 100);
}

TEST(ExifHostile, OverlappingDirectoriesStopAtTheEntryBudget) {
    // A ladder directory of M links, each to a different directory inside one shared run of harmless
    // entries; every such directory holds K entries of the run (its count is the high half of the value
    // of the entry before it). Without a budget the walk reads M x K entries.
    constexpr u32 M = 1000, K = 1000, run = M + K + 1;
    const size_t ladder = kTiffHeaderSize;
    const size_t body = ladder + kEntries + M * kEntrySize + 4;
    TiffWriter tiff(body + run * kEntrySize);
    std::vector<Entry> links;
    for (u32 j = 0; j < M; ++j)
        links.push_back({kTagExifDirectory, 4, 1, static_cast<u32>(body + j * kEntrySize + 10)});
    ASSERT_TRUE(tiff.Directory(ladder, links, 0));
    for (u32 j = 0; j < run; ++j) ASSERT_TRUE(tiff.Put(body + j * kEntrySize, {0x0000, 1, 1, K << 16}));
    const auto block = tiff.Block();
    ASSERT_LT(block.size(), 65536u);  // one APP1 segment

    const Result r = Read(block);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Too many EXIF directory entries");
}

TEST(ExifHostile, ValuesOfZeroComponentsAtTheBlockEndAreNotRead) {
    struct Case {
        const char* name;
        u16 tag;
        u16 format;
    };
    // Formats whose one component is wider than the 4 value bytes of the entry: a read of the first
    // component at the last entry of the block would run past it.
    const Case cases[] = {
        {"rational (exposure time)", 0x829A, 5},
        {"signed rational (exposure bias)", 0x9204, 10},
        {"double (brightness)", 0x9203, 12},
        {"double (Exif directory link)", kTagExifDirectory, 12},
        {"long (ISO)", 0x8827, 4},
        {"short (orientation)", 0x0112, 3},
    };
    for (const Case& c : cases) {
        // The first directory's one entry ends the block: no link to a next directory follows.
        TiffWriter tiff(kTiffHeaderSize + kEntries + kEntrySize);
        ASSERT_TRUE(tiff.Directory(kTiffHeaderSize, {{c.tag, c.format, 0, 0}}, 0)) << c.name;
        const Result r = Read(tiff.Block());
        EXPECT_EQ(r.info.exposureTime, 0.0f) << c.name;
        EXPECT_EQ(r.info.exposureBias, 0.0f) << c.name;
        EXPECT_EQ(r.info.brightness, 0.0f) << c.name;
        EXPECT_EQ(r.info.isoEquivalent, 0) << c.name;
        if (c.tag == kTagExifDirectory) {
            EXPECT_FALSE(r.ok) << c.name;  // a link without bytes links nowhere
            EXPECT_EQ(r.error, "Illegal subdirectory link") << c.name;
        } else if (c.tag == 0x0112) {
            EXPECT_TRUE(r.ok) << c.name;
            EXPECT_EQ(r.error, "Undefined rotation value") << c.name;
        } else {
            EXPECT_TRUE(r.ok) << c.name << ": " << r.error;
        }
    }
}

TEST(ExifHostile, OutOfRangeValuesAndALoopEndCleanly) {
    // Values no field can hold, in a directory whose next-directory link points back at itself.
    TiffWriter tiff(kTiffHeaderSize + kEntries + 3 * kEntrySize + 4);
    ASSERT_TRUE(tiff.Directory(kTiffHeaderSize,
                               {{0x8827, 9, 1, 0x80000000u},  // ISO -2^31: below 50, and times 200 no int
                                {0x0201, 9, 1, 0xFFFFFFFFu},  // thumbnail offset -1
                                {0x0202, 4, 1, 16}},
                               static_cast<u32>(kTiffHeaderSize)));
    const Result r = Read(tiff.Block());
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.info.isoEquivalent, -2147483647 - 1);
    EXPECT_EQ(r.info.thumbnailSize, 0u);
}

TEST(ExifHostile, APhotoWithAHostileExifBlockIsStillSizedFromTheDevice) {
    // An Exif APP1 holding the three-links block, in front of a plain JPEG.
    const auto block = ThreeLinksPerLevel(30);
    std::vector<unsigned char> jpeg = {0xFF,
                                       0xD8,
                                       0xFF,
                                       0xE1,
                                       static_cast<unsigned char>((block.size() + 2) >> 8),
                                       static_cast<unsigned char>((block.size() + 2) & 0xFF)};
    jpeg.insert(jpeg.end(), block.begin(), block.end());
    rawtest::JpegRecipe plain;
    plain.exif = false;
    const auto rest = rawtest::MakeJpeg(plain);
    jpeg.insert(jpeg.end(), rest.begin() + 2, rest.end());

    std::vector<unsigned char> image(512, 0);
    image.insert(image.end(), jpeg.begin(), jpeg.end());
    image.resize(image.size() + 4096, 0);
    rawtest::MemoryDevice device(image);
    FileJPGAnalyser analyser;
    CRawFileInfo info;
    info.m_startSector = 1;
    ASSERT_TRUE(analyser.GetRawFileSize(info, &device));
    EXPECT_EQ(info.m_size, jpeg.size());
    EXPECT_EQ(analyser.GetRawFileName(), "Deep");
}
