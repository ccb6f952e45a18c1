// The "ends" families: real files made at test time by installed tools (tests/fixtures/raw/make-ends.sh),
// each planted at a sector start with random bytes right after its zero-padded last sector, so a file
// that does not end by its own structure runs on. Every file must come back at its start with its own
// size and bytes (SHA-256), one test per family.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "RawTestSupport.h"
#include "RecordingTreeBuilder.h"
#include "engine/RAWSearch/Controller/RAWSearchController.h"
#include "engine/RAWSearch/Tree/RAWFileNode.h"
#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

using rawtest::MemoryDevice;
using rawtest::RecordingTreeBuilder;

namespace {

struct Planted {
    std::string name, family;
    i64 start = 0;
    std::vector<unsigned char> bytes;
};

struct Found {
    std::string name;
    i64 size = 0;
};

// Made once for the whole suite: the files, the image and what the search found in it.
struct Families {
    std::vector<Planted> planted;
    std::vector<unsigned char> image;
    std::map<i64, Found> found;  // by start sector
    std::string error;
};

Families& Shared() {
    static Families families = [] {
        Families f;
        testsupport::TempDir dir;
        const std::string script = testsupport::FixturePath("raw/make-ends.sh").string();
        std::string out;
        if (testsupport::RunCommand("'" + script + "' '" + dir.str() + "' 2>&1", &out) != 0) {
            f.error = "make-ends.sh failed: " + out;
            return f;
        }
        std::ifstream list(dir.path() / "families.tsv");
        std::mt19937 rng(55);
        f.image.assign(64 * 1024, 0);
        for (std::string line; std::getline(list, line);) {
            std::istringstream fields(line);
            Planted p;
            std::getline(fields, p.name, '\t');
            std::getline(fields, p.family, '\t');
            std::ifstream in(dir.path() / p.name, std::ios::binary);
            p.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            p.start = static_cast<i64>(f.image.size() / 512);
            f.image.insert(f.image.end(), p.bytes.begin(), p.bytes.end());
            f.image.resize((f.image.size() + 511) / 512 * 512, 0);
            // Random bytes after it at once: two sectors, none beginning like a file.
            for (int i = 0; i < 1024; ++i) f.image.push_back(static_cast<unsigned char>(i % 512 == 0 ? 0x11 : rng() % 255 + 1));
            f.planted.push_back(std::move(p));
        }
        f.image.resize(f.image.size() + 128 * 1024, 0);
        MemoryDevice device(f.image);
        RecordingTreeBuilder builder;
        if (!rawtest::SearchInBlocks(device, builder)) {
            f.error = "the search did not start";
            return f;
        }
        for (const auto& r : builder.Files()) {
            const DataRun* run = static_cast<CRAWFileNode*>(r.node)->GetDataRunList()->GetFirst();
            if (run != nullptr) f.found[run->start] = Found{r.name, r.size};
        }
        return f;
    }();
    return families;
}

class CarvingEnds : public ::testing::TestWithParam<std::string> {};

TEST_P(CarvingEnds, EveryFileComesBackWithItsOwnBytes) {
    const Families& f = Shared();
    ASSERT_TRUE(f.error.empty()) << f.error;
    int files = 0;
    for (const Planted& p : f.planted) {
        if (p.family != GetParam()) continue;
        ++files;
        const auto it = f.found.find(p.start);
        ASSERT_NE(it, f.found.end()) << p.name << " not found at sector " << p.start;
        const std::string ext = it->second.name.substr(it->second.name.rfind('.') + 1);
        EXPECT_EQ(ext, GetParam()) << p.name << " listed as " << it->second.name;
        EXPECT_EQ(it->second.size, static_cast<i64>(p.bytes.size())) << p.name << " ends at "
                                                                    << p.bytes.size() % 512 << " in its last sector";
        if (it->second.size <= 0 || static_cast<size_t>(p.start * 512 + it->second.size) > f.image.size()) continue;
        EXPECT_EQ(testsupport::Sha256Hex(f.image.data() + p.start * 512, static_cast<size_t>(it->second.size)),
                  testsupport::Sha256Hex(p.bytes.data(), p.bytes.size()))
            << p.name;
    }
    EXPECT_GE(files, 3) << "the family has its files";
}

INSTANTIATE_TEST_SUITE_P(Families, CarvingEnds,
                         ::testing::Values("GZ", "MBOX", "JPG", "GIF", "PDF", "MP3", "MID", "SVG", "PLIST"));

}  // namespace
