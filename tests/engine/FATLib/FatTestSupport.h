// Shared by the FAT test programs: the committed FAT images (unpacked once per program), a read-only
// device over an image file, the hostile patch table, the Sleuth Kit listings and a recording tree builder.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Common/ByteReader.h"
#include "engine/Common/IDirecotryTreeBuilder.h"
#include "engine/DeviceRecords/IDeviceData.h"
#include "engine/FATLib/FATFileNode.h"
#include "engine/StorageDevice/IStorageDevice.h"
#include "engine/Utility/IDataRunList.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace fattest {

// The unpacked image "<name>.img" of tests/fixtures/<folder>, made once per test program.
inline std::filesystem::path Image(const std::string& name, const std::string& folder = "fat") {
    static testsupport::TempDir dir;
    static std::map<std::string, std::filesystem::path> done;
    const std::string key = folder + "/" + name;
    auto it = done.find(key);
    if (it != done.end()) return it->second;
    auto path = testsupport::UnpackXz(testsupport::FixturePath(key + ".img.xz"), dir.path());
    done[key] = path;
    return path;
}

// A read-only device over an image file (or a window of it) with any sector size and device type.
class FileDevice : public IStorageDevice {
public:
    FileDevice(const std::filesystem::path& path, u32 sectorSize, u32 type = STORAGE_DEVICE_VOLUME, i64 firstSector = 0,
               i64 sectors = -1)
        : m_sectorSize(sectorSize), m_type(type), m_first(firstSector) {
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const i64 fileSectors = static_cast<i64>(std::filesystem::file_size(path) / sectorSize);
        m_sectors = sectors >= 0 ? sectors : fileSectors - firstSector;
    }
    ~FileDevice() override {
        if (m_fd >= 0) ::close(m_fd);
        delete m_data;
    }
    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, i64 first, i64 count) override {
        ++m_reads;
        if (m_fd < 0 || first < 0 || count < 0 || first + count > m_sectors) return 0;
        if (m_failHook && m_failHook(first, count)) return 0;
        const size_t bytes = static_cast<size_t>(count) * m_sectorSize;
        const ssize_t got = ::pread(m_fd, buffer, bytes, (m_first + first) * static_cast<off_t>(m_sectorSize));
        return got == static_cast<ssize_t>(bytes) ? 1 : 0;
    }
    u32 GetSectorSize() override { return m_sectorSize; }
    i64 GetTotalSectors() override { return m_sectors; }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_data; }
    void SetPrivateData(IStorageDeviceData* data) override {
        delete m_data;
        m_data = data;
    }
    u32 GetType() override { return m_type; }
    u64 GetLastError() override { return 0; }

    // Volume data as device enumeration records it.
    void SetRecordedFileSystem(u32 type) {
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = type;
        record->sectorSize = m_sectorSize;
        record->totalSectors = m_sectors;
        SetPrivateData(CreateVolumeDeviceData(record));
    }
    void SetFailHook(std::function<bool(i64, i64)> hook) { m_failHook = std::move(hook); }
    int Reads() const { return m_reads; }

private:
    int m_fd = -1;
    u32 m_sectorSize;
    u32 m_type;
    i64 m_first;
    i64 m_sectors = 0;
    IStorageDeviceData* m_data = nullptr;
    std::function<bool(i64, i64)> m_failHook;
    int m_reads = 0;
};

struct Patch {
    std::string image;
    u64 offset;
    std::string bytes;  // raw bytes to write
};

// The rows of tests/fixtures/<folder>/<table> (hostile.tsv, or a table of copies in its format), by case.
inline std::map<std::string, std::vector<Patch>> HostilePatches(const std::string& folder = "fat",
                                                                const std::string& table = "hostile.tsv") {
    std::map<std::string, std::vector<Patch>> out;
    std::ifstream in(testsupport::FixturePath(folder + "/" + table));
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, image, offset, pattern;
        if (!std::getline(fields, name, '\t') || !std::getline(fields, image, '\t') ||
            !std::getline(fields, offset, '\t') || !std::getline(fields, pattern, '\t')) {
            continue;
        }
        Patch p{image, std::stoull(offset), {}};
        if (pattern.rfind("zero:", 0) == 0) {
            p.bytes.assign(std::stoul(pattern.substr(5)), '\0');
        } else if (pattern.rfind("fill:", 0) == 0) {
            const u8 value = static_cast<u8>(std::stoul(pattern.substr(5, 2), nullptr, 16));
            p.bytes.assign(std::stoul(pattern.substr(8)), static_cast<char>(value));
        } else if (pattern.rfind("le32-seq:", 0) == 0) {
            // COUNT little-endian 32-bit words counting up from FIRST (a run of FAT32 entries).
            const size_t colon = pattern.find(':', 9);
            const u32 first = static_cast<u32>(std::stoul(pattern.substr(9, colon - 9)));
            const u32 count = static_cast<u32>(std::stoul(pattern.substr(colon + 1)));
            p.bytes.resize(size_t{count} * 4);
            ByteWriter words(reinterpret_cast<u8*>(p.bytes.data()), p.bytes.size());
            for (u32 i = 0; i < count; ++i) words.Le32(size_t{i} * 4, first + i);
        } else {
            for (size_t i = 0; i + 1 < pattern.size(); i += 2) {
                p.bytes.push_back(static_cast<char>(std::stoul(pattern.substr(i, 2), nullptr, 16)));
            }
        }
        out[name].push_back(p);
    }
    return out;
}

