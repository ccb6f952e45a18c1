#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace scan {

namespace {

// Writes every byte of text to fd, through short writes and interruptions.
bool WriteAll(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// Same file: nothing is ever written into the scanned source, even if the path changed since the check.
bool IsSourceFile(int fd, const std::string& source) {
    struct stat written {};
    struct stat scanned {};
    if (::fstat(fd, &written) != 0 || ::stat(source.c_str(), &scanned) != 0) return false;
    return written.st_dev == scanned.st_dev && written.st_ino == scanned.st_ino;
}

}  // namespace

OutputWriter::~OutputWriter() {
    if (m_fd >= 0 && !m_standardOutput) ::close(m_fd);
}

bool OutputWriter::Open(const std::string& path, int standardOutputFd, const std::string& source,
                        const std::string& what, std::string& reason) {
    m_path = path;
    m_what = what;
    if (path == "-") {
        m_fd = standardOutputFd;
        m_standardOutput = true;
        return true;
    }
    // Opened without truncation: what it is gets checked on the open file before anything changes. A
    // character device (/dev/null) or a pipe takes the text as it comes; a block device never does.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0644);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode) || IsSourceFile(fd, source)) {
        reason = "cannot write " + path +
                 (fd < 0 ? std::string(": ") + std::strerror(errno) : ": not a file apart from the source");
        if (fd >= 0) ::close(fd);
        return false;
    }
    m_fd = fd;
    if (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
        Close(reason);
        reason = "cannot write " + path;
        return false;
    }
    return true;
}

bool OutputWriter::Write(std::string_view text, std::string& reason) {
    if (m_fd >= 0 && WriteAll(m_fd, text)) return true;
    reason = m_standardOutput ? "cannot write the " + m_what + " to standard output" : "cannot write " + m_path;
    return false;
}

bool OutputWriter::Close(std::string& reason) {
    if (m_standardOutput || m_fd < 0) return m_fd >= 0;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) == 0) return true;
    reason = "cannot write " + m_path;
    return false;
}

bool WriteOutput(const std::string& path, int standardOutputFd, const std::string& source, std::string_view text,
                 const std::string& what, std::string& reason) {
    OutputWriter out;
    if (!out.Open(path, standardOutputFd, source, what, reason)) return false;
    const bool written = out.Write(text, reason);
    return out.Close(reason) && written;
}

}  // namespace scan
