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

// Creates (or accepts) one real folder, never following a link planted under the destination.
bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> MakeFolders(std::string base, const std::vector<std::string>& components, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        base += "/" + components[i];
        if (!MakeFolder(base)) return std::nullopt;
    }
    return base;
}

// The recovery's folder for the type: made now when the recovery has none yet.
std::optional<std::string> RecoveryFolder(const std::string& destination, u32 type, RecoveryFolderTable& folders) {
    const std::string prefix = KXUIPublic::GetFileSystemStrByType(type, folders.Now());
    if (const int n = folders.Get(type); n > 0) {
        const std::string folder = destination + prefix + Numbered("%04d", n);
        if (MakeFolder(folder)) return folder;
        return std::nullopt;
    }
    if (!brelvox::foundation::EnsureDirectory(destination)) return std::nullopt;
    for (int n = 1; n < kMaxNumber; ++n) {
        const std::string folder = destination + prefix + Numbered("%04d", n);
        if (::mkdir(folder.c_str(), 0777) == 0) {
            folders.Set(type, n);
            return folder;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

// Creates the file under the first free name: name, then stem_0001.ext, stem_0002.ext, ...
std::optional<std::string> CreateFreeFile(const std::string& folder, const std::string& name) {
    const std::string extension = bridge_path::ExtensionOf(name);
    const std::string stem = extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
    for (int k = 0; k < kMaxNumber; ++k) {
        const std::string candidate = k == 0 ? name : bridge_path::FitName(stem, Numbered("_%04d", k), extension);
        const std::string path = folder + "/" + candidate;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

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

std::optional<std::string> CreateRecoveryFilePathByNode(IFileNode* node, const std::string& destination,
                                                        RecoveryFolderTable& folders) {
    if (!node || destination.empty() || !node->IsNodeShow()) return std::nullopt;
    const u32 type = KXCPPPublic::instance().GetNodeSearcheType(node);
    if (type == SEARCHER_NONE) return std::nullopt;
    const auto components = SafeComponents(node);
    if (!components) return std::nullopt;

    const std::string base = destination.back() == '/' ? destination : destination + "/";
    const auto folder = RecoveryFolder(base, type, folders);
    if (!folder) return std::nullopt;

    if (node->IsDirectory()) {
        MakeFolders(*folder, *components, components->size());
        return std::nullopt;  // nothing to write for a folder
    }
    if (components->empty()) return std::nullopt;
    const auto parent = MakeFolders(*folder, *components, components->size() - 1);
    // Belt and braces: the resolved parent must still lie under the destination.
    if (!parent || !bridge_path::IsInside(*parent, base)) return std::nullopt;
    return CreateFreeFile(*parent, components->back());
}