// A copy of the case's image with its patches applied, inside dir.
inline std::filesystem::path PatchedImage(const std::string& caseName, const std::filesystem::path& dir,
                                          const std::string& folder = "fat",
                                          const std::string& table = "hostile.tsv") {
    const auto patches = HostilePatches(folder, table).at(caseName);
    const std::string image = patches.front().image;
    const auto source = Image(image.substr(0, image.size() - 4), folder);
    const auto target = dir / (caseName + ".img");
    std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
    std::fstream out(target, std::ios::in | std::ios::out | std::ios::binary);
    for (const Patch& p : patches) {
        out.seekp(static_cast<std::streamoff>(p.offset));
        out.write(p.bytes.data(), static_cast<std::streamsize>(p.bytes.size()));
    }
    return target;
}

struct FlsEntry {
    bool directory = false;
    bool deleted = false;
    std::string inode;
    std::string path;
};

// fls -r -p lines of a fixture, without the virtual files and the volume label.
inline std::vector<FlsEntry> FlsListing(const std::string& name, const std::string& folder = "fat") {
    std::vector<FlsEntry> out;
    std::ifstream in(testsupport::FixturePath(folder + "/" + name + ".fls.txt"));
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const std::string head = line.substr(0, tab);
        FlsEntry e;
        e.path = line.substr(tab + 1);
        if (head[0] == 'v' || head[0] == 'V' || e.path.find("(Volume Label Entry)") != std::string::npos) continue;
        e.directory = head[0] == 'd';
        e.deleted = head.find('*') != std::string::npos;
        e.inode = head.substr(head.rfind(' ') + 1);
        e.inode.pop_back();  // ':'
        out.push_back(e);
    }
    return out;
}

