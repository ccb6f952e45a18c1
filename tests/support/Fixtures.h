// Access to the committed test images (tests/fixtures) and the shared ones (../shared/fixtures).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// tests/fixtures/<relative>.
std::filesystem::path FixturePath(const std::string& relative);
// ../shared/fixtures/<name>, or nothing when that folder is absent (tests then skip).
std::optional<std::filesystem::path> SharedFixturePath(const std::string& name);

// Decompresses an .xz file into dir (sparse where the data has holes) and returns the new file's path.
// Throws on failure.
std::filesystem::path UnpackXz(const std::filesystem::path& xzFile, const std::filesystem::path& dir);

// The same, unpacked once for every test program of the build (in the build folder, under a lock)
// and shared read-only: large images are not unpacked again by each test process. The copy is
// made again when the .xz file is newer. Throws on failure.
std::filesystem::path UnpackXzShared(const std::filesystem::path& xzFile);

// The fields of one line of a table (tab-separated unless told otherwise).
std::vector<std::string> SplitFields(const std::string& line, char separator = '\t');

// Runs a shell command, returning its exit status and standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// True when the process runs as root.
bool IsRoot();

}  // namespace testsupport
