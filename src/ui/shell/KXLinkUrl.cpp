#include "ui/shell/KXLinkUrl.h"

#include "platform/foundation/ResourcePropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "ui/shell/ShellSettings.h"

namespace shell {

namespace {

std::optional<std::string> Lookup(const brelvox::foundation::PropertyList& data, const std::string& language,
                                  const std::string& key) {
    const auto dictionary = data.GetValue(language);
    if (!dictionary) return std::nullopt;
    auto address = dictionary->GetString(key);
    if (!address || address->empty()) return std::nullopt;
    return address;
}

}  // namespace

std::optional<std::string> KXLinkUrl::GetUrl(const std::string& key) {
    const auto data = Settings::PrivateData().Read();
    if (!data) return std::nullopt;
    const auto languages = Settings::Defaults().GetStringArray(brelvox::foundation::defaults_key::kAppleLanguages);
    if (!languages.empty() && !languages.front().empty()) {
        if (auto address = Lookup(*data, languages.front(), key)) return address;
    }
    return Lookup(*data, "en", key);
}

}  // namespace shell
