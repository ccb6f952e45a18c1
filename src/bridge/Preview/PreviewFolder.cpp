#include "bridge/Preview/PreviewFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr size_t kMaxNameBytes = 64;

bool IsPlain(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

std::string DefaultBase() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp == '/') return tmp;
    return "/tmp";
}

}  // namespace

PreviewTempFile::~PreviewTempFile() {
    Close();
    if (!m_path.empty()) ::unlink(m_path.c_str());
}

bool PreviewTempFile::Close() {
    if (m_fd < 0) return true;
    const int result = ::close(m_fd);
    m_fd = -1;
    return result == 0;
}

PreviewFolder& PreviewFolder::instance() {
    static PreviewFolder folder;
    return folder;
}

PreviewFolder::~PreviewFolder() {
    std::lock_guard<std::mutex> hold(m_mutex);
    DropFolderLocked();
}

void PreviewFolder::DropFolderLocked() {
    // Only an empty folder goes: a copy still in use by another thread keeps it.
    if (!m_folder.empty()) ::rmdir(m_folder.c_str());
    m_folder.clear();
}

void PreviewFolder::SetBase(const std::string& base) {
    std::lock_guard<std::mutex> hold(m_mutex);
    DropFolderLocked();
    m_base = base;
}

bool PreviewFolder::FolderIsOurs() const {
    struct stat st {};
    if (m_folder.empty() || ::lstat(m_folder.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700;
}

std::string PreviewFolder::Folder() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (FolderIsOurs()) return m_folder;
    m_folder.clear();
    const std::string base = m_base.empty() ? DefaultBase() : m_base;
    std::string pattern = base + (base.back() == '/' ? "" : "/") + "brelvox-preview-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkdtemp makes the folder with mode 0700 whatever the umask adds.
    if (!::mkdtemp(buffer.data())) return {};
    m_folder = buffer.data();
    return m_folder;
}

std::unique_ptr<PreviewTempFile> PreviewFolder::Create(const std::string& name) {
    const std::string folder = Folder();
    if (folder.empty()) return nullptr;
    const std::string suffix = "-" + SanitisedName(name);
    std::string pattern = folder + "/XXXXXX" + suffix;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkstemps opens a new file (O_EXCL) of mode 0600 under a name no one could guess beforehand.
    const int fd = ::mkstemps(buffer.data(), int(suffix.size()));
    if (fd < 0) return nullptr;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return std::make_unique<PreviewTempFile>(buffer.data(), fd);
}

std::string PreviewFolder::SanitisedName(const std::string& name) {
    std::string cut = name;
    for (char& c : cut)
        if (!IsPlain(static_cast<unsigned char>(c))) c = '_';
    if (cut.size() > kMaxNameBytes) cut = cut.substr(cut.size() - kMaxNameBytes);
    if (!cut.empty() && cut.front() == '.') cut.front() = '_';
    return cut.empty() ? "file" : cut;
}
