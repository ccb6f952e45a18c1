// Archives whose entries start sectors: the signature search lists each archive once, at its own start
// and size, however many of its entries' local headers begin a sector (real archives made at test time by
// tests/fixtures/raw/make-archives.py with Python's zipfile).
#include <gtest/gtest.h>

#include <fstream>
#include <map>

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

std::vector<unsigned char> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(CarvingArchives, AnArchiveIsOneFileHoweverManyOfItsEntriesStartASector) {
    testsupport::TempDir dir;
    const std::string script = testsupport::FixturePath("raw/make-archives.py").string();
    std::string out;
    ASSERT_EQ(testsupport::RunCommand("python3 '" + script + "' '" + dir.str() + "'", &out), 0) << out;
    // Each archive at a sector start, zero-padded, with noise between them (no sector of it a signature).
    std::vector<unsigned char> image(64 * 1024, 0);
    std::map<i64, std::vector<unsigned char>> planted;
    for (const char* name : {"entries.zip", "app.jar"}) {
        const std::vector<unsigned char> file = ReadAll(dir.path() / name);
        ASSERT_GT(file.size(), 1000000u) << name;
        planted[static_cast<i64>(image.size() / 512)] = file;
        image.insert(image.end(), file.begin(), file.end());
        image.resize((image.size() + 511) / 512 * 512 + 512, 0);
        for (int k = 0; k < 4096; ++k) image.push_back(static_cast<unsigned char>(k % 8 == 0 ? 0x11 : 0x80 + k % 97));
    }
    image.resize(image.size() + 128 * 1024, 0);

    MemoryDevice device(image);
    RecordingTreeBuilder builder;
    ASSERT_TRUE(rawtest::SearchInBlocks(device, builder));

    const auto files = builder.Files();
    ASSERT_EQ(files.size(), planted.size()) << "one file per archive, none starting at an entry";
    for (const auto& found : files) {
        DataRun* run = static_cast<CRAWFileNode*>(found.node)->GetDataRunList()->GetFirst();
        ASSERT_NE(run, nullptr);
        const auto it = planted.find(run->start);
        ASSERT_NE(it, planted.end()) << found.name << " at " << run->start;
        EXPECT_EQ(found.size, static_cast<i64>(it->second.size())) << found.name;
        EXPECT_EQ(found.name.substr(found.name.size() - 4), ".ZIP") << "a JAR is no iOS package";
        const auto begin = image.begin() + run->start * 512;
        EXPECT_EQ(testsupport::Sha256Hex(&*begin, static_cast<size_t>(found.size)),
                  testsupport::Sha256Hex(it->second.data(), it->second.size()))
            << found.name;
    }
}
