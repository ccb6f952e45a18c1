#include "bridge/Utilities/SafePath.h"

#include <filesystem>

#include "bridge/Utilities/TextUtilities.h"

namespace bridge_path {

namespace {

// Extensions longer than this are treated as part of the name when cutting.
constexpr size_t kMaxExtensionBytes = 32;

}  // namespace

std::string SafePathComponent(const std::string& name) {
    std::string safe;
    safe.reserve(name.size());
    for (char c : name) safe.push_back((c == '/' || c == '\0') ? '_' : c);
    if (safe.empty()) return "_";
    if (safe == ".") return "_.";
    if (safe == "..") return "_..";
    if (safe.size() <= kMaxComponentBytes) return safe;
    const std::string extension = ExtensionOf(safe);
    if (extension.empty() || extension.size() > kMaxExtensionBytes) {
        return bridge_text::CutAtUtf8Boundary(safe, kMaxComponentBytes);
    }
    return FitName(safe.substr(0, safe.size() - extension.size() - 1), "", extension);
}

std::string ExtensionOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
    return name.substr(dot + 1);
}

std::string FitName(const std::string& stem, const std::string& suffix, const std::string& extension, size_t maxBytes) {
    const std::string tail = suffix + (extension.empty() ? std::string() : "." + extension);
    const size_t room = maxBytes > tail.size() ? maxBytes - tail.size() : 0;
    std::string cut = bridge_text::CutAtUtf8Boundary(stem, room);
    if (cut.empty()) cut = "_";
    return cut + tail;
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
