#include "engine/FileArchive/StdFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<CStdFile::WriteFunction> g_writeFunction{nullptr};

ssize_t SystemWrite(int fd, const void* data, size_t length) {
    CStdFile::WriteFunction hook = g_writeFunction.load();
    return hook ? hook(fd, data, length) : ::write(fd, data, length);
}

}  // namespace

void CStdFile::SetWriteFunctionForTesting(WriteFunction function) {
    g_writeFunction.store(function);
}

CStdFile::CStdFile(const char* path, int mode) {
    Open(path, mode);
}

CStdFile::~CStdFile() {
    Close();
}

bool CStdFile::Open(const char* path, int mode) {
    Close();
    if (!path || mode < ModeRead || mode > ModeReadWriteAppend) return false;
    m_path = path;
    int flags = O_CLOEXEC;
    switch (mode) {
        case ModeRead:
            flags |= O_RDONLY;
            break;
        case ModeCreateTruncate:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
        default:
            flags |= O_RDWR | O_CREAT;
            break;
    }
    // The umask decides the final permissions; nothing widens them afterwards.
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    m_fd = fd;
    return true;
}

bool CStdFile::Close() {
    if (m_fd < 0) return true;
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc == 0 || errno == EINTR;
}

ssize_t CStdFile::Read(void* buffer, size_t length) {
    if (m_fd < 0 || !buffer) return 0;
    auto* out = static_cast<u8*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(m_fd, out + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done ? static_cast<ssize_t>(done) : -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool CStdFile::Write(const void* data, size_t length) {
    if (m_fd < 0) return false;
    if (length == 0) return true;
    if (!data) return false;
    const auto* in = static_cast<const u8*>(data);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = SystemWrite(m_fd, in + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        // An error, or a write that makes no progress (a full disk, a file-size limit), ends it.
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool CStdFile::Seek(i64 offset) {
    if (m_fd < 0) return false;
    return ::lseek(m_fd, offset, SEEK_SET) > 0;
}

bool CStdFile::SetPosition(i64 offset) {
    if (m_fd < 0 || offset < 0) return false;
    return ::lseek(m_fd, offset, SEEK_SET) == offset;
}

i64 CStdFile::SeekToEnd() {
    if (m_fd < 0) return -1;
    return ::lseek(m_fd, 0, SEEK_END);
}

i64 CStdFile::GetPosition() const {
    if (m_fd < 0) return 0;
    const off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
    return pos < 0 ? 0 : pos;
}

bool CStdFile::GetPosistion(i64* position) const {
    if (!position || m_fd < 0) return false;
    const off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
    if (pos < 0) return false;
    *position = pos;
    return true;
}

bool CStdFile::GetFileLength(i64* length) const {
    if (!length) return false;
    struct stat st {};
    const int rc = m_fd >= 0 ? ::fstat(m_fd, &st) : ::stat(m_path.c_str(), &st);
    if (rc != 0) return false;
    *length = st.st_size;
    return true;
}

int CStdFile::ReadLine(char* buffer, int size) {
    if (!buffer || size <= 0 || m_fd < 0) return 0;
    int stored = 0;
    while (stored < size) {
        char c;
        if (Read(&c, 1) != 1) break;
        buffer[stored++] = c;
        if (c == '\n') break;
    }
    if (stored > 0) buffer[stored] = '\0';
    return stored;
}

bool CStdFile::WriteLine(const char* buffer, int length) {
    if (length <= 0) return true;
    if (!buffer || !Write(buffer, static_cast<size_t>(length))) return false;
    if (length >= 2 && buffer[length - 2] == '\r' && buffer[length - 1] == '\n') return false;
    return Write("\r\n", 2);
}
