// The directory-sector analysis refuses a sector by its first entry's type before walking its entries: it
// must never refuse a sector from which the walk would take an entry. Checked on every sector of the
// fixture images offered in order, on their directory sectors shifted entry by entry and given every
// possible first byte, on their directory sectors cut in two, and on random sectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "engine/EXFatSearch/FDTPreAnalyze.h"
#include "support/Fixtures.h"

namespace {

constexpr size_t kSector = 512;
constexpr u64 kTotalSectors = u64{1} << 40;

std::vector<u8> ReadImage(const char* name) {
    const auto path = testsupport::UnpackXzShared(testsupport::FixturePath(std::string("exfat/") + name));
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
// takes nothing from.
void EveryFirstByte(std::vector<u8> sector, const std::vector<u8>& behind, Counts& counts) {
    sector.insert(sector.end(), behind.begin(), behind.end());
    for (int type = 0; type < 256; ++type) {
        sector[0] = static_cast<u8>(type);
        const u32 taken = TakenFresh(sector, 0);
        if (taken > 0) ++counts.taken;
        if (CFDTPreAnaylze::MayOpenSector(static_cast<u8>(type))) continue;
        ++counts.refused;
        EXPECT_EQ(taken, 0u) << "first byte " << std::hex << type;
    }
}

TEST(QuickRefusal, NeverRefusesWhatTheWalkTakes) {
    std::mt19937 random(20261210);
    Counts counts;
    size_t directorySectors = 0;
    for (const char* name : {"deep-mbr.img.xz", "deep-gpt.img.xz", "deep-two.img.xz", "exfat-4k.img.xz"}) {
        const auto image = ReadImage(name);
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
            if (image[s * kSector] != 0 && !CFDTPreAnaylze::MayOpenSector(image[s * kSector])) {
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
                    if (!CFDTPreAnaylze::MayOpenSector(shifted[0])) {
                        ++counts.refused;
                        EXPECT_EQ(taken, 0u) << name << " sector " << s << " slot " << slot;
                    }
                    if (slot < 4) {
                        const std::vector<u8> sector(shifted.begin(), shifted.begin() + kSector);
                        const std::vector<u8> behind(shifted.begin() + kSector, shifted.end());
                        EveryFirstByte(sector, behind, counts);
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
                if (!CFDTPreAnaylze::MayOpenSector(rest[0])) {
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
                if (!CFDTPreAnaylze::MayOpenSector(mutated[0])) {
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
        if (!CFDTPreAnaylze::MayOpenSector(bytes[0])) {
            ++counts.refused;
            EXPECT_EQ(taken, 0u) << "random round " << round;
        }
    }
    EXPECT_GE(directorySectors, 12u);
    // The table reaches both outcomes many times over.
    EXPECT_GT(counts.refused, 10000u);
    EXPECT_GT(counts.taken, 1000u);
}

}  // namespace
