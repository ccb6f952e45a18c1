#include "bridge/Utilities/SafePath.h"

#include <filesystem>

#include "engine/Common/SafeName.h"

namespace bridge_path {

std::string SafePathComponent(const std::string& name) {
    return safename::SafePathComponent(name);
}

std::string ExtensionOf(const std::string& name) {
    return safename::ExtensionOf(name);
}

std::string FitName(const std::string& stem, const std::string& suffix, const std::string& extension, size_t maxBytes) {
    return safename::FitName(stem, suffix, extension, maxBytes);
}

bool IsInside(const std::string& path, const std::string& folder) {
    std::error_code ec;
    const auto base = std::filesystem::weakly_canonical(folder, ec);
    if (ec) return false;
    const auto full = std::filesystem::weakly_canonical(path, ec);
    if (ec) return false;
    auto b = base.begin(), f = full.begin();
    for (; b != base.end(); ++b, ++f) {
        if (b->empty() && std::next(b) == base.end()) break;  // a trailing separator
        if (f == full.end() || *b != *f) return false;
    }
    return true;
}

}  // namespace bridge_path
