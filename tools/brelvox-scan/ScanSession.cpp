#include "ScanSession.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "FileTypeCatalogue.h"
#include "engine/Common/IRecoveryFilter.h"
#include "engine/Common/ResultCode.h"
#include "engine/DataRecovery/DataRecovery.h"
#include "engine/DataRecovery/DataRecoveryCodes.h"
#include "engine/DataRecovery/IFileReader.h"
#include "engine/EnumDevice/IDeviceData.h"
#include "engine/RecoveryController/IRecoveryController.h"
#include "engine/StorageDevice/StorageDeviceFactory.h"
#include "engine/Utility/FileNode.h"
#include "engine/VolumeAnalyze/VolumeAnalyzeController.h"

namespace scan {

namespace {

// Writes every byte of text to fd, through short writes and interruptions.
bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

namespace {

std::atomic<bool> g_stop{false};

i64 UnixSeconds(_FILETIME t) { return t > 0 ? t / 10000000 - 11644473600LL : 0; }

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A found name as one safe path component: no "/" inside, never "", "." or "..".
std::string SafeComponent(const char* name) {
    std::string out = name ? name : "";
    std::replace(out.begin(), out.end(), '/', '_');
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    return out;
}

bool MakeFolders(const std::string& path) {
    // Every prefix that ends before a "/", then the whole path.
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

// The path itself when nothing is there, else the first free "name_NNNN.ext".
std::string FreePath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return path;
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const bool hasExt = dot != std::string::npos && dot > slash + 1;
    const std::string stem = hasExt ? path.substr(0, dot) : path;
    const std::string ext = hasExt ? path.substr(dot) : "";
    for (int n = 1; n < 10000; ++n) {
        char counter[16];
        std::snprintf(counter, sizeof counter, "_%04d", n);
        const std::string candidate = stem + counter + ext;
        if (::lstat(candidate.c_str(), &st) != 0) return candidate;
    }
    return "";
}

std::string Describe(u64 code) {
    switch (result::KindOf(code)) {
        case 0x401: return "no quick search for this file system";
        case 0x402: return "no deep searcher is available";
        case 0x404: return "a whole disk cannot be scanned quickly";
        default: break;
    }
    char text[64];
    std::snprintf(text, sizeof text, "scan failed (code 0x%016llx)", static_cast<unsigned long long>(code));
    return text;
}

}  // namespace

void RequestStop(int) { g_stop = true; }

ScanSession::ScanSession(Options options) : m_options(std::move(options)) {}

ScanSession::~ScanSession() {
    for (auto& entry : m_recoveries)
        if (entry.second) entry.second->Release();
    if (m_controller) m_controller->Release();
}

bool ScanSession::OpenSource(std::string& reason) {
    const char* path = m_options.source.c_str();
    struct stat st {};
    if (::stat(path, &st) != 0) {
        reason = "cannot open " + m_options.source + ": " + std::strerror(errno);
        return false;
    }
    m_device.reset(m_options.quick ? CreateVolumeDevice(path) : CreateDiskDevice(path));
    if (!m_device || !m_device->Open(path)) {
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

    std::unique_ptr<CVolumeAnalyzeController> analyzers(CreateVolumeAnalyzeController(m_device.get(), 0));
    IVolumeAnalyze* found = analyzers ? analyzers->GetVolumeAnzlyzer() : nullptr;
    if (!found) {
        reason = "unknown file system on " + m_options.source;
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
        reason = catalogueReason;
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
    const u64 code = m_controller->StartDataRecovery(m_device.get(), this, this);
    if (m_options.showProgress) std::fprintf(stderr, "\n");
    if (result::IsFailure(code)) {
        reason = Describe(code);
        return false;
    }
    return true;
}

int ScanSession::UpdateProgress(_PROGRESS_INFO* record) {
    if (!m_options.showProgress || !record) return 1;
    const double share = record->total ? 100.0 * double(record->current) / double(record->total) : 0.0;
    std::fprintf(stderr, "\rscanning %5.1f%%  found %zu", share, m_nodes.size());
    return 1;
}

int ScanSession::Continued() { return g_stop ? 0 : 1; }

void ScanSession::ShowNodes(IFileNode** nodes, u32 count, int) {
    for (u32 i = 0; nodes && i < count; ++i) {
        if (nodes[i] && m_seen.insert(nodes[i]).second) m_nodes.push_back(nodes[i]);
    }
}

void ScanSession::ShowFilesystemNode(IFilesystemNode*) {}

std::string ScanSession::PathOf(IFileNode* node) const {
    std::vector<std::string> names;
    for (IFileNode* at = node; at; at = at->GetParent()) names.push_back(at->GetFileName() ? at->GetFileName() : "");
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += (path.empty() ? "" : "/") + *it;
    return path;
}

bool ScanSession::WriteList(std::string& reason) {
    struct Line {
        std::string path;
        std::string text;
    };
    std::vector<Line> lines;
    for (IFileNode* node : m_nodes) {
        const std::string path = PathOf(node);
        char fields[160];
        std::snprintf(fields, sizeof fields, "\t%lld\t%u\t%u\t%lld\n", static_cast<long long>(node->GetFileSize()),
                      node->IsDeleted() ? 1u : 0u, node->IsDirectory() ? 1u : 0u,
                      static_cast<long long>(UnixSeconds(node->GetModificationTime())));
        lines.push_back({path, std::to_string(u32(node->GetSearcheType())) + "\t" + path + fields});
    }
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.path < b.path; });
    std::string text;
    for (const Line& line : lines) text += line.text;
    if (m_options.listPath == "-") {
        if (!WriteAll(m_options.standardOutputFd, text)) {
            reason = "cannot write the list to standard output";
            return false;
        }
        return true;
    }
    std::ofstream file(m_options.listPath, std::ios::binary | std::ios::trunc);
    file << text;
    file.flush();
    if (!file) {
        reason = "cannot write " + m_options.listPath;
        return false;
    }
    return true;
}

IDataRecovery* ScanSession::RecoveryFor(_tagSearcherType type) {
    auto found = m_recoveries.find(type);
    if (found != m_recoveries.end()) return found->second;
    IDataRecovery* recovery = m_controller->GetDataRecovery(type);
    if (auto* concrete = dynamic_cast<CDataRecovery*>(recovery)) concrete->SetDestinationRoot(m_options.recoverDir.c_str());
    m_recoveries[type] = recovery;
    return recovery;
}

bool ScanSession::Recover(int& copied, int& failed, std::string& reason) {
    copied = failed = 0;
    std::string root = m_options.recoverDir;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (!MakeFolders(root)) {
        reason = "cannot create " + root + ": " + std::strerror(errno);
        return false;
    }
    std::vector<IFileNode*> files;
    for (IFileNode* node : m_nodes)
        if (!node->IsDirectory()) files.push_back(node);
    std::sort(files.begin(), files.end(), [this](IFileNode* a, IFileNode* b) { return PathOf(a) < PathOf(b); });
    for (IFileNode* node : files) {
        if (g_stop) break;
        std::vector<std::string> parts;
        for (IFileNode* at = node; at; at = at->GetParent()) parts.push_back(SafeComponent(at->GetFileName()));
        std::string folder = root;
        for (size_t i = parts.size() - 1; i > 0; --i) folder += "/" + parts[i];
        IDataRecovery* recovery = RecoveryFor(node->GetSearcheType());
        const std::string target = MakeFolders(folder) ? FreePath(folder + "/" + parts[0]) : "";
        if (!recovery || target.empty()) {
            ++failed;
            continue;
        }
        if (IFileReader* reader = recovery->SetRecoverNode(node)) reader->Release();
        const u64 code = recovery->RecoverTo(target.c_str(), nullptr, 0);
        if (code == 0 || code == recoverycode::kCreatedEmpty)
            ++copied;
        else
            ++failed;
    }
    return true;
}

}  // namespace scan
