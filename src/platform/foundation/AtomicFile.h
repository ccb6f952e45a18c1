// Writing files so that a reader sees either the old content or the new one, never a mixture:
// the bytes go to a temporary file in the same folder, which is flushed and then renamed over the
// target. A failed write removes the temporary file and leaves the old file whole.
#pragma once

#include <string>

namespace brelvox::foundation {

// Replaces path with bytes atomically. The new file gets mode 0600 (settings are private).
// On failure answers false and, when error is given, a short reason.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error = nullptr);

// Creates folder and its missing parents (mode 0700 for new ones); true when it exists afterwards.
bool EnsureDirectory(const std::string& folder);

// Reads a whole regular file of at most maxBytes; false when it is missing, larger or unreadable.
bool ReadWholeFile(const std::string& path, std::string& bytes, size_t maxBytes);

}  // namespace brelvox::foundation
