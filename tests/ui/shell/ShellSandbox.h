// The shell's settings for one test: user defaults in a fresh file and a "PrivateData" list made from
// the shipped one with the test's link addresses and local "VersionCheck", both installed as the
// shell's for the sandbox's lifetime. The interface language is English again after it.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "platform/foundation/Localization.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/ResourcePropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"
#include "ui/shell/ShellSettings.h"

namespace shelltest {

// Language -> link key -> address.
using Links = std::map<std::string, std::map<std::string, std::string>>;

struct ShellSandbox {
    explicit ShellSandbox(const Links& links = {}, int versionCheck = 1) {
        using brelvox::foundation::PropertyList;
        auto data = PropertyList::Load(BRELVOX_SOURCE_DIR "/resources/PrivateData.plist").value_or(PropertyList());
        data.SetInteger("VersionCheck", versionCheck);
        for (const auto& [language, addresses] : links) {
            PropertyList dictionary;
            for (const auto& [key, address] : addresses) dictionary.SetString(key, address);
            data.SetValue(language, dictionary);
        }
        std::filesystem::create_directories(dir / "resources");
        std::filesystem::create_directories(dir / "settings");
        data.Save((dir / "resources" / "PrivateData.plist").string(), brelvox::foundation::PlistFormat::Xml);
        privateData = std::make_unique<brelvox::foundation::ResourcePropertyList>(
            "PrivateData", (dir / "resources").string(), (dir / "settings").string());
        scope = std::make_unique<shell::ScopedSettings>(shell::Settings{&defaults, privateData.get()});
    }
    ~ShellSandbox() { brelvox::foundation::Localization::Main().SetLanguage("en"); }

    testsupport::TempDir dir;
    brelvox::foundation::UserDefaults defaults{(dir / "UserDefaults.plist").string()};
    std::unique_ptr<brelvox::foundation::ResourcePropertyList> privateData;
    std::unique_ptr<shell::ScopedSettings> scope;
};

}  // namespace shelltest
