// A temporary folder removed with everything in it when the object ends.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Writes bytes to a file (created or replaced).
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace testsupport
