// The pre-analysis joins a set cut at a sector's end with the sector holding its rest, wherever on the
// device that lies. Every waiting cut set and every waiting sector that begins inside a set used to be
// tried against each other: a disk littered with copies of directory sectors made that quadratic. The
// waiting sides are now grouped by the bytes a join reads and only shapes that could fit are tried: the
// scan must leave exactly what trying every pair leaves, with tries growing with the sectors, not their
// square.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/EXFatSearch/DeepScanTrace.h"
#include "engine/EXFatSearch/ExFatLayout.h"
#include "support/MemoryDevice.h"

namespace {

constexpr size_t kSector = 512;
constexpr size_t kEntry = 32;

bool IsSecondary(u8 type) {
    namespace e = exfat::entry;
    return type == e::kStream || type == e::kDeletedStream || type == e::kName || type == e::kDeletedName;
}

// Places in the directory entries of an image where an entry set is cut in two: the entry at the place is
// a stream or a name, and the set's file entry lies within the largest set's length before it.
std::vector<size_t> CutPlaces(const std::vector<u8>& image, size_t most) {
    std::vector<size_t> places;
    for (size_t at = kSector; at + kSector <= image.size() && places.size() < most; at += kEntry) {
        if (!IsSecondary(image[at])) continue;
        for (size_t back = kEntry; back <= 18 * kEntry; back += kEntry) {
            const u8 type = image[at - back];
            if (type == exfat::entry::kFile || type == exfat::entry::kDeletedFile) {
                places.push_back(at);
                break;
            }
            if (!IsSecondary(type)) break;
        }
        // Places a few sectors apart, so that the pieces differ.
        if (!places.empty() && places.back() == at) at += 3 * kSector;
    }
    return places;
}

// The sector ending at a cut place (its last set runs on) and the one starting there (it begins inside
// that set), each also with every entry's in-use bit cleared.
std::vector<std::vector<u8>> Pieces(const std::vector<u8>& image, size_t most) {
    std::vector<std::vector<u8>> pieces;
    for (const size_t at : CutPlaces(image, most)) {
        for (const size_t from : {at - kSector, at}) {
            std::vector<u8> piece(image.begin() + static_cast<long>(from), image.begin() + static_cast<long>(from + kSector));
            pieces.push_back(piece);
            for (size_t e = 0; e < piece.size(); e += kEntry) piece[e] &= 0x7F;
            pieces.push_back(piece);
        }
    }
    return pieces;
}

// Writes a random piece over every `every`-th all-zero sector that a zero sector follows (so that no
// piece runs on into the next): fragmented folders whose parts lie apart in either order, many times the
// same part, parts whose rest never turns up.
size_t Scatter(std::vector<u8>& bytes, const std::vector<std::vector<u8>>& pieces, size_t every, size_t most,
               std::mt19937& random) {
    const auto isFree = [&](size_t at) {
        return at + kSector <= bytes.size() &&
               std::all_of(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + kSector),
                           [](u8 b) { return b == 0; });
    };
    size_t zeros = 0, placed = 0;
    for (size_t at = 0; at + 2 * kSector <= bytes.size() && placed < most; at += kSector) {
        if (!isFree(at) || !isFree(at + kSector) || ++zeros % every != 0) continue;
        const auto& piece = pieces[random() % pieces.size()];
        std::copy(piece.begin(), piece.end(), bytes.begin() + static_cast<long>(at));
        ++placed;
        at += kSector;
    }
    return placed;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct Scan {
    std::string records;  // volumes and listing
    size_t waiting = 0;
    u64 tries = 0;
};

Scan ScanJoins(IStorageDevice& device, bool joinIndex) {
    CExFatCompleteSearch search;
    testsupport::CapturingTreeBuilder tree;
    testsupport::DeepBlockFeeder feeder(search, device, &tree);
    feeder.Prepare();
    search.PreAnalyzer().SetJoinIndex(joinIndex);
    feeder.FeedAll();
    Scan scan;
    scan.waiting = search.PreAnalyzer().WaitingNotEnded() + search.PreAnalyzer().WaitingAbridged();
    scan.tries = search.PreAnalyzer().JoinTries();
    feeder.End(1);
    std::vector<CSearchedPartitionInfo*> records(static_cast<size_t>(search.GetSearchedPartitionInfo(nullptr, 0)));
    if (!records.empty()) search.GetSearchedPartitionInfo(records.data(), static_cast<int>(records.size()));
    for (CSearchedPartitionInfo* r : records) {
        scan.records += "volume " + std::to_string(r->m_partitionStartSector) + " " +
                        std::to_string(r->m_cluster0Sector) + " " + std::to_string(r->m_sectorsPerCluster) + "\n";
        delete r;
    }
    for (const auto& e : tree.List(SEARCHER_EXFAT)) {
        scan.records += e.path + " " + std::to_string(e.size) + " " + std::to_string(e.deleted) + "\n";
    }
    return scan;
}

// The fixtures with cut sets and their rests scattered over their free sectors: the grouped tries leave
// the same sets, links, volumes and listing as trying every pair, in blocks of 4 MiB and of 37 sectors.
TEST(JoinIndex, TheScanLeavesWhatTryingEveryPairLeaves) {
    std::mt19937 random(20261210);
    size_t linked = 0, unjoined = 0;
    for (const char* name : {"deep-mbr.img.xz", "deep-gpt.img.xz", "deep-two.img.xz", "exfat-4k.img.xz"}) {
        const auto image = exfattest::FixtureBytes(name);
        const auto pieces = Pieces(image, 12);
        ASSERT_GE(pieces.size(), 8u) << name;
        for (const size_t every : {size_t{1}, size_t{7}}) {
            std::vector<u8> bytes = image;
            const size_t placed = Scatter(bytes, pieces, every, 160, random);
            ASSERT_GE(placed, 40u) << name;
            testsupport::MemoryDevice device(std::move(bytes));
            for (const i64 block : {i64{0}, i64{37}}) {
                SCOPED_TRACE(std::string(name) + " every " + std::to_string(every) + ", block " + std::to_string(block));
                const std::string everyPair = exfattest::ScanTrace(device, true, block, false);
                const std::string grouped = exfattest::ScanTrace(device, true, block, true);
                EXPECT_EQ(grouped, everyPair);
                linked += Count(everyPair, "links 01") + Count(everyPair, "links 11");
                unjoined += everyPair.find("waiting 0/0") == std::string::npos ? 1 : 0;
            }
        }
    }
    // Both outcomes, many times over: rests joined, and cut sets left waiting.
    EXPECT_GT(linked, 100u);
    EXPECT_GT(unjoined, 8u);
}

// Thousands of copies of one directory sector that begins inside a set and ends with a cut one, after the
// volume: nothing joins, every copy waits on both sides. Each new copy is tried once per group, not once
// per waiting copy; the volume and its listing stay those of the disk without the copies.
TEST(JoinIndex, ThousandsOfCopiedDirectorySectorsCostTriesInProportion) {
    const auto image = exfattest::FixtureBytes("deep-mbr.img.xz");
    testsupport::MemoryDevice plain{std::vector<u8>(image)};
    const Scan alone = ScanJoins(plain, true);
    ASSERT_NE(alone.records.find("volume "), std::string::npos);

    // A sector of directory entries that begins inside a set and ends inside another whose file entry it
    // holds: alone on a device, it leaves a cut set and an abridged sector waiting.
    std::vector<u8> copy;
    for (size_t start = kEntry; start + 2 * kSector <= image.size() && copy.empty(); start += kEntry) {
        if (!IsSecondary(image[start]) || !IsSecondary(image[start + kSector])) continue;
        std::vector<u8> bytes(4 * kSector, 0);
        std::copy_n(image.begin() + static_cast<long>(start), kSector, bytes.begin() + kSector);
        testsupport::MemoryDevice one{std::vector<u8>(bytes)};
        if (ScanJoins(one, false).waiting == 2) copy.assign(bytes.begin() + kSector, bytes.begin() + 2 * kSector);
    }
    ASSERT_FALSE(copy.empty()) << "no directory sector that both begins inside a set and ends with a cut one";

    for (const size_t copies : {size_t{150}, size_t{4000}}) {
        SCOPED_TRACE(std::to_string(copies) + " copies");
        std::vector<u8> bytes = image;
        for (size_t c = 0; c < copies; ++c) {
            bytes.insert(bytes.end(), copy.begin(), copy.end());
            bytes.insert(bytes.end(), kSector, 0);
        }
        // The device's last two sectors are only ever read behind others.
        bytes.insert(bytes.end(), 2 * kSector, 0);
        testsupport::MemoryDevice device(std::move(bytes));
        const Scan grouped = ScanJoins(device, true);
        EXPECT_EQ(grouped.waiting, 2 * copies + alone.waiting);
        EXPECT_LE(grouped.tries, 2 * copies + alone.tries);
        EXPECT_EQ(grouped.records, alone.records);
        if (copies <= 150) {
            const Scan everyPair = ScanJoins(device, false);
            EXPECT_EQ(everyPair.records, grouped.records);
            EXPECT_EQ(everyPair.waiting, grouped.waiting);
            // Every copy's cut set against every earlier copy's start, and the reverse.
            EXPECT_GE(everyPair.tries, copies * (copies - 1));
        }
    }
}

}  // namespace
