#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/FileTypeCatalogue.h"
#include "support/TempDir.h"

using namespace brelvox::foundation;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

TEST(FileTypeCatalogue, ReadThroughTheUsersOverlay) {
    TempDir resources, settings;
    WriteFile(resources / "FileType.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>1</key><array><string>doc</string><string>txt</string></array>
<key>2</key><array><string>jpg</string></array>
<key>8</key><string>mp3</string>
<key>16</key><array></array>
</dict></plist>)");
    ResourcePropertyList list("FileType", resources.str(), settings.str());

    auto catalogue = ReadFileTypeCatalogue(list);
    ASSERT_TRUE(catalogue);
    EXPECT_EQ(catalogue->JoinedExtensions(1), "doc;txt");
    EXPECT_EQ(catalogue->Extensions(2), (std::vector<std::string>{"jpg"}));
    EXPECT_EQ(catalogue->JoinedExtensions(8), std::nullopt) << "a value that is no array";
    EXPECT_EQ(catalogue->JoinedExtensions(16), "");
    EXPECT_EQ(catalogue->JoinedExtensions(4), std::nullopt);

    // The user's overlay replaces a key and adds one.
    WriteFile(settings / "FileType.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>2</key><array><string>jpg</string><string>heic</string></array>
<key>4</key><array><string>mov</string></array>
</dict></plist>)");
    catalogue = ReadFileTypeCatalogue(list);
    ASSERT_TRUE(catalogue);
    EXPECT_EQ(catalogue->JoinedExtensions(2), "jpg;heic");
    EXPECT_EQ(catalogue->JoinedExtensions(4), "mov");
    EXPECT_EQ(catalogue->JoinedExtensions(1), "doc;txt");

    // Without the shipped list there is no catalogue.
    EXPECT_FALSE(ReadFileTypeCatalogue(ResourcePropertyList("FileType", (resources / "none").string(), settings.str())));
    WriteFile(resources / "FileType.plist", "<plist><dict><key>1</key");
    EXPECT_FALSE(ReadFileTypeCatalogue(list));
}

}  // namespace
