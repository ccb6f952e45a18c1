#include "platform/foundation/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace brelvox::foundation {

namespace {

void SetError(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const char* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool EnsureDirectory(const std::string& folder) {
    if (folder.empty()) return false;
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return true;
    const std::filesystem::path path(folder);
    if (path.has_parent_path() && path.parent_path() != path && !EnsureDirectory(path.parent_path().string())) {
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) == 0) return true;
    return errno == EEXIST && std::filesystem::is_directory(folder, ec);
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
    const std::filesystem::path target(path);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    std::string pattern = folder + "/." + target.filename().string() + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        SetError(error, "cannot create a temporary file in " + folder);
        return false;
    }
    const std::string temporary(name.data());
    bool ok = WriteAll(fd, bytes.data(), bytes.size());
    if (!ok) SetError(error, "cannot write " + temporary);
    if (ok && ::fsync(fd) != 0) {
        SetError(error, "cannot flush " + temporary);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        SetError(error, "cannot close " + temporary);
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        SetError(error, "cannot rename over " + path);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > maxBytes) {
        ::close(fd);
        return false;
    }
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || bytes.size() + static_cast<size_t>(n) > maxBytes) {
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

}  // namespace brelvox::foundation
