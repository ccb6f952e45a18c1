// Path components made from names found on disk. Whatever a name holds, its component stays one
// plain entry inside the folder it is joined to: "/" and NUL become "_", "", "." and ".." become
// placeholders, and names longer than a file system allows are cut at a UTF-8 boundary with their
// extension kept. Shared by every writer of recovered files (the operations layer and the driver).
#pragma once

#include <cstddef>
#include <string>

namespace safename {

inline constexpr size_t kMaxComponentBytes = 255;

std::string SafePathComponent(const std::string& name);

// The extension of a file name (the text after the last dot, not counting a leading dot), empty
// when there is none.
std::string ExtensionOf(const std::string& name);

// Cuts stem so that stem + suffix + ("." + extension when not empty) fits maxBytes.
std::string FitName(const std::string& stem, const std::string& suffix, const std::string& extension,
                    size_t maxBytes = kMaxComponentBytes);

// Cuts text to at most maxBytes without splitting a UTF-8 sequence.
std::string CutAtUtf8Boundary(const std::string& text, size_t maxBytes);

}  // namespace safename
