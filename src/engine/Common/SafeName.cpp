#include "engine/Common/SafeName.h"

namespace safename {

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
    if (extension.empty() || extension.size() > kMaxExtensionBytes) return CutAtUtf8Boundary(safe, kMaxComponentBytes);
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
    std::string cut = CutAtUtf8Boundary(stem, room);
    if (cut.empty()) cut = "_";
    return cut + tail;
}

std::string CutAtUtf8Boundary(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t cut = maxBytes;
    // Step back over continuation bytes so a sequence is never split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

}  // namespace safename
