#include "engine/Common/FileFunctions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

bool StatSize(const char* path, u64* size) {
    if (!path) return false;
    struct stat st{};
    if (stat(path, &st) != 0 || st.st_size < 1) return false;
    *size = static_cast<u64>(st.st_size);
    return true;
}

// Closes fd on every path, keeping the errno of the first failure.
class FdGuard {
public:
    explicit FdGuard(int fd) : m_fd(fd) {}
    ~FdGuard() {
        if (m_fd < 0) return;
        int saved = errno;
        close(m_fd);
        errno = saved;
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t done = write(fd, data, length);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            if (done == 0) errno = EIO;
            return false;
        }
        data += done;
        length -= static_cast<size_t>(done);
    }
    return true;
}

bool CopyData(int in, int out, u64 size) {
    // copy_file_range shares blocks where the file system can; plain reads serve everywhere else.
    u64 copied = 0;
    while (copied < size) {
        ssize_t done = copy_file_range(in, nullptr, out, nullptr, size - copied, 0);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) break;
        copied += static_cast<u64>(done);
    }
    if (lseek(in, static_cast<off_t>(copied), SEEK_SET) < 0) return false;
    if (lseek(out, static_cast<off_t>(copied), SEEK_SET) < 0) return false;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(got))) return false;
    }
}

bool CopyXattrs(int in, int out) {
    ssize_t listSize = flistxattr(in, nullptr, 0);
    if (listSize < 0) return errno == ENOTSUP;
    if (listSize == 0) return true;
    std::vector<char> names(static_cast<size_t>(listSize));
    listSize = flistxattr(in, names.data(), names.size());
    if (listSize < 0) return false;
    std::vector<char> value;
    for (ssize_t at = 0; at < listSize;) {
        const char* name = names.data() + at;
        at += static_cast<ssize_t>(std::char_traits<char>::length(name)) + 1;
        ssize_t valueSize = fgetxattr(in, name, nullptr, 0);
        if (valueSize < 0) return false;
        value.resize(static_cast<size_t>(valueSize) + 1);
        valueSize = fgetxattr(in, name, value.data(), value.size());
        if (valueSize < 0) return false;
        if (fsetxattr(out, name, value.data(), static_cast<size_t>(valueSize), 0) != 0) {
            // A destination that keeps no such attributes, or a namespace this user may not write
            // (trusted.*, security.*), loses only that attribute, never data.
            if (errno == ENOTSUP || errno == EPERM) continue;
            return false;
        }
    }
    return true;
}

}  // namespace

u32 GetFileSize(const char* path) {
    u64 size = 0;
    return StatSize(path, &size) ? static_cast<u32>(size) : 0;
}

u64 GetFileSize64(const char* path) {
    u64 size = 0;
    return StatSize(path, &size) ? size : 0;
}

int CopyFileA(const char* from, const char* to, int /*unused*/) {
    if (!from || !to || !from[0] || !to[0]) {
        errno = EINVAL;
        return -1;
    }
    FdGuard in(open(from, O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return -1;
    struct stat source{};
    if (fstat(in.get(), &source) != 0) return -1;
    if (!S_ISREG(source.st_mode)) {
        errno = S_ISDIR(source.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    struct stat existing{};
    if (stat(to, &existing) == 0 && existing.st_dev == source.st_dev && existing.st_ino == source.st_ino) {
        // Truncating the destination would destroy the source.
        errno = EINVAL;
        return -1;
    }

    std::string temp = std::string(to) + ".XXXXXX";
    FdGuard out(mkostemp(temp.data(), O_CLOEXEC));
    if (out.get() < 0) return -1;
    bool ok = CopyData(in.get(), out.get(), static_cast<u64>(source.st_size)) &&
              fchmod(out.get(), source.st_mode & 07777) == 0 && CopyXattrs(in.get(), out.get());
    if (ok) {
        timespec times[2] = {source.st_atim, source.st_mtim};
        ok = futimens(out.get(), times) == 0 && fsync(out.get()) == 0;
    }
    if (ok) ok = rename(temp.c_str(), to) == 0;
    if (!ok) {
        int saved = errno;
        unlink(temp.c_str());
        errno = saved;
        return -1;
    }
    return 0;
}
