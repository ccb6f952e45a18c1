#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/ConfigPaths.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/ResourcePropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"

using namespace brelvox::foundation;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const char* kShipped = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>PRODUCTNAME</key><string>Brelvox</string>
<key>VersionCheck</key><integer>3</integer>
<key>upDataTimeStr</key><string></string>
</dict></plist>)";

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_old.empty() ? unsetenv(m_name) : setenv(m_name, m_old.c_str(), 1); }

private:
    const char* m_name;
    std::string m_old;
};

struct Folders {
    TempDir resources, settings;
    Folders() { WriteFile(resources / "PrivateData.plist", kShipped); }
    ResourcePropertyList List() const { return ResourcePropertyList("PrivateData", resources.str(), settings.str()); }
};

TEST(ResourcePropertyList, WritesGoToTheOverlayAndNeverToTheResource) {
    Folders f;
    auto list = f.List();
    ASSERT_TRUE(list.SetString("SavePath", "/media/results"));
    ASSERT_TRUE(list.SetString("upDataTimeStr", "2024-05-03 10:00:00"));
    EXPECT_EQ(ReadFile(f.resources / "PrivateData.plist"), kShipped);

    const auto merged = list.Read();
    ASSERT_TRUE(merged.has_value());
    EXPECT_EQ(merged->GetString("SavePath"), "/media/results");
    EXPECT_EQ(merged->GetString("PRODUCTNAME"), "Brelvox");
    EXPECT_EQ(merged->GetInteger("VersionCheck"), 3);

    // The overlay holds only what differs from the shipped list.
    const auto overlay = PropertyList::Load((f.settings / "PrivateData.plist").string());
    ASSERT_TRUE(overlay.has_value());
    auto keys = overlay->Keys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"SavePath", "upDataTimeStr"}));

    // A value set back to the shipped one leaves the overlay; a newer shipped value then shows.
    ASSERT_TRUE(list.SetString("upDataTimeStr", ""));
    EXPECT_FALSE(PropertyList::Load((f.settings / "PrivateData.plist").string())->Has("upDataTimeStr"));
    WriteFile(f.resources / "PrivateData.plist",
              std::string(kShipped).replace(std::string(kShipped).find("<integer>3"), 10, "<integer>4"));
    EXPECT_EQ(list.Read()->GetInteger("VersionCheck"), 4);
}

TEST(ResourcePropertyList, MissingResourceWritesNothingAndDamagedOverlayIsIgnored) {
    TempDir empty, settings;
    ResourcePropertyList missing("PrivateData", empty.str(), settings.str());
    EXPECT_FALSE(missing.Read().has_value());
    EXPECT_FALSE(missing.SetString("SavePath", "/x"));
    EXPECT_FALSE(missing.GetString("SavePath").has_value());
    EXPECT_FALSE(std::filesystem::exists(settings / "PrivateData.plist"));

    Folders f;
    WriteFile(f.settings / "PrivateData.plist", "<plist><dict><key>broken");
    EXPECT_EQ(f.List().GetString("PRODUCTNAME"), "Brelvox");
    ASSERT_TRUE(f.List().SetString("SavePath", "/y"));
    EXPECT_EQ(f.List().GetString("SavePath"), "/y");
}

TEST(ResourcePropertyList, TheShippedListsParse) {
    const std::string folder = std::string(BRELVOX_SOURCE_DIR) + "/resources";
    TempDir settings;
    ResourcePropertyList privateData("PrivateData", folder, settings.str());
    EXPECT_EQ(privateData.GetString(private_data::kProductName), "Brelvox");
    const auto types = ResourcePropertyList("FileType", folder, settings.str()).Read();
    ASSERT_TRUE(types.has_value());
    for (const char* bit : {"1", "2", "4", "8", "16", "32"}) {
        const auto list = types->GetStringArray(bit);
        ASSERT_TRUE(list.has_value()) << bit;
        EXPECT_FALSE(list->empty()) << bit;
    }
    EXPECT_FALSE(types->Has("64"));
}

