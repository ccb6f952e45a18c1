// The directory-sector analysis refuses a sector by its first eight bytes (the first entry's type and the
// fields there that its entry test reads) before walking its entries: it must never refuse a sector from
// which the walk would take an entry. Checked on every sector of the fixture images offered in order, on
// their directory sectors shifted entry by entry and given every possible first byte (and second byte),
// on their directory sectors cut in two, and on random sectors. Then the searcher, which passes over
// sectors without evidence after that test, against the full analysis of every sector.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include <sstream>

#include "engine/EXFatSearch/ExFatCompleteSearch.h"
#include "engine/EXFatSearch/FDTPreAnalyze.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "engine/EXFatSearch/DeepScanTrace.h"
#include "support/Fixtures.h"
#include "support/MemoryDevice.h"

namespace {

constexpr size_t kSector = 512;
constexpr u64 kTotalSectors = u64{1} << 40;

// The entries the full walk takes from the sector at `at` (with the two sectors behind it) on a fresh
// analyser, after `before` when given (a sector whose entry set may run on into this one).
u32 TakenFresh(const std::vector<u8>& bytes, size_t at, const std::vector<u8>* before = nullptr) {
    CFDTPreAnaylze pre;
    pre.PrepareAnayze(9, 25, kTotalSectors);
    pre.SetQuickRefusal(false);
    if (before != nullptr) pre.Analyze(6, ByteReader(before->data(), before->size()));
    pre.Analyze(7, ByteReader(bytes.data() + at, bytes.size() - at));
    return pre.LastTaken();
}

struct Counts {
    size_t refused = 0;
    size_t taken = 0;
};

// Every first byte on a copy of `sector` (followed by `behind`): whatever the refusal refuses, the walk
// takes nothing from. With `fields`, for every type also every value of the second byte and a few values
// of the other bytes the refusal reads (the first eight).
void EveryFirstByte(std::vector<u8> sector, const std::vector<u8>& behind, Counts& counts, bool fields = false) {
    sector.insert(sector.end(), behind.begin(), behind.end());
    const auto check = [&](const char* what, int value) {
        const u32 taken = TakenFresh(sector, 0);
        if (taken > 0) ++counts.taken;
        if (CFDTPreAnaylze::MayOpenSector(sector.data())) return;
        ++counts.refused;
        EXPECT_EQ(taken, 0u) << "type " << std::hex << int{sector[0]} << ", " << what << " " << value;
    };
    const std::vector<u8> original(sector.begin(), sector.begin() + 8);
    for (int type = 0; type < 256; ++type) {
        std::copy(original.begin(), original.end(), sector.begin());
        sector[0] = static_cast<u8>(type);
        check("as it was", 0);
        if (!fields) continue;
        for (int value = 0; value < 256; ++value) {
            sector[1] = static_cast<u8>(value);
            check("second byte", value);
        }
        sector[1] = original[1];
        for (size_t at = 2; at < 8; ++at) {
            for (const u8 value : {u8{0}, u8{1}, u8{0x20}, u8{0x80}, u8{0xFF}}) {
                sector[at] = value;
                check("byte at 2..7", static_cast<int>(at * 256 + value));
            }
            sector[at] = original[at];
        }
    }
}

TEST(QuickRefusal, NeverRefusesWhatTheWalkTakes) {
    std::mt19937 random(20261210);
    Counts counts;
    size_t directorySectors = 0;
    for (const char* name : {"deep-mbr.img.xz", "deep-gpt.img.xz", "deep-two.img.xz", "exfat-4k.img.xz"}) {
        const auto image = exfattest::FixtureBytes(name);
        ASSERT_GE(image.size(), 16 * kSector) << name;
        const size_t sectors = image.size() / kSector;
        // Every sector offered in order, as the deep search offers them, without the refusal and then with
        // it (one pass after the other: the entry set being read is shared by the process): the same
        // entries taken, the same sets finished.
        struct Step {
            bool finished = false;
            u32 taken = 0;
            i64 setStart = -2;
            size_t inUse = 0, deleted = 0;
        };
        const auto pass = [&](bool quickRefusal) {
            CFDTPreAnaylze pre;
            pre.PrepareAnayze(9, 25, kTotalSectors);
            pre.SetQuickRefusal(quickRefusal);
            std::vector<Step> steps(sectors);
            for (size_t s = 0; s + 2 < sectors; ++s) {
                if (image[s * kSector] == 0) continue;
                Step& step = steps[s];
                step.finished = pre.Analyze(static_cast<long long>(s),
                                            ByteReader(image.data() + s * kSector, image.size() - s * kSector));
                step.taken = pre.LastTaken();
                if (step.finished) {
                    if (const auto set = pre.TakeFileSet()) {
                        step.setStart = set->GetFirstSector();
                        step.inUse = set->InUseFiles().size();
                        step.deleted = set->DeletedFiles().size();
                    }
                }
            }
            return steps;
        };
        const auto full = pass(false);
        const auto quick = pass(true);
        std::vector<size_t> directory;
        for (size_t s = 0; s < sectors; ++s) {
            EXPECT_EQ(quick[s].finished, full[s].finished) << name << " sector " << s;
            EXPECT_EQ(quick[s].taken, full[s].taken) << name << " sector " << s;
            EXPECT_EQ(quick[s].setStart, full[s].setStart) << name << " sector " << s;
            EXPECT_EQ(quick[s].inUse, full[s].inUse) << name << " sector " << s;
            EXPECT_EQ(quick[s].deleted, full[s].deleted) << name << " sector " << s;
            if (full[s].taken > 0) directory.push_back(s);
            if (image[s * kSector] != 0 && !CFDTPreAnaylze::MayOpenSector(image.data() + s * kSector)) {
                ++counts.refused;
                EXPECT_EQ(full[s].taken, 0u) << name << " sector " << s;
            }
        }
        ASSERT_GE(directory.size(), 3u) << name;
        directorySectors += directory.size();
        for (size_t d = 0; d < directory.size(); d += std::max<size_t>(1, directory.size() / 8)) {
            const size_t s = directory[d];
            const auto at = image.begin() + static_cast<long>(s * kSector);
            // Shifted by each whole entry: every entry of the sector comes first once, the sector behind
            // filling the end. Then the same with every entry's in-use bit cleared (deleted entries).
            for (int deleted = 0; deleted < 2; ++deleted) {
                std::vector<u8> run(at, at + static_cast<long>(3 * kSector));
                if (deleted != 0) {
                    for (size_t e = 0; e < run.size(); e += 32) run[e] &= 0x7F;
                }
                for (size_t slot = 0; slot < kSector / 32; ++slot) {
                    std::vector<u8> shifted(run.begin() + static_cast<long>(slot * 32), run.end());
                    shifted.resize(3 * kSector, 0);
                    const u32 taken = TakenFresh(shifted, 0);
                    if (taken > 0) ++counts.taken;
                    if (!CFDTPreAnaylze::MayOpenSector(shifted.data())) {
                        ++counts.refused;
                        EXPECT_EQ(taken, 0u) << name << " sector " << s << " slot " << slot;
                    }
                    if (slot < 4) {
                        const std::vector<u8> sector(shifted.begin(), shifted.begin() + kSector);
                        const std::vector<u8> behind(shifted.begin() + kSector, shifted.end());
                        EveryFirstByte(sector, behind, counts, deleted == 0 && slot == 0);
                    }
                }
            }
            // Cut after each entry: the sector holding the rest follows one whose last set runs on.
            for (size_t slot = 1; slot < kSector / 32; ++slot) {
                std::vector<u8> before(kSector, 0);
                std::copy(at, at + static_cast<long>(slot * 32), before.end() - static_cast<long>(slot * 32));
                std::vector<u8> rest(at + static_cast<long>(slot * 32), at + static_cast<long>(3 * kSector));
                rest.resize(3 * kSector, 0);
                before.insert(before.end(), rest.begin(), rest.end());
                const u32 taken = TakenFresh(rest, 0, &before);
                if (taken > 0) ++counts.taken;
                if (!CFDTPreAnaylze::MayOpenSector(rest.data())) {
                    ++counts.refused;
                    EXPECT_EQ(taken, 0u) << name << " sector " << s << " cut at " << slot;
                }
            }
            // Random bytes written over a random entry.
            for (int round = 0; round < 64; ++round) {
                std::vector<u8> mutated(at, at + static_cast<long>(3 * kSector));
                const size_t entry = random() % 16;
                for (int k = 0; k < 4; ++k) mutated[entry * 32 + random() % 32] = static_cast<u8>(random());
                const u32 taken = TakenFresh(mutated, 0);
                if (taken > 0) ++counts.taken;
                if (!CFDTPreAnaylze::MayOpenSector(mutated.data())) {
                    ++counts.refused;
                    EXPECT_EQ(taken, 0u) << name << " sector " << s << " round " << round;
                }
            }
        }
    }
    // Random sectors, and random sectors opening with each type.
    for (int round = 0; round < 2000; ++round) {
        std::vector<u8> bytes(3 * kSector);
        for (u8& b : bytes) b = static_cast<u8>(random());
        const u32 taken = TakenFresh(bytes, 0);
        if (!CFDTPreAnaylze::MayOpenSector(bytes.data())) {
            ++counts.refused;
            EXPECT_EQ(taken, 0u) << "random round " << round;
        }
    }
    EXPECT_GE(directorySectors, 12u);
    // The table reaches both outcomes many times over.
    EXPECT_GT(counts.refused, 10000u);
    EXPECT_GT(counts.taken, 1000u);
}

// Fills every `every`-th all-zero sector of the device with bytes of one kind after another: random
// bytes, text, random bytes behind each entry type, behind the first bytes of an up-case table, of a
// FAT, behind a 0 byte and behind a boot sector's name, copies of directory sectors with a random first
// byte, and (where three free sectors follow each other) a directory sector full to its end, a free
// sector and another directory sector.
void Litter(std::vector<u8>& bytes, size_t every, std::mt19937& random) {
    const u8 types[] = {0x85, 0x05, 0xC0, 0x40, 0xC1, 0x41, 0x83, 0x03, 0x81, 0x82};
    // Directory sectors, and a sector full of sets that end with it: a set of four entries (a file, its
    // stream and two names) found on the disk, four times over.
    std::vector<size_t> directory;
    std::vector<u8> full;
    for (size_t at = 0; at + 2 * kSector <= bytes.size(); at += 32) {
        if (at % kSector == 0 && bytes[at] == 0x85 && bytes[at + 32] == 0xC0) directory.push_back(at);
        if (full.empty() && bytes[at] == 0x85 && bytes[at + 1] == 3 && bytes[at + 32] == 0xC0 &&
            bytes[at + 64] == 0xC1 && bytes[at + 96] == 0xC1) {
            for (int k = 0; k < 4; ++k) full.insert(full.end(), bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + 128));
        }
    }
    ASSERT_FALSE(directory.empty());
    const auto isFree = [&](size_t at) {
        return at + kSector <= bytes.size() &&
               std::all_of(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + kSector),
                           [](u8 b) { return b == 0; });
    };
    // Copied directory sectors are few: cut sets waiting for their rest are joined pairwise.
    size_t zeros = 0, kind = 0, copies = 0;
    for (size_t at = 0; at + kSector <= bytes.size(); at += kSector) {
        const auto sector = bytes.begin() + static_cast<long>(at);
        if (!isFree(at) || ++zeros % every != 0) continue;
        if (kind % 9 >= 7 && copies >= 48) kind += 9 - kind % 9;
        if (kind % 9 == 8) {
            ++kind;
            if (full.empty() || !isFree(at + kSector) || !isFree(at + 2 * kSector)) continue;
            ++copies;
            std::copy(full.begin(), full.end(), sector);
            std::copy_n(bytes.begin() + static_cast<long>(directory[random() % directory.size()]), kSector,
                        sector + 2 * kSector);
            at += 2 * kSector;
            continue;
        }
        for (size_t k = 0; k < kSector; ++k) sector[static_cast<long>(k)] = static_cast<u8>(random());
        switch (kind++ % 9) {
            case 0: break;
            case 1: {
                const std::string text = "content of file 12345\nAnd a line of text, @home.\n";
                for (size_t k = 0; k < kSector; ++k) sector[static_cast<long>(k)] = static_cast<u8>(text[k % text.size()]);
                break;
            }
            case 2: sector[0] = types[random() % std::size(types)]; break;
            case 3: {
                const u8 head[] = {0, 0, 1, 0, 2, 0, 3, 0};
                std::copy(std::begin(head), std::end(head), sector);
                break;
            }
            case 4: std::fill(sector, sector + 8, u8{0xFF}), sector[0] = 0xF8; break;
            case 5: sector[0] = 0; break;
            case 6: std::copy_n("EXFAT   ", 8, sector + 3); break;
            case 7: {
                ++copies;
                const size_t from = directory[random() % directory.size()];
                std::copy_n(bytes.begin() + static_cast<long>(from), kSector, sector);
                sector[0] = static_cast<u8>(random());
                break;
            }
        }
    }
}

