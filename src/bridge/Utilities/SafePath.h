// Path components made from names found on disk: the engine's safe-name rules (engine/Common/SafeName.h)
// under the operations layer's names.
#pragma once

#include <string>

#include "engine/Common/SafeName.h"

namespace bridge_path {

inline constexpr size_t kMaxComponentBytes = safename::kMaxComponentBytes;

std::string SafePathComponent(const std::string& name);

// The extension of a file name (the text after the last dot, not counting a leading dot), empty
// when there is none.
std::string ExtensionOf(const std::string& name);

// Cuts stem so that stem + suffix + ("." + extension when not empty) fits maxBytes.
std::string FitName(const std::string& stem, const std::string& suffix, const std::string& extension,
                    size_t maxBytes = kMaxComponentBytes);

}  // namespace bridge_path
