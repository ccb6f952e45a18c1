#include "engine/DataRecovery/DestinationFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace destination {

int OpenForCopy(const char* path) {
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    // Non-blocking only while opening: a pipe without a reader must not hold the copy up. Nothing is
    // emptied before the open file has been looked at.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    struct stat st {};
    int refusal = 0;
    if (::fstat(fd, &st) != 0)
        refusal = errno;
    else if (S_ISREG(st.st_mode) && st.st_nlink > 1)
        refusal = EMLINK;
    else if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode))
        refusal = S_ISBLK(st.st_mode) ? EPERM : EINVAL;
    const int flags = refusal ? 0 : ::fcntl(fd, F_GETFL);
    if (!refusal && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) refusal = errno;
    if (!refusal && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) refusal = errno;
    if (refusal) {
        ::close(fd);
        errno = refusal;
        return -1;
    }
    return fd;
}

}  // namespace destination