// The searcher passes over sectors that give no evidence at the cost of a word test: it must leave
// exactly what analysing every sector leaves (sets, volumes, listing), on the fixtures as they are and
// with their free sectors littered, in blocks of 4 MiB and of 37 sectors.
TEST(QuickRefusal, TheSearcherPassesOverSectorsAsTheFullAnalysisDoes) {
    std::mt19937 random(1210);
    for (const char* name : {"deep-mbr.img.xz", "deep-gpt.img.xz", "deep-two.img.xz", "exfat-4k.img.xz"}) {
        const auto image = exfattest::FixtureBytes(name);
        for (const size_t every : {size_t{0}, size_t{2}}) {
            std::vector<u8> bytes = image;
            if (every != 0) Litter(bytes, every, random);
            testsupport::MemoryDevice device(std::move(bytes));
            for (const i64 block : {i64{0}, i64{37}}) {
                SCOPED_TRACE(std::string(name) + " littered every " + std::to_string(every) + ", block " +
                             std::to_string(block));
                const std::string full = exfattest::ScanTrace(device, false, block);
                const std::string quick = exfattest::ScanTrace(device, true, block);
                EXPECT_EQ(quick, full);
                if (every == 0) {
                    EXPECT_NE(full.find("volume "), std::string::npos);
                }
                EXPECT_GT(std::count(full.begin(), full.end(), '\n'), 40);
            }
        }
    }
}

}  // namespace
