#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyList.h"
#include "support/TempDir.h"

using brelvox::foundation::PlistFormat;
using brelvox::foundation::PropertyList;
using brelvox::foundation::WriteFileAtomically;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

PropertyList Sample() {
    PropertyList list;
    list.SetString("SavePath", "/home/ü/Saved Results");
    list.SetBool("Participate", false);
    list.SetInteger("VersionCheck", 42);
    list.SetStringArray("AppleLanguages", {"de-AT", "en"});
    PropertyList links;
    links.SetString("IniURL", "https://example.org/update.plist");
    list.SetValue("en", links);
    return list;
}

size_t FilesIn(const std::filesystem::path& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

TEST(PropertyList, RoundTripThroughXmlAndBinary) {
    TempDir dir;
    for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        const std::string path = (dir / "list.plist").string();
        ASSERT_TRUE(Sample().Save(path, format));
        const std::string bytes = ReadFile(path);
        EXPECT_EQ(bytes.rfind(format == PlistFormat::Binary ? "bplist00" : "<?xml", 0), 0u);
        const auto back = PropertyList::Load(path);
        ASSERT_TRUE(back.has_value());
        EXPECT_TRUE(*back == Sample());
        EXPECT_EQ(back->GetString("SavePath"), "/home/ü/Saved Results");
        EXPECT_EQ(back->GetBool("Participate"), false);
        EXPECT_EQ(back->GetInteger("VersionCheck"), 42);
        EXPECT_EQ(back->GetStringArray("AppleLanguages"), (std::vector<std::string>{"de-AT", "en"}));
        EXPECT_EQ(back->GetValue("en")->GetString("IniURL"), "https://example.org/update.plist");
    }
}

TEST(PropertyList, TypedGettersAnswerNothingForOtherKinds) {
    PropertyList list = Sample();
    list.SetString("Number", "17");
    EXPECT_EQ(list.GetInteger("Number"), 17);  // integers may be stored as text
    EXPECT_FALSE(list.GetString("VersionCheck").has_value());
    EXPECT_FALSE(list.GetBool("SavePath").has_value());
    EXPECT_FALSE(list.GetInteger("SavePath").has_value());
    EXPECT_FALSE(list.GetStringArray("SavePath").has_value());
    EXPECT_FALSE(list.GetString("absent").has_value());
    list.Remove("SavePath");
    EXPECT_FALSE(list.Has("SavePath"));
}

TEST(PropertyList, DamagedBytesAreRefused) {
    const std::string xml = Sample().Serialize(PlistFormat::Xml);
    const std::string bin = Sample().Serialize(PlistFormat::Binary);
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"plain text", "not a property list at all"},
        {"xml cut in half", xml.substr(0, xml.size() / 2)},
        {"binary header only", "bplist00"},
        {"binary cut in half", bin.substr(0, bin.size() / 2)},
        {"binary trailer damaged", bin.substr(0, bin.size() - 8) + std::string(8, '\xff')},
    };
    for (const auto& [what, bytes] : cases) EXPECT_FALSE(PropertyList::Parse(bytes).has_value()) << what;
}

TEST(PropertyList, OversizedAndMissingFilesAreRefused) {
    TempDir dir;
    EXPECT_FALSE(PropertyList::Load((dir / "absent.plist").string()).has_value());
    EXPECT_FALSE(PropertyList::Load(dir.str()).has_value()) << "a folder is not a list";
    const std::string big = (dir / "big.plist").string();
    WriteFile(big, "x");
    std::filesystem::resize_file(big, PropertyList::kMaxFileBytes + 1);  // sparse
    EXPECT_FALSE(PropertyList::Load(big).has_value());
}

TEST(AtomicFile, AFailedWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string path = (dir / "settings.plist").string();
    ASSERT_TRUE(Sample().Save(path, PlistFormat::Xml));
    const std::string before = ReadFile(path);

    // A new content larger than the file-size limit cannot be written.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = before.size() + 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    PropertyList bigger = Sample();
    bigger.SetString("History", std::string(4096, 'h'));
    std::string error;
    const bool saved = bigger.Save(path, PlistFormat::Xml, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(FilesIn(dir.path()), 1u) << "the temporary file is removed";
}

TEST(AtomicFile, MissingFolderIsAFailureAndReplacementIsWhole) {
    TempDir dir;
    EXPECT_FALSE(WriteFileAtomically((dir / "no/such/folder/x").string(), "data"));
    const std::string path = (dir / "x").string();
    ASSERT_TRUE(WriteFileAtomically(path, "old content"));
    ASSERT_TRUE(WriteFileAtomically(path, "new"));
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

}  // namespace
