#include "support/TempDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brelvox-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

namespace {

// Removes the tree below the folder open at fd (the descriptor is taken), one folder open at a
// time and by names relative to it: no path is formed, so trees deeper than a path can name go too,
// and folders made read-only by a test are opened up first.
void RemoveContents(int fd) {
    std::vector<std::string> names;  // the folders entered, below the first
    while (fd >= 0) {
        std::string child;
        const int listFd = ::dup(fd);
        DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (!list && listFd >= 0) ::close(listFd);
        if (list) ::rewinddir(list);  // the copy shares its position with fd: start from the top each time
        while (dirent* entry = list ? ::readdir(list) : nullptr) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            struct stat st {};
            if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (!S_ISDIR(st.st_mode)) {
                ::unlinkat(fd, name.c_str(), 0);
                continue;
            }
            ::fchmodat(fd, name.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
            child = name;
            break;
        }
        if (list) ::closedir(list);
        if (!child.empty()) {
            const int down = ::openat(fd, child.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (down >= 0) {
                ::close(fd);
                fd = down;
                names.push_back(child);
                continue;
            }
            ::unlinkat(fd, child.c_str(), AT_REMOVEDIR);  // cannot be entered: try it as it is
            continue;
        }
        // This folder is empty now: up one, and remove it there.
        if (names.empty()) break;
        const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = up;
        if (fd >= 0) ::unlinkat(fd, names.back().c_str(), AT_REMOVEDIR);
        names.pop_back();
    }
    if (fd >= 0) ::close(fd);
}

}  // namespace

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    RemoveContents(::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::filesystem::remove_all(m_path, ignored);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace testsupport
