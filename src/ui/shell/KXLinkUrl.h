// The one place where the addresses of web pages and of the version list are looked up: the
// "PrivateData" list holds one dictionary per interface language ("en" required), each mapping a
// link key to an address. Keys: "IniURL" (the version list), "Translate", "OnlineHelp",
// "SupportTeam", "ProUpdateURL" (the download page), "AboutURL", "APFS_HELP_URL". None is configured
// by default: the program then opens nothing and fetches nothing.
#pragma once

#include <optional>
#include <string>

namespace shell {

class KXLinkUrl {
public:
    // The address of key in the interface language's dictionary when it is there and not empty,
    // else in "en"'s; nothing when neither has one. Read afresh on every call.
    static std::optional<std::string> GetUrl(const std::string& key);
};

}  // namespace shell
