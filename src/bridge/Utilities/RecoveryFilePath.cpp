#include "bridge/Utilities/RecoveryFilePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "bridge/Utilities/KXCPPPublic.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "bridge/Utilities/SafePath.h"
#include "engine/Utility/FileNode.h"
#include "platform/foundation/AtomicFile.h"

namespace {

constexpr int kMaxParentSteps = 1024;
// Bounds the searches for a free folder number and a free counter.
constexpr int kMaxNumber = 1000000;

std::string Numbered(const char* format, int n) {
    char text[16];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

// A descriptor closed when it goes out of scope unless taken.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(int fd) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
        return *this;
    }
    int get() const { return m_fd; }
    int take() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// The sanitised names from the root's volume down to the node; nothing for a damaged chain.
std::optional<std::vector<std::string>> SafeComponents(IFileNode* node) {
    std::vector<std::string> reversed;
    IFileNode* current = node;
    for (int step = 0;; ++step) {
        if (step > kMaxParentSteps) return std::nullopt;
        IFileNode* parent = current->GetParent();
        if (!parent) {
            const char* volume = current->GetVolumeName();
            // An unnamed volume adds no folder level, as the joined path "//" never did.
            if (volume && *volume) reversed.push_back(bridge_path::SafePathComponent(volume));
            break;
        }
        const char* name = current->GetFileName();
        reversed.push_back(bridge_path::SafePathComponent(name ? name : ""));
        current = parent;
    }
    return std::vector<std::string>(reversed.rbegin(), reversed.rend());
}

// Opens the folder name inside the folder at parent, making it when missing; a link planted there
// is never followed. -1 when it cannot be had.
int OpenChildFolder(int parent, const std::string& name) {
    if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
    return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The recovery's folder for the type, open: made now (under the first free number) when the
// recovery has none yet.
int OpenRecoveryFolder(int destination, u32 type, RecoveryFolderTable& folders) {
    const std::string prefix = KXUIPublic::GetFileSystemStrByType(type, folders.Now());
    if (const int n = folders.Get(type); n > 0) return OpenChildFolder(destination, prefix + Numbered("%04d", n));
    for (int n = 1; n < kMaxNumber; ++n) {
        const std::string name = prefix + Numbered("%04d", n);
        if (::mkdirat(destination, name.c_str(), 0777) == 0) {
            folders.Set(type, n);
            return ::openat(destination, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Creates the file under the first free name inside the folder: name, then stem_0001.ext, ...
int CreateFreeFile(int folder, const std::string& name, std::string& chosen) {
    const std::string extension = bridge_path::ExtensionOf(name);
    const std::string stem = extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
    for (int k = 0; k < kMaxNumber; ++k) {
        const std::string candidate = k == 0 ? name : bridge_path::FitName(stem, Numbered("_%04d", k), extension);
        const int fd = ::openat(folder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            chosen = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

}  // namespace

RecoveryFile::RecoveryFile(std::string path, std::string name, int fd, int folderFd)
    : m_path(std::move(path)), m_name(std::move(name)), m_fd(fd), m_folderFd(folderFd) {}

RecoveryFile::~RecoveryFile() {
    CloseAll();
}

RecoveryFile::RecoveryFile(RecoveryFile&& other) noexcept
    : m_path(std::move(other.m_path)), m_name(std::move(other.m_name)), m_fd(other.m_fd), m_folderFd(other.m_folderFd) {
    other.m_fd = other.m_folderFd = -1;
}

RecoveryFile& RecoveryFile::operator=(RecoveryFile&& other) noexcept {
    if (this != &other) {
        CloseAll();
        m_path = std::move(other.m_path);
        m_name = std::move(other.m_name);
        m_fd = other.m_fd;
        m_folderFd = other.m_folderFd;
        other.m_fd = other.m_folderFd = -1;
    }
    return *this;
}

void RecoveryFile::CloseAll() {
    CloseFile();
    if (m_folderFd >= 0) ::close(m_folderFd);
    m_folderFd = -1;
}

bool RecoveryFile::CloseFile() {
    if (m_fd < 0) return true;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    return closed;
}

void RecoveryFile::Remove() {
    CloseFile();
    if (m_folderFd >= 0 && !m_name.empty()) ::unlinkat(m_folderFd, m_name.c_str(), 0);
}

RecoveryFolderTable::RecoveryFolderTable(Clock clock) : m_clock(std::move(clock)) {}

void RecoveryFolderTable::Clear() {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_numbers.clear();
}

int RecoveryFolderTable::Get(u32 searcherType) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    const auto it = m_numbers.find(searcherType);
    return it == m_numbers.end() ? 0 : it->second;
}

void RecoveryFolderTable::Set(u32 searcherType, int number) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_numbers[searcherType] = number;
}

std::time_t RecoveryFolderTable::Now() const {
    return m_clock ? m_clock() : std::time(nullptr);
}

std::optional<RecoveryFile> CreateRecoveryFileByNode(IFileNode* node, const std::string& destination,
                                                     RecoveryFolderTable& folders) {
    if (!node || destination.empty() || !node->IsNodeShow()) return std::nullopt;
    const u32 type = KXCPPPublic::instance().GetNodeSearcheType(node);
    if (type == SEARCHER_NONE) return std::nullopt;
    const auto components = SafeComponents(node);
    if (!components) return std::nullopt;

    // The destination is the user's own choice: links on its path are followed there, and only there.
    if (!brelvox::foundation::EnsureDirectory(destination)) return std::nullopt;
    Fd folder(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return std::nullopt;
    folder = OpenRecoveryFolder(folder.get(), type, folders);
    if (folder.get() < 0) return std::nullopt;
    std::string path = (destination.back() == '/' ? destination : destination + "/") +
                       KXUIPublic::GetFileSystemStrByType(type, folders.Now()) + Numbered("%04d", folders.Get(type));

    const size_t folderCount = node->IsDirectory() ? components->size() : components->size() - 1;
    if (!node->IsDirectory() && components->empty()) return std::nullopt;
    for (size_t i = 0; i < folderCount; ++i) {
        folder = OpenChildFolder(folder.get(), (*components)[i]);
        if (folder.get() < 0) return std::nullopt;
        path += "/" + (*components)[i];
    }
    if (node->IsDirectory()) return std::nullopt;  // nothing to write for a folder

    std::string chosen;
    const int fd = CreateFreeFile(folder.get(), components->back(), chosen);
    if (fd < 0) return std::nullopt;
    return RecoveryFile(path + "/" + chosen, chosen, fd, folder.take());
}

std::optional<std::string> CreateRecoveryFilePathByNode(IFileNode* node, const std::string& destination,
                                                        RecoveryFolderTable& folders) {
    auto file = CreateRecoveryFileByNode(node, destination, folders);
    if (!file) return std::nullopt;
    return file->path();
}
