// Every case of tests/fixtures/apfs/hostile.tsv (byte patches of apfs-records.img): recognition, the
// label and a whole scan end cleanly at 512- and 4096-byte sectors (run under ASan and UBSan by the
// test command), with what each case must give.
#include <gtest/gtest.h>

#include <map>

#include "ApfsTestSupport.h"
#include "engine/APFS/APFSRecognize.h"
#include "engine/Common/DebugChannel.h"
#include "engine/VolumeAnalyze/VolumeAnalyzerFactories.h"
#include "support/HostileTable.h"

namespace {

enum class Readme { Listed, Missing, ListedWithoutData, ListedCutToItsExtent, Any };

struct Expected {
    bool recognised = true;
    const char* label = "BRELVOX";
    Readme readme = Readme::Listed;
    int oddObjectMapMessages = 0;
    bool liveFilesFound = true;  // the injected live files are reached
};

const std::map<std::string, Expected>& Expectations() {
    static const std::map<std::string, Expected> table = {
        // Not a container: the scan takes the checkpoint copy at block 2 for one starting there,
        // whose addresses lead nowhere; only the stand-alone tree nodes give files.
        {"nx-block-size-8192", {false, "<not recognised>", Readme::Missing, 0, false}},
        {"nx-type-0", {false, "<not recognised>", Readme::Missing, 0, false}},
        {"nx-type-32", {false, "<not recognised>", Readme::Missing, 0, false}},
        // Nothing lies below a block count of 0.
        {"nx-block-count-0", {true, "BRELVOX", Readme::Missing, 0, false}},
        {"superblock-chain-loop", {true, "", Readme::Missing, 0, false}},
        {"label-value-offset-4060", {true, "", Readme::Missing, 0, false}},
        {"object-map-self-loop", {true, "BRELVOX", Readme::Missing, 0, false}},
        {"object-map-two-node-loop", {true, "BRELVOX", Readme::Missing, 0, false}},
        {"object-map-odd-flags", {true, "BRELVOX", Readme::Missing, 1, false}},
        {"tree-key-count-huge", {}},
        {"value-length-past-block", {true, "BRELVOX", Readme::Missing}},
        {"value-offset-past-block", {true, "BRELVOX", Readme::Missing}},
        {"key-length-past-block", {true, "BRELVOX", Readme::Missing}},
        // The directory record goes; the inode still names the file.
        {"name-511-past-key", {}},
        {"extended-field-count-huge", {true, "BRELVOX", Readme::Missing}},
        {"extended-field-size-past-value", {true, "BRELVOX", Readme::Missing}},
        {"extent-length-huge", {true, "BRELVOX", Readme::ListedWithoutData}},
        {"extent-block-huge", {true, "BRELVOX", Readme::ListedWithoutData}},
        {"folder-is-its-own-parent", {true, "BRELVOX", Readme::Any}},
        // Listed at its recorded size; a copy takes its one block.
        {"data-stream-2-to-62", {true, "BRELVOX", Readme::ListedCutToItsExtent}},
    };
    return table;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(ApfsHostile, EveryCaseEndsCleanlyWithWhatItMustGive) {
    testsupport::TempDir dir;
    const auto cases = testsupport::ReadHostileTable(testsupport::FixturePath("apfs/hostile.tsv"));
    ASSERT_EQ(cases.size(), Expectations().size());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto it = Expectations().find(c.name);
        ASSERT_NE(it, Expectations().end()) << "a case without expectations";
        const Expected& want = it->second;
        const auto image = dir / (c.name + ".img");
        testsupport::ApplyPatches(apfstest::Image("apfs-records"), c.patches, image);
        for (u32 sectorSize : {512u, 4096u}) {
            SCOPED_TRACE("sectors of " + std::to_string(sectorSize));
            testsupport::ImageFileDevice device(image, sectorSize);
            std::unique_ptr<IVolumeAnalyze> analyzer(CreateAPFSVolumeAnalyze(&device, 0));
            EXPECT_EQ(analyzer != nullptr, want.recognised);
            if (analyzer) {
                char label[64] = {};
                analyzer->GetLabel(label, sizeof label);
                EXPECT_STREQ(label, want.label);
            }

            debugchannel::Capture lines;
            apfstest::Scan scan(image, sectorSize);
            const std::string out = lines.Text();
            EXPECT_EQ(Count(out, "!!!!Please notify to Watch this225.!!!!\n"), size_t(want.oddObjectMapMessages));

            const auto* readme = scan.Find("readme.txt");
            switch (want.readme) {
                case Readme::Listed:
                    ASSERT_TRUE(readme);
                    EXPECT_TRUE(scan.Bytes(readme->node));
                    break;
                case Readme::Missing:
                    EXPECT_FALSE(readme);
                    break;
                case Readme::ListedWithoutData:
                    ASSERT_TRUE(readme);
                    EXPECT_EQ(readme->size, 3000);
                    EXPECT_FALSE(scan.Bytes(readme->node));
                    break;
                case Readme::ListedCutToItsExtent:
                    ASSERT_TRUE(readme);
                    EXPECT_EQ(readme->size, i64(1) << 62);
                    EXPECT_EQ(scan.ReadableSize(readme->node), std::optional<i64>(4096));
                    break;
                case Readme::Any:
                    break;
            }
            EXPECT_EQ(scan.Find("Photos/picture.bin") != nullptr, want.liveFilesFound);
        }
    }
}

}  // namespace
