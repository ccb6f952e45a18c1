#include "ui/app/TestSwitch.h"

#include <array>

namespace app {

namespace {

// Every setting the program knows; an issue that adds one adds its name here and describes it in
// TestSwitch.h.
constexpr std::array<std::string_view, 2> kKnownSettings = {"type-roots", "menu-item"};

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\n\r");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t\n\r");
    return text.substr(first, last - first + 1);
}

bool Known(std::string_view name) {
    for (std::string_view known : kKnownSettings)
        if (known == name) return true;
    return false;
}

}  // namespace

std::optional<TestSwitch> TestSwitch::Parse(std::string_view value, std::string* error) {
    TestSwitch settings;
    size_t at = 0;
    while (at <= value.size()) {
        const size_t end = std::min(value.find(';', at), value.size());
        const std::string_view item = Trimmed(value.substr(at, end - at));
        at = end + 1;
        if (item.empty()) continue;
        const size_t equals = item.find('=');
        const std::string_view name = Trimmed(item.substr(0, equals));
        const std::string_view setting = equals == std::string_view::npos ? std::string_view() : Trimmed(item.substr(equals + 1));
        if (name.empty() || !Known(name)) {
            if (error) *error = "unknown test setting \"" + std::string(name) + "\" in " + kVariable;
            return std::nullopt;
        }
        settings.m_settings[std::string(name)] = std::string(setting);
    }
    return settings;
}

std::optional<std::string> TestSwitch::value(const std::string& name) const {
    const auto found = m_settings.find(name);
    if (found == m_settings.end()) return std::nullopt;
    return found->second;
}

}  // namespace app