// path -> sha256 of icat's bytes.
inline std::map<std::string, std::string> IcatSums(const std::string& name, const std::string& folder = "fat") {
    std::map<std::string, std::string> out;
    std::ifstream in(testsupport::FixturePath(folder + "/" + name + ".icat.txt"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string inode, sum, path;
        std::getline(fields, inode, '\t');
        std::getline(fields, sum, '\t');
        std::getline(fields, path);
        out[path] = sum;
    }
    return out;
}

// Names compared as the Sleuth Kit shows them: 8.3 names of deleted entries start with "_" there and
// "#" here, and it applies the lower-case flags that this reader leaves alone.
inline std::string Comparable(const std::string& path) {
    std::string out;
    bool componentStart = true;
    for (char c : path) {
        if (componentStart && (c == '_' || c == '#')) {
            out.push_back('?');
        } else {
            out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
        componentStart = c == '/';
    }
    return out;
}

// Stands in for the engine's tree builder: owns what it takes and lists paths by linking node IDs.
class RecordingTreeBuilder : public IDirecotryTreeBuilder {
public:
    ~RecordingTreeBuilder() override {
        for (IFileNode* n : m_nodes) n->Release();
    }
    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override {
        if (node == nullptr || m_searchers.count(type) == 0) return 0;
        if (node->GetCurrentNodeID() == node->GetParentNodeID()) return 0;
        if (m_refuse && m_refuse(node)) return 0;
        m_nodes.push_back(node);
        return 1;
    }
    int AddSearcherInfo(_tagSearcherType type, i64 root) override {
        m_searchers[type] = root;
        return 1;
    }
    void FlashBuild(_tagSearcherType type) override { m_flashes.push_back(type); }
    void Release() override {}
    void SetPartitonDevice(CSearchedPartitionInfo* record, IStorageDevice* device) override {
        m_record = record;
        m_device = device;
        ++m_partitionCalls;
    }

    struct Listed {
        std::string path;
        i64 size;
        bool deleted;
        bool directory;
        IFileNode* node;
    };
    // Every node with its path from the root (folders linked by their IDs; a searcher's root ID, or 0,
    // ends a path).
    std::vector<Listed> List() const {
        std::map<i64, IFileNode*> folders;
        for (IFileNode* n : m_nodes) {
            if (n->IsDirectory()) folders.emplace(n->GetCurrentNodeID(), n);
        }
        auto isRoot = [this](i64 id) {
            if (id == 0) return true;
            for (const auto& [type, root] : m_searchers) {
                if (root == id) return true;
            }
            return false;
        };
        std::vector<Listed> out;
        for (IFileNode* n : m_nodes) {
            std::string path = n->GetFileName() ? n->GetFileName() : "";
            i64 parent = n->GetParentNodeID();
            for (int depth = 0; !isRoot(parent) && depth < 64; ++depth) {
                auto it = folders.find(parent);
                if (it == folders.end()) {
                    path = "<lost>/" + path;
                    break;
                }
                path = std::string(it->second->GetFileName()) + "/" + path;
                parent = it->second->GetParentNodeID();
            }
            out.push_back({path, n->GetFileSize(), n->IsDeleted() != 0, n->IsDirectory() != 0, n});
        }
        return out;
    }

    // The list keyed by key(path) (the identity when null).
    std::map<std::string, Listed> ByPath(std::string (*key)(const std::string&) = nullptr) const {
        std::map<std::string, Listed> out;
        for (const auto& l : List()) out.emplace(key ? key(l.path) : l.path, l);
        return out;
    }

    // The nodes of a deep scan by partition (the node's own, -1 for none) and key(path): folders are linked
    // by (partition, ID) up to the volumes' root ID; "<lost>/" stands in front when a parent is missing.
    std::map<int, std::map<std::string, Listed>> ByPartition(i64 rootId,
                                                             std::string (*key)(const std::string&) = nullptr) const {
        auto partitionOf = [](IFileNode* n) {
            auto* node = dynamic_cast<CFileNode*>(n);
            return node ? int(node->GetBelongedPartition()) : -1;
        };
        std::map<std::pair<int, i64>, IFileNode*> folders;
        for (IFileNode* n : m_nodes) {
            if (n->IsDirectory()) folders.emplace(std::make_pair(partitionOf(n), n->GetCurrentNodeID()), n);
        }
        std::map<int, std::map<std::string, Listed>> out;
        for (IFileNode* n : m_nodes) {
            const int p = partitionOf(n);
            std::string path = n->GetFileName() ? n->GetFileName() : "";
            i64 parent = n->GetParentNodeID();
            for (int depth = 0; parent != rootId && depth < 64; ++depth) {
                auto it = folders.find({p, parent});
                if (it == folders.end()) {
                    path = "<lost>/" + path;
                    break;
                }
                path = std::string(it->second->GetFileName()) + "/" + path;
                parent = it->second->GetParentNodeID();
            }
            out[p].emplace(key ? key(path) : path,
                           Listed{path, n->GetFileSize(), n->IsDeleted() != 0, n->IsDirectory() != 0, n});
        }
        return out;
    }

    std::function<bool(IFileNode*)> m_refuse;
    std::vector<IFileNode*> m_nodes;
    std::map<u32, i64> m_searchers;
    std::vector<u32> m_flashes;
    CSearchedPartitionInfo* m_record = nullptr;
    IStorageDevice* m_device = nullptr;
    int m_partitionCalls = 0;
};

// One line a listing must hold: the node at path with this size and deleted mark.
struct WantListed {
    const char* path;
    i64 size;
    bool deleted;
};
template <class Listing>
void ExpectListed(const Listing& ours, std::initializer_list<WantListed> wants) {
    for (const WantListed& w : wants) {
        SCOPED_TRACE(w.path);
        auto it = ours.find(w.path);
        ASSERT_NE(it, ours.end());
        EXPECT_EQ(it->second.size, w.size);
        EXPECT_EQ(it->second.deleted, w.deleted);
    }
}

// The bytes of a node read through its data runs (cluster 0 sector and cluster size from the record).
inline bool ReadThroughRuns(IStorageDevice* device, const CSearchedPartitionInfo& record, IFileNode* node,
                            std::string& out) {
    out.clear();
    auto* fileNode = dynamic_cast<CFileNode*>(node);
    const i64 size = node->GetFileSize();
    if (size == 0) return true;
    IDataRunList* runs = fileNode != nullptr ? fileNode->GetDataRunList() : nullptr;
    if (runs == nullptr) return false;
    const u64 clusterBytes = u64{record.m_sectorsPerCluster} * device->GetSectorSize();
    std::vector<char> buffer(clusterBytes);
    for (DataRun* r = runs->GetFirst(); r != nullptr && static_cast<i64>(out.size()) < size; r = runs->GetNext()) {
        for (u64 i = 0; i < r->length && static_cast<i64>(out.size()) < size; ++i) {
            const i64 sector = record.m_cluster0Sector + (r->start + static_cast<i64>(i)) * record.m_sectorsPerCluster;
            if (device->ReadSector(buffer.data(), sector, record.m_sectorsPerCluster) == 0) return false;
            out.append(buffer.data(), clusterBytes);
        }
    }
    if (static_cast<i64>(out.size()) < size) return false;
    out.resize(static_cast<size_t>(size));
    return true;
}

}  // namespace fattest
