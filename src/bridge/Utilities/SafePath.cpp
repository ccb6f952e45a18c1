#include "bridge/Utilities/SafePath.h"

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

}  // namespace bridge_path
