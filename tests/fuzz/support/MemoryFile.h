// A file holding fuzz input, for parsers that read a path: an anonymous in-memory file (memfd), named
// by its /proc/self/fd path, closed with this object. Nothing is written to a disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

}  // namespace fuzz
