#include "ScanSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <optional>
#include <iostream>
#include <unordered_set>
#include <utility>

#include "FileTypeCatalogue.h"
#include "ListDevices.h"
#include "ListOrder.h"
#include "OutputFile.h"
#include "engine/Common/HugePages.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/ResultCode.h"
#include "engine/Common/SafeName.h"
#include "engine/FATLib/FATLayout.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/DataRecovery/DataRecoveryCodes.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/EnumDevice/IEnumDeviceEx.h"
#include "engine/HFSPlusLib/HFSPlusResult.h"
#include "engine/RecoveryController/IRecoveryController.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/Utility/FileNode.h"
#include "engine/VolumeAnalyze/VolumeAnalyzeController.h"

namespace scan {

namespace {

std::atomic<bool> g_stop{false};

i64 UnixSeconds(_FILETIME t) { return t > 0 ? t / 10000000 - 11644473600LL : 0; }

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The decimal text of the numbers of one column, written line after line: a number equal to the
// last one is copied from its text, made once.
struct DecimalText {
    char text[20] = {};
    u8 size = 0;
    i64 value = 0;
    // Writes value at `at`, which must have room for the whole of text (its bytes past the number are
    // written over by what follows); returns the end of the number.
    char* Put(char* at, i64 number) {
        if (number != value || size == 0) {
            size = u8(std::to_chars(text, text + sizeof text, number).ptr - text);
            value = number;
        }
        std::memcpy(at, text, sizeof text);
        return at + size;
    }
};

// Bounds the search for a free counter.
constexpr int kMaxCounter = 1000000;

// Makes every folder of the user's own path (links the user made are followed there).
bool MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

// Opens (making it when missing, then made is set) the folder name inside the folder at fd; a link
// planted there is never followed, so nothing found on disk can lead the copy outside the destination.
int OpenChildFolder(int fd, const std::string& name, bool& made) {
    made = false;
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    // Most folders exist already (the files of one folder come one after another): opened first.
    const int existing = ::openat(fd, name.c_str(), kFlags);
    if (existing >= 0 || errno != ENOENT) return existing;
    made = ::mkdirat(fd, name.c_str(), 0755) == 0;
    if (!made && errno != EEXIST) return -1;
    return ::openat(fd, name.c_str(), kFlags);
}

// Removes, from the deepest up, the folders of a failed copy that it made itself: fd is open at the
// deepest (taken), names[0..depth) lead to it from the destination root, and names[first..depth) were
// made. Each step goes up through "..", so any depth is reached; a folder that is no longer the one
// made, or is not empty, ends the walk.
void RemoveMadeFolders(int fd, const std::vector<std::string>& names, size_t depth, size_t first) {
    for (size_t level = depth; fd >= 0 && level > first; --level) {
        struct stat made {}, there {};
        const bool known = ::fstat(fd, &made) == 0;
        const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = up;
        const char* name = names[level - 1].c_str();
        if (fd < 0 || !known || ::fstatat(fd, name, &there, AT_SYMLINK_NOFOLLOW) != 0 || there.st_dev != made.st_dev ||
            there.st_ino != made.st_ino || ::unlinkat(fd, name, AT_REMOVEDIR) != 0)
            break;
    }
    if (fd >= 0) ::close(fd);
}

// Creates name inside the folder at fd, or the first free "stem_NNNN.ext" when it exists; never opens
// anything that exists (O_EXCL), links included. The new file open for writing, its name in chosen;
// -1 when no name could be created.
int CreateFreeFile(int fd, const std::string& name, std::string& chosen) {
    const std::string extension = safename::ExtensionOf(name);
    const std::string stem = extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
    for (int n = 0; n < kMaxCounter; ++n) {
        char counter[16];
        std::snprintf(counter, sizeof counter, "_%04d", n);
        const std::string candidate = n == 0 ? name : safename::FitName(stem, counter, extension);
        const int file = ::openat(fd, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file >= 0) {
            chosen = candidate;
            return file;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// A FAT12 boot sector: its type text and the signature (the analysers never classify FAT12).
bool IsFat12BootSector(const std::string& sector) {
    using namespace fat_boot_layout;
    return sector.size() >= 512 && sector.compare(kFat16TypeText, 8, "FAT12   ") == 0 &&
           static_cast<u8>(sector[kSignature]) == 0x55 && static_cast<u8>(sector[kSignature + 1]) == 0xAA;
}

std::string Describe(u64 code) {
    if (result::ModuleOf(code) == result::kModuleNTFSQuick) {
        if (result::KindOf(code) == 0x10) return "no usable NTFS boot sector";
        if (result::KindOf(code) == 0x11) return "neither the master file table nor its mirror can be read";
    }
    switch (result::KindOf(code)) {
        case 0x401: return "no quick search for this file system";
        case 0x402: return "no deep searcher is available";
        case 0x404: return "a whole disk cannot be scanned quickly";
        default: break;
    }
    char text[64];
    std::snprintf(text, sizeof text, "(code 0x%016llx)", static_cast<unsigned long long>(code));
    if (std::string words = hfsplus::DescribeFailure(code); !words.empty()) return words + " " + text;
    return std::string("scan failed ") + text;
}

}  // namespace

void RequestStop(int) { g_stop = true; }

bool StopRequested() { return g_stop; }

ScanSession::ScanSession(Options options) : m_options(std::move(options)) {}

ScanSession::~ScanSession() {
    for (auto& entry : m_recoveries)
        if (entry.second) entry.second->Release();
    if (m_controller) m_controller->Release();
    if (m_enumerated) CreateEnumDeviceEx()->Uninit();
}

bool ScanSession::OpenSource(std::string& reason) {
    const char* path = m_options.source.c_str();
    struct stat st {};
    if (::stat(path, &st) != 0) {
        reason = "cannot open " + m_options.source + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        reason = m_options.source + " is a directory, not an image or a device";
        return false;
    }
    // Looked at through a non-blocking open before it is opened for reading: opening a pipe would
    // wait for a writer for ever, and a character device or socket holds no disk.
    const int probeFd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probeFd < 0 && errno != ENXIO) {
        reason = "cannot open " + m_options.source + ": " + std::strerror(errno);
        return false;
    }
    const bool imageOrDisk = probeFd >= 0 && ::fstat(probeFd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
    if (probeFd >= 0) ::close(probeFd);
    if (!imageOrDisk) {
        reason = m_options.source + " is neither an image file nor a block device";
        return false;
    }
    // A deep scan takes a block device as the application does: as device enumeration presents it,
    // a disk with the records of its volumes, a partition as its volume with its record.
    if (!m_options.quick && S_ISBLK(st.st_mode)) {
        m_device = EnumeratedDevice(*CreateEnumDeviceEx(), st.st_rdev);
        m_enumerated = m_device != nullptr;
    }
    if (!m_device) {
        m_owned.reset(m_options.quick ? CreateVolumeDevice(path) : CreateDiskDevice(path));
        m_device = m_owned.get();
    }
    if (!m_device || (!m_enumerated && !m_device->Open(path))) {
        reason = "cannot open " + m_options.source + ": " + std::strerror(errno ? errno : EIO);
        return false;
    }
    if (m_device->GetTotalSectors() <= 0) {
        reason = m_options.source + " is empty";
        return false;
    }
    std::string probe(m_device->GetSectorSize(), '\0');
    if (!m_device->ReadSector(probe.data(), 0, 1)) {
        reason = "cannot read " + m_options.source;
        return false;
    }
    if (!m_options.quick) return true;

    std::unique_ptr<CVolumeAnalyzeController> analyzers(CreateVolumeAnalyzeController(m_device, 0));
    IVolumeAnalyze* found = analyzers ? analyzers->GetVolumeAnzlyzer() : nullptr;
    if (!found) {
        reason = IsFat12BootSector(probe) ? "FAT12 is not supported" : "unknown file system on " + m_options.source;
        return false;
    }
    // The record that device enumeration would attach to a volume.
    auto* record = new CCollectedVolumeDeviceInfoStruct{};
    record->fileSystemType = found->GetFileSystemType();
    found->GetLabel(record->label, sizeof record->label);
    std::snprintf(record->volumeName, sizeof record->volumeName, "%s", BaseName(m_options.source).c_str());
    record->sectorSize = m_device->GetSectorSize();
    record->totalSectors = m_device->GetTotalSectors();
    record->partitionNumber = -1;
    m_device->SetPrivateData(CreateVolumeDeviceData(record));
    return true;
}

bool ScanSession::Run(std::string& reason) {
    if (!OpenSource(reason)) return false;
    // The filter and the raw search class files by extension through the catalogue; without it every
    // file is "other", which only the full type set may accept.
    std::string catalogueReason;
    if (!LoadFileTypeCatalogue(catalogueReason) && m_options.types != 127) {
        reason = "--types " + std::to_string(m_options.types) + " needs the file-type catalogue: " + catalogueReason;
        return false;
    }
    m_filter = CreateFilter();
    m_filter->SetFilterTypes(m_options.types);
    m_filter->SetScanType(m_options.quick ? SCAN_QUICK : SCAN_DEEP);
    m_controller = CreateRecoveryController(m_options.quick ? RECOVERY_CONTROLLER_DELETED : RECOVERY_CONTROLLER_COMPLETE);
    if (!m_controller || !m_controller->Initialize(m_filter)) {
        reason = "cannot create the recovery controller";
        return false;
    }
    const u64 code = m_controller->StartDataRecovery(m_device, this, this);
    if (m_options.showProgress) std::fprintf(stderr, "\n");
    if (result::IsFailure(code)) {
        reason = Describe(code);
        return false;
    }
    if (!m_options.quick && m_nodes.empty())
        std::fprintf(stderr, "brelvox-scan: the deep scan found no volume and no file on %s\n", m_options.source.c_str());
    return true;
}

int ScanSession::UpdateProgress(_PROGRESS_INFO* record) {
    if (!m_options.showProgress || !record) return 1;
    const double share = record->total ? 100.0 * double(record->current) / double(record->total) : 0.0;
    std::fprintf(stderr, "\rscanning %5.1f%%  found %zu", share, m_nodes.size());
    return 1;
}

int ScanSession::Continued() { return g_stop ? 0 : 1; }

u64* ScanSession::NodeSet::PageOf(uintptr_t page) {
    std::unique_ptr<u64[]>& bits = m_pages[page];
    if (!bits) bits = std::make_unique<u64[]>(kPageWords);
    m_last = bits.get();
    m_lastPage = page;
    return m_last;
}

void ScanSession::ShowNodes(IFileNode** nodes, u32 count, int) {
    for (u32 i = 0; nodes && i < count; ++i) {
        if (nodes[i] && m_seen.Insert(nodes[i])) m_nodes.push_back(nodes[i]);
    }
}

void ScanSession::ShowFilesystemNode(IFilesystemNode*) {}

std::string_view ScanSession::ComponentOf(IFileNode* node, std::vector<std::unique_ptr<std::string>>& owned) {
    // A name that is not empty, not "." or "..", holds no "/" and fits is its own safe component
    // (a C string holds no NUL).
    const char* name = node->GetFileName();
    const std::string_view view(name ? name : "");
    const bool dots = view.size() <= 2 && (view == "." || view == "..");
    if (!view.empty() && !dots && view.size() <= safename::kMaxComponentBytes &&
        std::memchr(view.data(), '/', view.size()) == nullptr)
        return view;
    owned.push_back(std::make_unique<std::string>(safename::SafePathComponent(std::string(view))));
    return *owned.back();
}

u32 ScanSession::ChildFolder(u32 parent, std::string_view name) {
    std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
    key += name;
    const auto [at, added] = m_folders.byParentAndName.try_emplace(std::move(key), u32(m_folders.parent.size()));
    if (added) {
        m_folders.parent.push_back(parent);
        m_folders.depth.push_back(parent == kNoFolder ? 0 : m_folders.depth[parent] + 1);
        m_folders.name.push_back(name);
    }
    return at->second;
}

u32 ScanSession::FolderOfPath(IFileNode* node) {
    if (auto known = m_folderOf.find(node); known != m_folderOf.end()) return known->second;
    // Up to the first node whose folder is known, or the found root; a node met twice ends the walk.
    std::vector<IFileNode*> chain;
    std::unordered_set<IFileNode*> onChain;
    IFileNode* at = node;
    auto found = m_folderOf.end();
    while (at) {
        found = m_folderOf.find(at);
        if (found != m_folderOf.end() || !onChain.insert(at).second) break;
        chain.push_back(at);
        IFileNode* up = at->GetParent();
        at = up == at ? nullptr : up;
    }
    u32 folder = at && found != m_folderOf.end() ? found->second : kNoFolder;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        folder = ChildFolder(folder, ComponentOf(*it, m_ownedNames));
        m_folderOf.emplace(*it, folder);
    }
    return folder;
}

ListLine ScanSession::LineOf(IFileNode* node, LastParent& last) {
    // A folder met above others has its line in the tree already.
    auto own = [&]() -> std::optional<ListLine> {
        if (!node->IsDirectory()) return std::nullopt;
        auto known = m_folderOf.find(node);
        if (known == m_folderOf.end()) return std::nullopt;
        return ListLine{{}, m_folders.name[known->second], m_folders.parent[known->second]};
    };
    if (auto line = own()) return *line;
    IFileNode* parent = node->GetParent();
    if (!parent || parent == node) return {{}, ComponentOf(node, m_ownedNames), kNoFolder};
    if (parent != last.node) last = {parent, FolderOfPath(parent)};
    // The walk up may have met the node itself (a loop): its place is where the walk put it.
    if (auto line = own()) return *line;
    return {{}, ComponentOf(node, m_ownedNames), last.folder};
}

void ScanSession::PathStack::MoveTo(u32 folder, const Folders& folders) {
    // Up from the folder to the first folder already on the stack at its own depth.
    m_climb.clear();
    u32 at = folder;
    while (at != kNoFolder && !(folders.depth[at] < m_ids.size() && m_ids[folders.depth[at]] == at)) {
        m_climb.push_back(at);
        at = folders.parent[at];
    }
    const size_t keep = at == kNoFolder ? 0 : folders.depth[at] + 1;
    m_ids.resize(keep);
    m_ends.resize(keep);
    m_text.resize(keep ? m_ends.back() : 0);
    for (auto it = m_climb.rbegin(); it != m_climb.rend(); ++it) {
        m_ids.push_back(*it);
        m_text += folders.name[*it];
        m_text += m_separator;
        m_ends.push_back(m_text.size());
    }
}

std::string_view ScanSession::PathStack::Name(size_t level) const {
    const size_t begin = level ? m_ends[level - 1] : 0;
    return std::string_view(m_text).substr(begin, m_ends[level] - begin - 1);
}

bool ScanSession::WriteList(std::string& reason) {
    // Lines sorted by path (nodes of one path keep their order). A line is its folder in the tree of
    // folders and its own name; no path is joined in memory but the one of the folder being written,
    // which changes only below the folder it shares with the last one. What a line shows of its node is
    // taken in the same pass, while the node is at hand.
    struct Facts {
        i64 size;
        i64 time;
        u32 type;
        bool deleted;
        bool directory;
    };
    // Large for a large scan: on huge pages (few page faults).
    std::vector<ListLine, hugepages::Allocator<ListLine>> lines(m_nodes.size());
    std::vector<Facts, hugepages::Allocator<Facts>> facts(m_nodes.size());
    LastParent last;
    for (size_t k = 0; k < m_nodes.size(); ++k) {
        IFileNode* node = m_nodes[k];
        lines[k] = LineOf(node, last);
        facts[k] = {node->GetFileSize(), UnixSeconds(node->GetModificationTime()), u32(node->GetSearcheType()),
                    node->IsDeleted() != 0, node->IsDirectory() != 0};
    }
    const std::vector<u32> order = TreeOrder(lines, FolderTree{m_folders.parent, m_folders.name}, '/');
    PathStack heads('/');
    u32 headFolder = kNoFolder;
    OutputWriter out;
    if (!out.Open(m_options.listPath, m_options.standardOutputFd, m_options.source, "list", reason)) return false;
    // Written through one buffer, handed on whenever the next line might not fit: type, path, size,
    // deleted, folder and time (the three numbers take at most 20 bytes each, the rest 7), and room for
    // one number's whole text past the line. The buffer stays small enough to stay in the cache.
    constexpr size_t kLineBytes = 67 + sizeof(DecimalText::text);
    size_t capacity = size_t(256) << 10;
    std::unique_ptr<char[]> text = std::make_unique_for_overwrite<char[]>(capacity);
    char* at = text.get();
    // The numbers mostly repeat from one line to the next (one searcher; files written together).
    DecimalText type, size, time;
    for (const u32 index : order) {
        const ListLine& line = lines[index];
        const Facts& fact = facts[index];
        if (line.folder != headFolder) {
            heads.MoveTo(line.folder, m_folders);
            headFolder = line.folder;
        }
        const std::string_view head = heads.Head();
        const size_t need = head.size() + line.name.size() + kLineBytes;
        if (size_t(at - text.get()) + need > capacity) {
            if (!out.Write(std::string_view(text.get(), size_t(at - text.get())), reason)) return false;
            if (need > capacity) {
                capacity = need;
                text = std::make_unique_for_overwrite<char[]>(capacity);
            }
            at = text.get();
        }
        at = type.Put(at, fact.type);
        *at++ = '\t';
        std::memcpy(at, head.data(), head.size());
        at += head.size();
        if (!line.name.empty()) std::memcpy(at, line.name.data(), line.name.size());
        at += line.name.size();
        *at++ = '\t';
        at = size.Put(at, fact.size);
        std::memcpy(at, fact.deleted ? "\t1\t" : "\t0\t", 3);
        at += 3;
        *at++ = fact.directory ? '1' : '0';
        *at++ = '\t';
        at = time.Put(at, fact.time);
        *at++ = '\n';
    }
    const bool written = out.Write(std::string_view(text.get(), size_t(at - text.get())), reason);
    return out.Close(reason) && written;
}

IDataRecovery* ScanSession::RecoveryFor(_tagSearcherType type) {
    auto found = m_recoveries.find(type);
    if (found != m_recoveries.end()) return found->second;
    IDataRecovery* recovery = m_controller->GetDataRecovery(type);
    if (auto* concrete = dynamic_cast<CDataRecovery*>(recovery)) concrete->SetDestinationRoot(m_options.recoverDir.c_str());
    m_recoveries[type] = recovery;
    return recovery;
}

bool ScanSession::RecoverOne(IFileNode* node, int folderFd, const std::string& name, RecoverCounts& counts) {
    IDataRecovery* recovery = RecoveryFor(node->GetSearcheType());
    if (!recovery) return false;
    IFileReader* reader = recovery->SetRecoverNode(node);
    if (reader) reader->Release();
    // Without a reader only an empty file can be written, which is no copy of a file that holds data.
    if (!reader && node->GetFileSize() != 0) return false;
    std::string chosen;
    const int file = CreateFreeFile(folderFd, name, chosen);
    if (file < 0) return false;
    const u64 code = recovery->RecoverToFile(file, folderFd, chosen.c_str(), nullptr, 0);
    bool copied = code == result::kSuccess;
    if (code == recoverycode::kCreatedEmpty) {
        // The data-recovery object has no node for an empty file: it gets its time here, as others do there.
        const i64 created = node->GetCreationTime();
        if (created > 0) CDataRecovery::ChangeFileCreateTs(file, std::time_t(UnixSeconds(created)));
        copied = true;
    }
    if (::close(file) != 0) copied = false;
    if (!copied) {
        // A failed copy leaves nothing behind: a truncated file would pass for the found one.
        ::unlinkat(folderFd, chosen.c_str(), 0);
        return false;
    }
    auto* concrete = dynamic_cast<CDataRecovery*>(recovery);
    if (concrete && concrete->GetUnreadableChunkCount() > 0) ++counts.unreadable;
    return true;
}

bool ScanSession::RecoverAt(int rootFd, const std::vector<std::string>& parts, IFileNode* node, RecoverCounts& counts,
                            OpenFolder& last) {
    if (parts.empty()) return false;
    // Folder by folder from the destination root, or from the last file's folder when this one lies in
    // it or below it, never through a link, one descriptor at a time. A folder removed meanwhile (its
    // link count is 0) is not taken: the walk starts again from the root and makes it anew.
    int fd = -1;
    size_t depth = 0;
    struct stat st {};
    if (last.fd >= 0 && last.names.size() < parts.size() &&
        std::equal(last.names.begin(), last.names.end(), parts.begin()) && ::fstat(last.fd, &st) == 0 &&
        st.st_nlink > 0) {
        fd = std::exchange(last.fd, -1);
        depth = last.names.size();
    } else {
        fd = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    }
    if (last.fd >= 0) ::close(std::exchange(last.fd, -1));
    last.names.clear();
    size_t firstMade = parts.size();
    while (fd >= 0 && depth + 1 < parts.size()) {
        bool made = false;
        const int child = OpenChildFolder(fd, parts[depth], made);
        if (made && firstMade == parts.size()) firstMade = depth;
        if (child < 0) {
            // A folder made but not entered is removed as the others are.
            if (made) ::unlinkat(fd, parts[depth].c_str(), AT_REMOVEDIR);
            break;
        }
        ::close(fd);
        fd = child;
        ++depth;
    }
    const bool copied = fd >= 0 && depth + 1 == parts.size() && RecoverOne(node, fd, parts.back(), counts);
    if (copied) {
        last.fd = fd;
        last.names.assign(parts.begin(), parts.end() - 1);
    } else {
        RemoveMadeFolders(fd, parts, depth, firstMade);
    }
    return copied;
}

bool ScanSession::Recover(RecoverCounts& counts, std::string& reason) {
    counts = {};
    std::string root = m_options.recoverDir;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    const int rootFd = MakeFolders(root) ? ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (rootFd < 0) {
        reason = "cannot create " + root + ": " + std::strerror(errno);
        return false;
    }
    // Files in the order of their paths taken name by name; the names of a file's path are those of
    // its folder, kept from one file to the next, and its own.
    std::vector<IFileNode*> files;
    std::vector<ListLine> lines;
    LastParent parent;
    for (IFileNode* node : m_nodes) {
        if (node->IsDirectory()) continue;
        files.push_back(node);
        lines.push_back(LineOf(node, parent));
    }
    const std::vector<u32> order = TreeOrder(lines, FolderTree{m_folders.parent, m_folders.name}, '\0');
    OpenFolder last;
    PathStack folder('\0');
    u32 partsFolder = kNoFolder - 1;  // none yet
    std::vector<std::string> parts;
    for (const u32 index : order) {
        if (g_stop) {
            counts.interrupted = true;
            break;
        }
        const ListLine& line = lines[index];
        if (line.folder != partsFolder) {
            folder.MoveTo(line.folder, m_folders);
            partsFolder = line.folder;
            parts.resize(folder.Depth() + 1);
            for (size_t level = 0; level < folder.Depth(); ++level) parts[level].assign(folder.Name(level));
        }
        parts.back().assign(line.name);
        ++(RecoverAt(rootFd, parts, files[index], counts, last) ? counts.copied : counts.failed);
    }
    if (last.fd >= 0) ::close(last.fd);
    ::close(rootFd);
    return true;
}

}  // namespace scan
