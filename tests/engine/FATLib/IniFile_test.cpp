// The settings file reader.
#include <gtest/gtest.h>

#include "engine/FATLib/IniFile.h"
#include "support/TempDir.h"

TEST(IniFile, ParserTable) {
    struct Case {
        const char* what;
        std::string text;
        int load;
        const char* section;
        const char* key;
        int read;
        const char* value;
    } cases[] = {
        {"plain", "[UserExperience]\nbRevise=0\n", 0, "UserExperience", "bRevise", 0, "0"},
        {"CRLF", "[UserExperience]\r\nbRevise=0\r\n", 0, "UserExperience", "bRevise", 0, "0"},
        {"no final line end keeps the last character", "[UserExperience]\nbRevise=0", 0, "UserExperience", "bRevise", 0,
         "0"},
        {"blanks belong to keys and values", "[S]\nbRevise = 0\n", 0, "S", "bRevise ", 0, " 0"},
        {"] before [", "x]y[Name\nk=v\n", 0, "Name", "k", 0, "v"},
        {"entry before a section", "k=v\n[S]\n", -1, "S", "k", -1, ""},
        {"section line without ]", "[S\nk=v\n", -1, "S", "k", -1, ""},
        {"later duplicate wins", "[S]\nk=1\nk=2\n", 0, "S", "k", 0, "2"},
        {"missing key", "[S]\nk=1\n", 0, "S", "other", -1, ""},
        {"empty value", "[S]\nk=\n", 0, "S", "k", -1, ""},
        {"missing section", "[S]\nk=1\n", 0, "T", "k", -1, ""},
        {"lines without = are ignored", "[S]\nhello\nk=1\n", 0, "S", "k", 0, "1"},
        {"a long line is one line", "[S]\nk=" + std::string(3000, 'x') + "\n", 0, "S", "k", 0, nullptr},
    };
    testsupport::TempDir dir;
    for (const auto& c : cases) {
        const auto path = dir / "UIConfig.ini";
        testsupport::WriteFile(path, c.text);
        CIniFile ini;
        EXPECT_EQ(ini.Init(path.string()), c.load) << c.what;
        std::string value = "junk";
        EXPECT_EQ(ini.ReadItem(c.section, c.key, value), c.read) << c.what;
        if (c.value != nullptr) {
            EXPECT_EQ(value, c.value) << c.what;
        } else {
            EXPECT_EQ(value, std::string(3000, 'x')) << c.what;
        }
    }
}

TEST(IniFile, ReadingDoesNotAddKeysAndMissingFilesFail) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "a.ini", "[S]\nk=1\n");
    CIniFile ini((dir / "a.ini").string());
    ASSERT_EQ(ini.Init(), 0);
    std::string value;
    EXPECT_EQ(ini.ReadItem("S", "nothing", value), -1);
    EXPECT_EQ(ini.Sections().at("S").size(), 1u);
    CIniFile missing;
    EXPECT_EQ(missing.Init((dir / "none.ini").string()), -1);
}

TEST(IniFile, TrimString) {
    std::string a = " \t x y \t";
    EXPECT_EQ(CIniFile::TrimString(a), 0);
    EXPECT_EQ(a, "x y");
    std::string b = " \t \t";
    EXPECT_EQ(CIniFile::TrimString(b), -1);
}