TEST(UserDefaults, ValuesSurviveANewProcessView) {
    TempDir settings;
    const std::string file = (settings / "Brelvox/UserDefaults.plist").string();
    {
        UserDefaults defaults(file);
        EXPECT_FALSE(defaults.GetBool(defaults_key::kParticipate));
        EXPECT_TRUE(defaults.GetBool(defaults_key::kParticipate, true));
        ASSERT_TRUE(defaults.SetBool(defaults_key::kParticipate, true));
        ASSERT_TRUE(defaults.SetString(defaults_key::kRsfPath, "/tmp/a.rsf"));
        ASSERT_TRUE(defaults.SetStringArray(defaults_key::kAppleLanguages, {"fr", "en"}));
        ASSERT_TRUE(defaults.SetInteger("Counter", 7));
    }
    UserDefaults again(file);
    EXPECT_TRUE(again.GetBool(defaults_key::kParticipate));
    EXPECT_EQ(again.GetString(defaults_key::kRsfPath), "/tmp/a.rsf");
    EXPECT_EQ(again.GetStringArray(defaults_key::kAppleLanguages), (std::vector<std::string>{"fr", "en"}));
    EXPECT_EQ(again.GetInteger("Counter"), 7);
    ASSERT_TRUE(again.Remove(defaults_key::kRsfPath));
    again.Reload();
    EXPECT_FALSE(again.Has(defaults_key::kRsfPath));
}

TEST(UserDefaults, BooleansStoredAsText) {
    TempDir settings;
    UserDefaults defaults((settings / "d.plist").string());
    const std::vector<std::pair<std::string, bool>> cases = {{"YES", true}, {"NO", false}, {"1", true}, {"0", false}};
    for (const auto& [text, expected] : cases) {
        defaults.SetString("ShowExisting", text);
        EXPECT_EQ(defaults.GetBool("ShowExisting", !expected), expected) << text;
    }
    defaults.SetString("ShowExisting", "maybe");
    EXPECT_TRUE(defaults.GetBool("ShowExisting", true));
}

TEST(ConfigPaths, SettingsFolderFollowsXdg) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/cfg");
        EXPECT_EQ(UserConfigDirectory(), "/srv/cfg/Brelvox");
    }
    ScopedEnv home("HOME", "/home/someone");
    for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/cfg"}) {
        ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(UserConfigDirectory(), "/home/someone/.config/Brelvox") << (ignored ? ignored : "(unset)");
    }
}

// The resources folder: the one set, else the one BRELVOX_RESOURCES names, else the one found
// beside the program or compiled in.
TEST(ConfigPaths, ResourceFolderFromTheSettingTheEnvironmentOrTheBuild) {
    {
        ScopedEnv unset("BRELVOX_RESOURCES", nullptr);
        const std::string found = ResourceDirectory();
        EXPECT_TRUE(std::filesystem::is_regular_file(found + "/FileType.plist")) << found;
    }
    ScopedEnv named("BRELVOX_RESOURCES", "/srv/brelvox/resources");
    EXPECT_EQ(ResourceDirectory(), "/srv/brelvox/resources");
    SetResourceDirectory("/opt/mine");
    EXPECT_EQ(ResourceDirectory(), "/opt/mine");
    SetResourceDirectory("");
    EXPECT_EQ(ResourceDirectory(), "/srv/brelvox/resources");
}

TEST(Localization, LanguageThenEnglishThenKey) {
    TempDir tables;
    WriteFile(tables / "en.plist",
              "<plist><dict><key>A</key><string>A en</string><key>B</key><string>B en</string>"
              "<key>C</key><string>C en</string></dict></plist>");
    WriteFile(tables / "de.plist",
              "<plist><dict><key>A</key><string>A de</string><key>B</key><string>B de</string></dict></plist>");
    WriteFile(tables / "de-AT.plist", "<plist><dict><key>A</key><string>A at</string></dict></plist>");
    Localization texts(tables.str());
    struct Case {
        const char* language;
        const char* key;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"de-AT", "A", "A at"}, {"de-AT", "B", "B de"}, {"de-AT", "C", "C en"},
        {"de-AT", "D", "D"},    {"de", "A", "A de"},    {"fr", "A", "A en"},
        {"en", "Z", "Z"},       {"../de", "A", "A en"}, {"", "B", "B en"},
    };
    for (const auto& c : cases) {
        texts.SetLanguage(c.language);
        EXPECT_EQ(texts.Text(c.key), c.text) << c.language << " " << c.key;
    }
}

TEST(Localization, ShippedEnglishTableHasTheCategoryTitles) {
    Localization texts(std::string(BRELVOX_SOURCE_DIR) + "/resources/l10n", "xx");
    EXPECT_EQ(texts.Text("DYD_TWO_PICTURE_TITLE"), "Pictures");
    EXPECT_EQ(texts.Text("NO_SUCH_KEY"), "NO_SUCH_KEY");
}

}  // namespace
