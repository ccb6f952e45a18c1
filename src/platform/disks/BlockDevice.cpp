#include "platform/disks/BlockDevice.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::disks {

std::string DevicePathForKernelName(const std::string& kernelName) { return "/dev/" + kernelName; }

int OpenReadOnly(const char* path) {
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool IsPermissionRefusal(int error) { return error == EPERM || error == EACCES; }

static bool IsBlockDevice(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISBLK(st.st_mode);
}

bool QuerySectorSize(int fd, std::uint32_t* sectorSize) {
    if (fd < 0 || !sectorSize || !IsBlockDevice(fd)) return false;
    int size = 0;
    if (ioctl(fd, BLKSSZGET, &size) != 0 || size <= 0) return false;
    *sectorSize = static_cast<std::uint32_t>(size);
    return true;
}

bool QuerySizeBytes(int fd, std::uint64_t* sizeBytes) {
    if (fd < 0 || !sizeBytes) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    if (S_ISREG(st.st_mode)) {
        *sizeBytes = static_cast<std::uint64_t>(st.st_size);
        return true;
    }
    if (!S_ISBLK(st.st_mode)) return false;
    std::uint64_t bytes = 0;
    if (ioctl(fd, BLKGETSIZE64, &bytes) != 0) return false;
    *sizeBytes = bytes;
    return true;
}

}  // namespace platform::disks
